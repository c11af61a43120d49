#include "volume/FsKind.h"

#include <algorithm>
#include <cctype>

namespace restovo {

const char* FsKindName(TFsKind kind) {
  switch (kind) {
    case fkFat12:
    case fkFat16: return "FAT";
    case fkFat32: return "FAT32";
    case fkNtfs: return "NTFS";
    case fkExFat: return "exFAT";
    case fkUnknown: break;
  }
  return "";
}

TFsKind DetectFsKind(const std::string& fileSystemName) {
  std::string name = fileSystemName;
  std::transform(name.begin(), name.end(), name.begin(),
                 [](unsigned char c) { return static_cast<char>(std::toupper(c)); });
  if (name.find("EXFAT") != std::string::npos) return fkExFat;
  if (name.find("NTFS") != std::string::npos) return fkNtfs;
  if (name.find("FAT32") != std::string::npos) return fkFat32;
  if (name.find("FAT") != std::string::npos) return fkFat16;
  return fkUnknown;
}

}  // namespace restovo
