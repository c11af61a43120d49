#include "fs/ContentVerdict.h"

#include <algorithm>

namespace restovo {

TPiecesSource::TPiecesSource(const TVolumeHandle& volume, const std::vector<std::int64_t>& pieces,
                             std::uint32_t pieceBytes, std::uint64_t size)
    : Volume(volume), Pieces(pieces), PieceBytes(std::max<std::uint32_t>(pieceBytes, 1)),
      Length(std::min<std::uint64_t>(size, static_cast<std::uint64_t>(pieces.size()) * PieceBytes)) {}

std::size_t TPiecesSource::Read(std::uint64_t at, std::span<std::byte> out) {
  std::size_t done = 0;
  while (done < out.size() && at < Length) {
    const std::uint64_t piece = at / PieceBytes, within = at % PieceBytes;
    const auto n = static_cast<std::uint32_t>(
        std::min<std::uint64_t>({out.size() - done, PieceBytes - within, Length - at}));
    const std::uint32_t got =
        ReadVolume(Volume, out.data() + done, n, static_cast<std::uint64_t>(Pieces[piece]) + within);
    done += got;
    at += got;
    if (got < n) break;
  }
  return done;
}

void RateByContent(TFileInfo* item, TByteSource& bytes) {
  const TContentCheck check = CheckContent(bytes, item->Name);
  if (!check.Checked) return;
  if (check.Passed && check.Exact) {
    item->State = rsGood;
  } else {
    item->State = rsLost;
    item->Damage |= rdContentFailed;
  }
}

}  // namespace restovo
