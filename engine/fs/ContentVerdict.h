// A found file's bytes held against its kind: where two deleted files claim the same
// clusters, the table cannot tell whose bytes are there, but the bytes can.
#pragma once

#include <cstdint>
#include <vector>

#include "content/ContentTypes.h"
#include "io/VolumeAccess.h"
#include "records/TypesDefine.h"

namespace restovo {

// The bytes of a found file along its pieces: byte offsets on the volume of `pieceBytes`
// each, the last one cut at the file's size.
class TPiecesSource final : public TByteSource {
 public:
  TPiecesSource(const TVolumeHandle& volume, const std::vector<std::int64_t>& pieces, std::uint32_t pieceBytes,
                std::uint64_t size);
  std::uint64_t Size() const override { return Length; }
  std::size_t Read(std::uint64_t at, std::span<std::byte> out) override;

 private:
  const TVolumeHandle& Volume;
  const std::vector<std::int64_t>& Pieces;
  const std::uint32_t PieceBytes;
  const std::uint64_t Length;
};

// For a deleted file whose verdict the clusters leave in doubt (another deleted file claims
// them too, or clusters in use lie among them): Good when its bytes are a whole file of
// its kind that ends where it does, Lost when they are not its kind or break off (other
// bytes took their place), unchanged for a kind no parser knows.
void RateByContent(TFileInfo* item, TByteSource& bytes);

}  // namespace restovo
