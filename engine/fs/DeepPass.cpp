#include "fs/DeepPass.h"

#include <algorithm>
#include <chrono>

namespace restovo {

std::vector<TByteRange> RangesOfUnits(std::uint64_t first, std::uint64_t count, std::uint64_t base,
                                      std::uint64_t unitBytes, std::uint64_t end,
                                      const std::function<bool(std::uint64_t)>& wanted) {
  std::vector<TByteRange> out;
  if (unitBytes == 0 || base >= end) return out;
  count = std::min(count, (end - base + unitBytes - 1) / unitBytes);
  for (std::uint64_t k = first; k < first + count; ++k) {
    if (!wanted(k)) continue;
    const std::uint64_t start = base + (k - first) * unitBytes;
    if (!out.empty() && out.back().Start + out.back().Length == start) out.back().Length += unitBytes;
    else out.push_back({start, unitBytes});
  }
  return out;
}

std::vector<TByteRange> MergeRanges(std::vector<TByteRange> ranges) {
  std::erase_if(ranges, [](const TByteRange& r) { return r.Length == 0; });
  std::sort(ranges.begin(), ranges.end(), [](const TByteRange& a, const TByteRange& b) { return a.Start < b.Start; });
  std::vector<TByteRange> out;
  for (const TByteRange& r : ranges) {
    if (!out.empty() && r.Start <= out.back().Start + out.back().Length) {
      TByteRange& last = out.back();
      last.Length = std::max(last.Start + last.Length, r.Start + r.Length) - last.Start;
    } else {
      out.push_back(r);
    }
  }
  return out;
}

TDeepPass::TDeepPass(const TVolumeHandle& volume, std::uint32_t unitBytes)
    : Volume(volume), Unit(std::max<std::uint32_t>(unitBytes, 512)) {}

TDeepPassReport TDeepPass::Run(const std::vector<TByteRange>& ranges) {
  const auto started = std::chrono::steady_clock::now();
  TDeepPassReport report = RunRanges(ranges);
  report.Seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - started).count();
  return report;
}

TDeepPassReport TDeepPass::RunRanges(const std::vector<TByteRange>& ranges) {
  TDeepPassReport report;
  // Only what lies on the volume is read; the rest of a range does not exist.
  std::vector<TByteRange> onVolume;
  for (const TByteRange& r : ranges) {
    if (r.Start >= Volume.Size() || r.Length == 0) continue;
    onVolume.push_back({r.Start, std::min(r.Length, Volume.Size() - r.Start)});
    report.BytesToRead += onVolume.back().Length;
  }
  // A block holds whole units; a unit larger than a block is read as one block.
  const std::uint32_t block = std::max(kBlockBytes / Unit * Unit, Unit);
  Buffer.resize(block);
  std::uint64_t done = 0;
  for (const TByteRange& r : onVolume) {
    for (std::uint64_t at = r.Start; at < r.Start + r.Length;) {
      if (StopRequested && StopRequested()) {
        report.Stopped = true;
        return report;
      }
      const auto length = static_cast<std::uint32_t>(std::min<std::uint64_t>(block, r.Start + r.Length - at));
      ReadAndInspect(at, length, report);
      at += length;
      done += length;
      if (OnProgress) OnProgress(done, report.BytesToRead);
    }
  }
  return report;
}

void TDeepPass::ReadAndInspect(std::uint64_t offset, std::uint32_t length, TDeepPassReport& report) {
  const std::uint64_t failedBefore = Volume.FailedReads(), unreadBefore = Volume.UnreadBytes();
  if (ReadVolumeExact(Volume, Buffer.data(), length, offset) == TReadResult::Ok) {
    report.BytesRead += length;
    Inspect(offset, 0, length);
    return;
  }
  // Only the retry's failures count: the block's own failed read is taken back.
  Volume.SetReadStats(failedBefore, unreadBefore);
  std::uint32_t runStart = 0, runLength = 0;
  for (std::uint32_t at = 0; at < length; at += Unit) {
    const std::uint32_t piece = std::min(Unit, length - at);
    const std::uint32_t got = ReadVolume(Volume, Buffer.data() + at, piece, offset + at);
    report.BytesRead += got;
    if (runLength == 0) runStart = at;
    runLength += got;
    if (got == piece) continue;
    // What a unit that broke off did deliver is still looked at; the rest is skipped.
    ++report.FailedReads;
    report.UnreadBytes += piece - got;
    if (runLength > 0) Inspect(offset + runStart, runStart, runLength);
    runLength = 0;
  }
  if (runLength > 0) Inspect(offset + runStart, runStart, runLength);
}

void TDeepPass::Inspect(std::uint64_t offset, std::uint32_t from, std::uint32_t length) {
  const TBytes bytes = TBytes(Buffer).subspan(from, length);
  for (TDeepDetector* d : Detectors) d->Inspect(offset, bytes);
}

}  // namespace restovo
