#include "content/ByteSource.h"

#include <algorithm>
#include <cstring>

namespace restovo {

std::size_t TMemorySource::Read(std::uint64_t at, std::span<std::byte> out) {
  if (at >= Bytes.size()) return 0;
  const std::size_t n = static_cast<std::size_t>(std::min<std::uint64_t>(out.size(), Bytes.size() - at));
  std::memcpy(out.data(), Bytes.data() + at, n);
  return n;
}

TSourceReader::TSourceReader(TByteSource& source) : Source(source), SourceSize(source.Size()) {}

bool TSourceReader::Load(std::uint64_t at, std::size_t n) {
  if (n > kWindow || at > SourceSize || n > SourceSize - at) return false;
  if (at >= WindowAt && at + n <= WindowAt + WindowLength) return true;
  Window.resize(kWindow);
  const std::size_t want = static_cast<std::size_t>(std::min<std::uint64_t>(kWindow, SourceSize - at));
  WindowAt = at;
  WindowLength = Source.Read(at, std::span<std::byte>(Window.data(), want));
  return n <= WindowLength;
}

bool TSourceReader::Has(std::uint64_t at, std::uint64_t n) {
  if (at > SourceSize || n > SourceSize - at) return false;
  if (n == 0) return true;
  // A long stretch is looked at at its last byte: the source ends or breaks before that.
  return Load(at + n - 1, 1);
}

TBytes TSourceReader::Span(std::uint64_t at, std::size_t n) {
  if (n > kMaxSpan || !Load(at, n)) return {};
  return TBytes(Window.data() + (at - WindowAt), n);
}

std::uint8_t TSourceReader::U8(std::uint64_t at) {
  const TBytes b = Span(at, 1);
  return b.empty() ? 0 : static_cast<std::uint8_t>(b[0]);
}

std::uint16_t TSourceReader::U16Le(std::uint64_t at) { return ReadU16(Span(at, 2), 0); }
std::uint32_t TSourceReader::U32Le(std::uint64_t at) { return ReadU32(Span(at, 4), 0); }
std::uint64_t TSourceReader::U64Le(std::uint64_t at) { return ReadU64(Span(at, 8), 0); }

std::uint16_t TSourceReader::U16Be(std::uint64_t at) {
  const TBytes b = Span(at, 2);
  return static_cast<std::uint16_t>(ReadU8(b, 0) << 8 | ReadU8(b, 1));
}

std::uint32_t TSourceReader::U32Be(std::uint64_t at) {
  const TBytes b = Span(at, 4);
  return static_cast<std::uint32_t>(ReadU8(b, 0)) << 24 | static_cast<std::uint32_t>(ReadU8(b, 1)) << 16 |
         static_cast<std::uint32_t>(ReadU8(b, 2)) << 8 | ReadU8(b, 3);
}

bool TSourceReader::Equals(std::uint64_t at, std::string_view text) {
  const TBytes b = Span(at, text.size());
  return !b.empty() && std::memcmp(b.data(), text.data(), text.size()) == 0;
}

std::optional<std::uint64_t> TSourceReader::FindByte(std::uint64_t from, std::uint64_t limit, std::uint8_t value) {
  limit = std::min(limit, SourceSize);
  while (from < limit) {
    if (!Load(from, 1)) return std::nullopt;
    const std::size_t n = static_cast<std::size_t>(std::min<std::uint64_t>(WindowAt + WindowLength, limit) - from);
    const std::byte* start = Window.data() + (from - WindowAt);
    if (const void* hit = std::memchr(start, value, n))
      return from + static_cast<std::uint64_t>(static_cast<const std::byte*>(hit) - start);
    from += n;
  }
  return std::nullopt;
}

std::optional<std::uint64_t> TSourceReader::Find(std::uint64_t from, std::uint64_t limit, std::string_view text) {
  if (text.empty()) return from;
  while (const auto hit = FindByte(from, limit, static_cast<std::uint8_t>(text[0]))) {
    if (Equals(*hit, text)) return hit;
    from = *hit + 1;
  }
  return std::nullopt;
}

}  // namespace restovo
