// One NTFS compression unit over arbitrary compressed bytes.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <vector>

#include "fs/ntfs/Lznt1.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  using namespace restovo;
  const std::span<const std::byte> in(reinterpret_cast<const std::byte*>(data), size);
  // Exactly the unit's size on the heap, so the sanitizer sees any write past it.
  std::vector<std::byte> unit(16 * Lznt1ChunkSize, std::byte{0xA5});
  const bool ok = DecompressNtfsUnit(in, unit);
  const TLznt1Result result = Lznt1Decompress(in, unit);
  // Both walk the same chunks; the unit call only adds the zeros behind them.
  if (result.Ok != ok || result.Written > unit.size()) std::abort();
  return 0;
}
