#include "fs/ntfs/Lznt1.h"

#include <algorithm>
#include <bit>

#include "io/ByteOrder.h"

namespace restovo {
namespace {

constexpr std::uint16_t ChunkIsCompressed = 0x8000;
constexpr std::uint16_t ChunkSizeMask = 0x0FFF;

// `out` is the chunk's own window, so a back-reference can neither reach into the
// previous chunk nor spill into the next one.
TLznt1Result DecodeChunk(TBytes body, std::span<std::byte> out) {
  std::size_t in = 0;
  std::size_t pos = 0;
  while (in < body.size()) {
    const std::uint8_t flags = ReadU8(body, in++);
    for (unsigned bit = 0; bit < 8 && in < body.size(); ++bit) {
      if (((flags >> bit) & 1u) == 0) {
        if (pos >= out.size()) return {pos, false};
        out[pos++] = body[in++];
        continue;
      }
      if (body.size() - in < 2 || pos == 0) return {pos, false};
      const std::uint16_t token = ReadU16(body, in);
      in += 2;
      // The offset field is just wide enough for the farthest byte already decoded in
      // this chunk; the bits it does not need go to the length.
      const int offsetBits = std::max(4, static_cast<int>(std::bit_width(pos - 1)));
      const int lengthBits = 16 - offsetBits;
      const std::size_t offset = (static_cast<std::size_t>(token) >> lengthBits) + 1;
      const std::size_t length = (token & ((1u << lengthBits) - 1u)) + 3u;
      if (offset > pos || length > out.size() - pos) return {pos, false};
      // Byte by byte on purpose: a length past the offset repeats the bytes just written.
      for (std::size_t i = 0; i < length; ++i, ++pos) out[pos] = out[pos - offset];
    }
  }
  return {pos, true};
}

}  // namespace

TLznt1Result Lznt1Decompress(std::span<const std::byte> in, std::span<std::byte> out) {
  std::size_t at = 0;
  std::size_t chunkStart = 0;
  std::size_t written = 0;
  while (chunkStart < out.size() && in.size() - at >= 2) {
    const std::uint16_t header = ReadU16(in, at);
    if (header == 0) break;
    at += 2;
    const std::size_t bodySize = (header & ChunkSizeMask) + 1u;
    if (bodySize > in.size() - at) return {written, false};
    const TBytes body = in.subspan(at, bodySize);
    at += bodySize;

    std::fill(out.begin() + written, out.begin() + chunkStart, std::byte{0});
    written = chunkStart;
    const std::span<std::byte> window =
        out.subspan(chunkStart, std::min(Lznt1ChunkSize, out.size() - chunkStart));
    if ((header & ChunkIsCompressed) != 0) {
      const TLznt1Result chunk = DecodeChunk(body, window);
      written += chunk.Written;
      if (!chunk.Ok) return {written, false};
    } else {
      if (bodySize > window.size()) return {written, false};
      std::copy(body.begin(), body.end(), window.begin());
      written += bodySize;
    }
    chunkStart += Lznt1ChunkSize;
  }
  return {written, true};
}

bool DecompressNtfsUnit(std::span<const std::byte> compressed, std::span<std::byte> unit) {
  const TLznt1Result result = Lznt1Decompress(compressed, unit);
  std::fill(unit.begin() + result.Written, unit.end(), std::byte{0});
  return result.Ok;
}

std::optional<TUnitKind> ClassifyCompressionUnit(std::span<const TUnitPiece> pieces,
                                                 std::uint64_t unitClusters) {
  std::uint64_t allocated = 0;
  std::uint64_t sparse = 0;
  for (const TUnitPiece& piece : pieces) {
    if (piece.Clusters == 0) continue;
    if (piece.Clusters > unitClusters - allocated - sparse) return std::nullopt;
    if (piece.Lcn < 0) {
      sparse += piece.Clusters;
    } else {
      if (sparse != 0) return std::nullopt;
      allocated += piece.Clusters;
    }
  }
  if (unitClusters == 0 || allocated + sparse != unitClusters) return std::nullopt;
  if (allocated == 0) return TUnitKind::Sparse;
  if (sparse == 0) return TUnitKind::Raw;
  return TUnitKind::Compressed;
}

}  // namespace restovo
