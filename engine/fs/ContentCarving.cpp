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

TRangesSource::TRangesSource(const TVolumeHandle& volume, std::vector<TByteRange> ranges)
    : Volume(volume), Pieces(std::move(ranges)) {
  Starts.reserve(Pieces.size());
  for (const TByteRange& r : Pieces) {
    Starts.push_back(Length);
    Length += r.Length;
  }
}

std::size_t TRangesSource::Read(std::uint64_t at, std::span<std::byte> out) {
  std::size_t done = 0;
  auto piece = std::upper_bound(Starts.begin(), Starts.end(), at);
  while (done < out.size() && at < Length && piece != Starts.begin()) {
    const auto i = static_cast<std::size_t>(std::prev(piece) - Starts.begin());
    const std::uint64_t within = at - Starts[i];
    if (within >= Pieces[i].Length) {
      ++piece;
      continue;
    }
    const auto n = static_cast<std::uint32_t>(
        std::min<std::uint64_t>({out.size() - done, Pieces[i].Length - within, UINT32_MAX}));
    const std::uint32_t got = ReadVolume(Volume, out.data() + done, n, Pieces[i].Start + within);
    done += got;
    at += got;
    if (got < n) break;
    ++piece;
  }
  return done;
}

namespace {

// A file passes over at most this many stretches in use: a bound on the work for each
// candidate on a volume whose free space is in millions of pieces.
constexpr std::size_t kMaxPieces = 64;

// The free space from `offset` on (inside free range `i`), piece by piece, as far as a file
// of the kind may go.
std::vector<TByteRange> FreeFrom(const std::vector<TByteRange>& free, std::size_t i, std::uint64_t offset,
                                 std::uint64_t maxBytes) {
  std::vector<TByteRange> pieces{{offset, free[i].Start + free[i].Length - offset}};
  std::uint64_t total = pieces.back().Length;
  for (++i; i < free.size() && pieces.size() < kMaxPieces && total < maxBytes; ++i) {
    pieces.push_back(free[i]);
    total += free[i].Length;
  }
  return pieces;
}

// The pieces cut to the file's length.
std::vector<TByteRange> CutTo(std::vector<TByteRange> pieces, std::uint64_t length) {
  std::vector<TByteRange> out;
  for (const TByteRange& r : pieces) {
    if (length == 0) break;
    out.push_back({r.Start, std::min(r.Length, length)});
    length -= out.back().Length;
  }
  return out;
}

// The range of `ranges` holding `offset`, or ranges.size().
std::size_t RangeAt(const std::vector<TByteRange>& ranges, std::uint64_t offset) {
  const auto it = std::upper_bound(ranges.begin(), ranges.end(), offset,
                                   [](std::uint64_t o, const TByteRange& r) { return o < r.Start; });
  if (it == ranges.begin() || offset >= std::prev(it)->Start + std::prev(it)->Length) return ranges.size();
  return static_cast<std::size_t>(std::prev(it) - ranges.begin());
}

}  // namespace

TCarvedFile MeasureCandidate(const TVolumeHandle& volume, const TContentCandidate& c,
                             const std::vector<TByteRange>& free) {
  TVolumeSource source(volume, c.Offset);
  TSourceReader reader(source);
  TCarvedFile file{c.Offset, c.Type, c.Type->Measure(reader, c.Type->MaxBytes), {}};
  // Where the stretch of free space it starts in ends: past it lie clusters in use.
  const std::size_t inFree = RangeAt(free, c.Offset);
  const bool pastFree = inFree < free.size() && file.Measure.Verdict == TContentVerdict::Whole &&
                        c.Offset + file.Measure.Length > free[inFree].Start + free[inFree].Length;
  if (inFree < free.size() && inFree + 1 < free.size() && (file.Measure.Verdict != TContentVerdict::Whole || pastFree)) {
    TRangesSource pieces(volume, FreeFrom(free, inFree, c.Offset, c.Type->MaxBytes));
    TSourceReader along(pieces);
    TContentMeasure skipping = c.Type->Measure(along, c.Type->MaxBytes);
    if (skipping.Verdict == TContentVerdict::Whole && skipping.Length > 0) {
      file.Pieces = CutTo(pieces.Ranges(), skipping.Length);
      file.Measure = std::move(skipping);
    } else if (pastFree) {
      file.Measure.Verdict = TContentVerdict::Damaged;
      file.Measure.Reason = "Its bytes run over clusters that a file in use holds now";
    }
  }
  return file;
}

std::vector<TCarvedFile> MeasureCandidates(const TVolumeHandle& volume, std::vector<TContentCandidate> candidates,
                                           const std::vector<TByteRange>& claimed,
                                           const std::vector<TByteRange>& free,
                                           const std::function<bool()>& stopRequested) {
  std::sort(candidates.begin(), candidates.end(),
            [](const TContentCandidate& a, const TContentCandidate& b) { return a.Offset < b.Offset; });
  std::vector<TCarvedFile> out;
  std::uint64_t carvedEnd = 0;  // the end of the last file carved
  for (const TContentCandidate& c : candidates) {
    if (stopRequested && stopRequested()) break;
    if (c.Offset < carvedEnd || RangeAt(claimed, c.Offset) < claimed.size()) continue;
    TCarvedFile file = MeasureCandidate(volume, c, free);
    const TContentMeasure& m = file.Measure;
    // A structure that runs past the end of the volume (or of the longest file of its
    // kind) was no file of that kind: its sizes were made of other bytes.
    if (m.Verdict == TContentVerdict::NotThisType || m.Verdict == TContentVerdict::Truncated || m.Length == 0)
      continue;
    carvedEnd = file.Pieces.empty() ? c.Offset + m.Length : file.Pieces.back().Start + file.Pieces.back().Length;
    out.push_back(std::move(file));
  }
  return out;
}

}  // namespace restovo
