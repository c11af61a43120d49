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

void TNtfsRecordDetector::Inspect(std::uint64_t offset, TBytes block) {
  for (std::size_t at = 0; at + RecordBytes <= block.size();) {
    if (std::memcmp(block.data() + at, "FILE", 4) != 0) {
      at += Step;
      continue;
    }
    // The check fixes the record up in place: it works on a copy, the block stays as read.
    std::memcpy(Scratch.data(), block.data() + at, RecordBytes);
    if (!CheckFixups(Geometry, Scratch.data(), static_cast<std::int64_t>(RecordBytes))) {
      at += Step;
      continue;
    }
    const std::int64_t number = ReadU32(TBytes(Scratch), ntfs::kRecordNumber);
    Found(offset + at, number, Scratch);
    at += RecordBytes;
  }
}

}  // namespace restovo
