// The deep pass: one sequential read of chosen ranges of a volume, in large blocks, each
// block handed to every detector that looks for structures or contents in it.
#pragma once

#include <cstdint>
#include <functional>
#include <vector>

#include "io/ByteOrder.h"
#include "io/VolumeAccess.h"

namespace restovo {

// Bytes [Start, Start + Length) of a volume.
struct TByteRange {
  std::uint64_t Start = 0;
  std::uint64_t Length = 0;
};

// Sorted, merged ranges of the units [first, first + count) that `wanted` accepts, for
// units of `unitBytes` from `base`: the free clusters of a volume as byte ranges. Units
// from `end` on (the device's size) are not looked at: a count taken from a damaged boot
// sector may be billions past the device, and nothing lies there to read.
std::vector<TByteRange> RangesOfUnits(std::uint64_t first, std::uint64_t count, std::uint64_t base,
                                      std::uint64_t unitBytes, std::uint64_t end,
                                      const std::function<bool(std::uint64_t)>& wanted);

// `ranges` sorted by start, with ranges that overlap or touch made one.
std::vector<TByteRange> MergeRanges(std::vector<TByteRange> ranges);

class TDeepDetector {
 public:
  virtual ~TDeepDetector() = default;
  // A block read at volume offset `offset`; it starts on a unit of the pass and holds
  // whole units, except where a read broke off: then it ends with the part delivered. A
  // detector keeps what it finds and returns quickly.
  virtual void Inspect(std::uint64_t offset, TBytes block) = 0;
};

// What one pass read.
struct TDeepPassReport {
  std::uint64_t BytesToRead = 0;
  std::uint64_t BytesRead = 0;
  std::uint64_t UnreadBytes = 0;  // bytes that could not be read, skipped
  std::uint64_t FailedReads = 0;
  bool Stopped = false;
  double Seconds = 0;  // the pass's own time, reading and detecting
};

class TDeepPass {
 public:
  // unitBytes: the smallest piece a failed read is retried in (a cluster, a sector); blocks
  // start on a unit.
  TDeepPass(const TVolumeHandle& volume, std::uint32_t unitBytes);

  void AddDetector(TDeepDetector* detector) { Detectors.push_back(detector); }
  // Checked between blocks: a stop ends the pass within one block's read.
  std::function<bool()> StopRequested;
  // Bytes done of bytes to do, after each block.
  std::function<void(std::uint64_t done, std::uint64_t total)> OnProgress;

  TDeepPassReport Run(const std::vector<TByteRange>& ranges);

  static constexpr std::uint32_t kBlockBytes = 1u << 20;

 private:
  TDeepPassReport RunRanges(const std::vector<TByteRange>& ranges);
  // Reads [offset, offset + length) into Buffer; a block that fails is read again unit by
  // unit, and what a unit does not deliver is skipped and counted. Detectors see what was read.
  void ReadAndInspect(std::uint64_t offset, std::uint32_t length, TDeepPassReport& report);
  // Hands Buffer[from, from + length), read at volume offset `offset`, to every detector.
  void Inspect(std::uint64_t offset, std::uint32_t from, std::uint32_t length);

  const TVolumeHandle& Volume;
  const std::uint32_t Unit;
  std::vector<TDeepDetector*> Detectors;
  std::vector<std::byte> Buffer;
};

}  // namespace restovo
