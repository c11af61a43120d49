// A whole FAT scan over arbitrary volume bytes: boot sector, allocation table, directory
// entries and long names, quick and deep, whatever the boot sector says the volume is.
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
  // The deep scan too: free clusters read for directory clusters and chained into folders.
  const TFsKind kinds[] = {fkFat12, fkFat16, fkFat32, fkFat32};
  for (std::size_t pass = 0; pass < 4; ++pass) {
    const TFsKind kind = kinds[pass];
    const bool deep = pass == 3;
    disk.FsKind = kind;
    auto scaner = CreateScaner(&disk);
    scaner->Deep = deep;
    scaner->Scan();
    for (TFileInfo* item : scaner->Items) {
      // Files found by their content have no entry of the volume's.
      auto* entry = dynamic_cast<TFatEntryInfo*>(item->FsData.get());
      // Chains of restore are built from the same fields; keep their sizes sane.
      if (entry && item->Size < (1 << 20)) static_cast<TFatScaner*>(scaner.get())->BuildFileChain(*entry, item->Size);
    }
  }
  return 0;
}
