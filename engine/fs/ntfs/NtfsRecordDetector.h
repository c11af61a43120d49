// FILE records of an NTFS volume found outside its $MFT: the deep pass hands every free
// cluster to this detector, which passes each record whose signature and update sequence
// check out, fixed up, to the scanner with where it lies and the number it carries.
#pragma once

#include <cstdint>
#include <functional>
#include <span>
#include <vector>

#include "fs/DeepPass.h"
#include "volume/BootSector.h"

namespace restovo {

class TNtfsRecordDetector final : public TDeepDetector {
 public:
  // offset: where the record lies on the volume; number: the MFT record number its header
  // gives (records of NTFS 3.1 carry their own).
  using TFound = std::function<void(std::uint64_t offset, std::int64_t number, std::span<std::byte> record)>;

  TNtfsRecordDetector(const TNtfsGeometry& geometry, TFound found);
  void Inspect(std::uint64_t offset, TBytes block) override;

 private:
  // The record whose RecordBytes bytes are `bytes`, at volume offset `at`, to Found when its
  // update sequence holds; false when it does not.
  bool TakeRecord(std::uint64_t at, TBytes bytes);

  const TNtfsGeometry Geometry;
  const std::size_t RecordBytes;
  const std::size_t Step;  // records start on a cluster, or on a record within the $MFT
  TFound Found;
  std::vector<std::byte> Scratch;
  // The start of a record the last block broke off in, and where that block ended.
  std::vector<std::byte> Carry;
  std::uint64_t CarryEnd = 0;
};

}  // namespace restovo
