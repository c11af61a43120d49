// The file systems a volume can hold, as far as this program tells them apart.
#pragma once

#include <cstdint>
#include <string>

namespace restovo {

enum TFsKind : std::uint8_t {
  fkUnknown = 0,
  fkFat12 = 1,
  fkFat16 = 2,
  fkFat32 = 3,
  fkNtfs = 4,
  fkExFat = 5,  // recognised, never scanned
};

// The name the platform gives the file system: "FAT" (FAT12 and FAT16), "FAT32", "NTFS",
// "exFAT"; empty for fkUnknown.
const char* FsKindName(TFsKind kind);

// "exFAT" → fkExFat, "NTFS" → fkNtfs, "FAT32" → fkFat32, "FAT" → fkFat16, others fkUnknown.
TFsKind DetectFsKind(const std::string& fileSystemName);

}  // namespace restovo
