// A whole FAT scan over arbitrary volume bytes: boot sector, allocation table, directory
// entries and long names, with the scanner picked by what the boot sector says.
#include <cstddef>
#include <cstdint>
#include <vector>

#include "volume/BootSector.h"
#include "fs/DiskScaner.h"
#include "fs/fat/FatScaner.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  using namespace restovo;
  std::vector<std::byte> bytes(reinterpret_cast<const std::byte*>(data),
                               reinterpret_cast<const std::byte*>(data) + size);
  TVolumeLocation location;
  location.Memory = MakeMemoryDevice(std::move(bytes));
  TDiskObject disk("fuzz/", "fuzz", location);
  // Every FAT reader gets the bytes, whatever the boot sector claims to be.
  for (const TFsKind kind : {fkFat12, fkFat16, fkFat32}) {
    disk.FsKind = kind;
    auto scaner = CreateScaner(&disk);
    scaner->Scan();
    for (TFileInfo* item : scaner->Items) {
      auto* entry = static_cast<TFatEntryInfo*>(item->FsData.get());
      // Chains of restore are built from the same fields; keep their sizes sane.
      if (item->Size < (1 << 20)) static_cast<TFatScaner*>(scaner.get())->BuildFileChain(*entry, item->Size);
    }
  }
  return 0;
}
