// The one place that knows every file-system scanner: the base class and the drive objects
// stay below the variants they make.
#include "fs/DiskScaner.h"
#include "fs/fat/FatScaner.h"
#include "fs/ntfs/NTFSScaner.h"

namespace restovo {

std::unique_ptr<TDiskScaner> CreateScaner(TDiskObject* disk) {
  if (disk == nullptr) return nullptr;
  std::unique_ptr<TDiskScaner> scaner;
  switch (disk->FsKind) {
    case fkFat12: scaner = std::make_unique<TFat12Scaner>(disk); break;
    case fkFat16: scaner = std::make_unique<TFat16Scaner>(disk); break;
    case fkFat32: scaner = std::make_unique<TFat32Scaner>(disk); break;
    case fkNtfs: scaner = std::make_unique<TNtfsScaner>(disk); break;
    default: return nullptr;
  }
  scaner->Open();
  return scaner;
}

}  // namespace restovo
