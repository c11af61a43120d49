// Recognises the boot sector of a FAT12/16/32, NTFS or exFAT volume and reads the
// figures a drive object shows: label, serial, cluster size, cluster counts.
#pragma once

#include <cstdint>
#include <string>

#include "io/ByteOrder.h"
#include "io/VolumeAccess.h"

namespace restovo {

enum class TBootKind : std::uint8_t { None, Fat12, Fat16, Fat32, Ntfs, ExFat };

struct TBootInfo {
  TBootKind Kind = TBootKind::None;
  std::uint32_t BytesPerSector = 0;
  std::uint32_t ClusterSize = 0;
  std::uint64_t TotalSectors = 0;
  std::uint64_t TotalClusters = 0;  // data clusters (FAT), all clusters (NTFS)
  std::uint32_t Serial = 0;
  std::string Label;  // from the boot sector; empty for "NO NAME" and on NTFS

  // FAT
  std::uint64_t FatOffset = 0;   // byte offset of the table that is read
  std::uint64_t FatBytes = 0;    // size of one table
  // NTFS
  std::uint64_t MftLcn = 0;
  std::uint32_t MftRecordSize = 0;
};

// The name the platform gives the file system: "FAT" (FAT12 and FAT16), "FAT32", "NTFS",
// "exFAT"; empty for None.
const char* BootKindName(TBootKind kind);

// Parses sector 0 of a volume. False when it is not a boot sector of a kind above (or the
// figures in it cannot describe a volume: zero or odd sector sizes, no clusters, ...).
bool ParseBootSector(TBytes sector, TBootInfo& info);

// Reads and parses sector 0 of the volume.
bool ReadBootInfo(const TVolumeHandle& volume, TBootInfo& info);

// Free clusters from the allocation table (FAT) or the volume bitmap (NTFS); -1 when they
// cannot be read.
std::int64_t CountFreeClusters(const TVolumeHandle& volume, const TBootInfo& info);

}  // namespace restovo
