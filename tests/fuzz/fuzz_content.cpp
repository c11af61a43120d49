// The content parsers over arbitrary bytes: every type's start test and measure, whatever
// the start says. A measure never reports more bytes than there are, and a truncated file
// is all the bytes there were.
#include <cstddef>
#include <cstdint>

#include "content/ContentTypes.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  using namespace restovo;
  const TBytes bytes(reinterpret_cast<const std::byte*>(data), size);
  for (const TContentType& type : ContentTypes()) {
    if (size >= type.HeadBytes) type.Starts(bytes);
    TMemorySource source(bytes);
    TSourceReader reader(source);
    const TContentMeasure m = type.Measure(reader, type.MaxBytes);
    if (m.Length > size) __builtin_trap();
    if (m.Verdict == TContentVerdict::Truncated && m.Length != size) __builtin_trap();
    if (m.Verdict != TContentVerdict::NotThisType && m.Verdict != TContentVerdict::Whole && m.Reason.empty())
      __builtin_trap();
  }
  return 0;
}
