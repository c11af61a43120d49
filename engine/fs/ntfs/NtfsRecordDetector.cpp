#include "fs/ntfs/NtfsRecordDetector.h"

#include <algorithm>
#include <cstring>

#include "fs/ntfs/MftReader.h"
#include "fs/ntfs/NtfsLayout.h"

namespace restovo {

TNtfsRecordDetector::TNtfsRecordDetector(const TNtfsGeometry& geometry, TFound found)
    : Geometry(geometry),
      RecordBytes(static_cast<std::size_t>(std::max<std::int64_t>(geometry.BytesPerRecord, 512))),
      Step(static_cast<std::size_t>(std::clamp<std::int64_t>(geometry.ClusterBytes(), 512, geometry.BytesPerRecord))),
      Found(std::move(found)),
      Scratch(RecordBytes) {}

bool TNtfsRecordDetector::TakeRecord(std::uint64_t at, TBytes bytes) {
  // The check fixes the record up in place: it works on a copy, the block stays as read.
  std::memcpy(Scratch.data(), bytes.data(), RecordBytes);
  if (!CheckFixups(Geometry, Scratch.data(), static_cast<std::int64_t>(RecordBytes))) return false;
  const std::int64_t number = ReadU32(TBytes(Scratch), ntfs::kRecordNumber);
  Found(at, number, Scratch);
  return true;
}

void TNtfsRecordDetector::Inspect(std::uint64_t offset, TBytes block) {
  std::size_t at = 0;
  // A record the last block ended in the middle of (clusters smaller than a record) goes
  // on here when this block follows it.
  if (!Carry.empty()) {
    const std::size_t need = RecordBytes - Carry.size();
    if (offset == CarryEnd && need <= block.size()) {
      Carry.insert(Carry.end(), block.begin(), block.begin() + static_cast<std::ptrdiff_t>(need));
      if (TakeRecord(CarryEnd - (RecordBytes - need), Carry)) at = (need + Step - 1) / Step * Step;
    }
    Carry.clear();
  }
  while (at + 4 <= block.size()) {
    if (std::memcmp(block.data() + at, "FILE", 4) != 0) {
      at += Step;
      continue;
    }
    if (at + RecordBytes > block.size()) {
      Carry.assign(block.begin() + static_cast<std::ptrdiff_t>(at), block.end());
      CarryEnd = offset + block.size();
      return;
    }
    at += TakeRecord(offset + at, block.subspan(at, RecordBytes)) ? RecordBytes : Step;
  }
}

}  // namespace restovo
