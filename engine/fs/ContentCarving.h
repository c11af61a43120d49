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

struct TCarvedFile {
  std::uint64_t Offset = 0;
  const TContentType* Type = nullptr;
  TContentMeasure Measure;
};

// The candidates measured in the order of their offsets. A candidate inside `claimed`
// (sorted, merged: the bytes found files claim) or inside a file measured before it (a
// picture inside an archive) is not measured; one that is no file, or whose structure runs
// past the end of the volume, is dropped.
std::vector<TCarvedFile> MeasureCandidates(const TVolumeHandle& volume, std::vector<TContentCandidate> candidates,
                                           const std::vector<TByteRange>& claimed,
                                           const std::function<bool()>& stopRequested);

// Where a file found by its content lies, and what its check found.
struct TCarvedDataInfo final : TFsRecord {
  std::uint64_t Offset = 0;
  TContentVerdict Verdict = TContentVerdict::Whole;
  std::string Reason;  // empty when the content checked out
};

}  // namespace restovo
