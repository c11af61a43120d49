// Files found by their content in the clusters the deep pass reads: a candidate at every
// cluster whose first bytes start a known kind of file, measured once the files found by
// structure are known, so that nothing they claim is listed twice.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "content/ContentTypes.h"
#include "fs/DeepPass.h"
#include "records/TypesDefine.h"

namespace restovo {

struct TContentCandidate {
  std::uint64_t Offset = 0;  // on the volume
  const TContentType* Type = nullptr;
};

class TContentDetector final : public TDeepDetector {
 public:
  // Files start on a cluster: only the first bytes of each unit are looked at.
  explicit TContentDetector(std::uint32_t unitBytes);
  void Inspect(std::uint64_t offset, TBytes block) override;
  std::vector<TContentCandidate> Take() { return std::move(Candidates); }

 private:
  const std::uint32_t Unit;
  std::vector<TContentCandidate> Candidates;
};

// A volume's bytes from one offset on, for a content parser.
class TVolumeSource final : public TByteSource {
 public:
  TVolumeSource(const TVolumeHandle& volume, std::uint64_t start);
  std::uint64_t Size() const override { return Length; }
  std::size_t Read(std::uint64_t at, std::span<std::byte> out) override;

 private:
  const TVolumeHandle& Volume;
  const std::uint64_t Start;
  const std::uint64_t Length;
};

// The bytes of the volume's ranges one after the other, for a content parser.
class TRangesSource final : public TByteSource {
 public:
  TRangesSource(const TVolumeHandle& volume, std::vector<TByteRange> ranges);
  std::uint64_t Size() const override { return Length; }
  std::size_t Read(std::uint64_t at, std::span<std::byte> out) override;
  const std::vector<TByteRange>& Ranges() const { return Pieces; }

 private:
  const TVolumeHandle& Volume;
  std::vector<TByteRange> Pieces;
  std::vector<std::uint64_t> Starts;  // where each piece begins in the source
  std::uint64_t Length = 0;
};

struct TCarvedFile {
  std::uint64_t Offset = 0;
  const TContentType* Type = nullptr;
  TContentMeasure Measure;
  // Where the file went on past clusters in use: its pieces on the volume, the first at
  // Offset. Empty when it lies in one stretch.
  std::vector<TByteRange> Pieces;
};

// One candidate measured from the volume: in one stretch, or past the clusters in use
// (see MeasureCandidates).
TCarvedFile MeasureCandidate(const TVolumeHandle& volume, const TContentCandidate& candidate,
                             const std::vector<TByteRange>& free);

// The candidates measured in the order of their offsets. A candidate inside `claimed`
// (sorted, merged: the bytes found files claim) or inside a file measured before it (a
// picture inside an archive) is not measured; one that is no file, or whose structure runs
// past the end of the volume, is dropped.
//
// `free` (sorted, merged; empty when not known) is the space no live file holds. A file was
// written into free clusters, passing over those in use then, as a file system allocates:
// where a file's structure does not hold in one stretch but does when the clusters in use
// are passed over, it is taken so, in pieces. One whose structure holds only over bytes a
// live file holds now is Damaged: those bytes are the live file's.
std::vector<TCarvedFile> MeasureCandidates(const TVolumeHandle& volume, std::vector<TContentCandidate> candidates,
                                           const std::vector<TByteRange>& claimed,
                                           const std::vector<TByteRange>& free,
                                           const std::function<bool()>& stopRequested);

// Where a file found by its content lies, and what its check found.
struct TCarvedDataInfo final : TFsRecord {
  std::uint64_t Offset = 0;
  std::vector<TByteRange> Pieces;  // empty: one stretch from Offset
  TContentVerdict Verdict = TContentVerdict::Whole;
  std::string Reason;  // empty when the content checked out
};

}  // namespace restovo
