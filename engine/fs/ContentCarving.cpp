#include "fs/ContentCarving.h"

#include <algorithm>

namespace restovo {

TContentDetector::TContentDetector(std::uint32_t unitBytes) : Unit(std::max<std::uint32_t>(unitBytes, 512)) {}

void TContentDetector::Inspect(std::uint64_t offset, TBytes block) {
  for (std::size_t at = 0; at < block.size(); at += Unit) {
    const TBytes head = block.subspan(at, std::min<std::size_t>(block.size() - at, 64));
    if (const TContentType* type = ContentTypeOf(head)) Candidates.push_back({offset + at, type});
  }
}

TVolumeSource::TVolumeSource(const TVolumeHandle& volume, std::uint64_t start)
    : Volume(volume), Start(start), Length(start < volume.Size() ? volume.Size() - start : 0) {}

std::size_t TVolumeSource::Read(std::uint64_t at, std::span<std::byte> out) {
  if (at >= Length) return 0;
  const auto n = static_cast<std::uint32_t>(std::min<std::uint64_t>({out.size(), Length - at, UINT32_MAX}));
  return ReadVolume(Volume, out.data(), n, Start + at);
}

std::vector<TCarvedFile> MeasureCandidates(const TVolumeHandle& volume, std::vector<TContentCandidate> candidates,
                                           const std::vector<TByteRange>& claimed,
                                           const std::function<bool()>& stopRequested) {
  std::sort(candidates.begin(), candidates.end(),
            [](const TContentCandidate& a, const TContentCandidate& b) { return a.Offset < b.Offset; });
  std::vector<TCarvedFile> out;
  std::uint64_t carvedEnd = 0;  // the end of the last file carved
  auto claimedAt = [&](std::uint64_t offset) {
    const auto it = std::upper_bound(claimed.begin(), claimed.end(), offset,
                                     [](std::uint64_t o, const TByteRange& r) { return o < r.Start; });
    return it != claimed.begin() && offset < std::prev(it)->Start + std::prev(it)->Length;
  };
  for (const TContentCandidate& c : candidates) {
    if (stopRequested && stopRequested()) break;
    if (c.Offset < carvedEnd || claimedAt(c.Offset)) continue;
    TVolumeSource source(volume, c.Offset);
    TSourceReader reader(source);
    TContentMeasure m = c.Type->Measure(reader, c.Type->MaxBytes);
    // A structure that runs past the end of the volume (or of the longest file of its
    // kind) was no file of that kind: its sizes were made of other bytes.
    if (m.Verdict == TContentVerdict::NotThisType || m.Verdict == TContentVerdict::Truncated || m.Length == 0)
      continue;
    carvedEnd = c.Offset + m.Length;
    out.push_back({c.Offset, c.Type, std::move(m)});
  }
  return out;
}

}  // namespace restovo
