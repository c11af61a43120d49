// Recognises the boot sector of a FAT12/16/32, NTFS or exFAT volume and reads the
// figures the drive objects and the scanners work from. The one parser of boot sectors:
// the scanners take their geometry from here.
#pragma once

#include <cstdint>
#include <string>

#include "io/ByteOrder.h"
#include "io/VolumeAccess.h"
#include "volume/FsKind.h"

namespace restovo {

// What an NTFS boot sector says about the volume's layout.
struct TNtfsGeometry {
  std::int64_t BytesPerSector = 0;
  std::int64_t SectorsPerCluster = 0;
  std::int64_t TotalSectors = 0;
  std::int64_t MftLcn = 0;
  std::int64_t MftMirrLcn = 0;
  std::int64_t BytesPerRecord = 0;
  std::int64_t ClustersPerIndexRecord = 0;

  std::int64_t ClusterBytes() const { return BytesPerSector * SectorsPerCluster; }
  std::int64_t TotalClusters() const { return SectorsPerCluster > 0 ? TotalSectors / SectorsPerCluster : 0; }
};

// What a FAT boot sector says about the volume's layout, in sectors unless named otherwise.
struct TFatGeometry {
  std::uint32_t SectorsPerCluster = 0;
  std::uint32_t ReservedSectors = 0;
  std::uint32_t FatCount = 0;
  std::uint64_t FatSectors = 0;  // of one table
  std::uint32_t RootEntries = 0;
  std::uint32_t RootDirSectors = 0;
  std::uint64_t FirstDataSector = 0;
  std::uint32_t ActiveFat = 0;  // the table that is read
  std::uint32_t RootCluster = 0;  // FAT32
  std::uint8_t Media = 0;
};

struct TBootInfo {
  TFsKind Kind = fkUnknown;
  std::uint32_t BytesPerSector = 0;
  std::uint32_t ClusterSize = 0;
  std::uint64_t TotalSectors = 0;
  std::uint64_t TotalClusters = 0;  // data clusters (FAT), all clusters (NTFS)
  std::uint32_t Serial = 0;
  std::string Label;  // from the boot sector; empty for "NO NAME" and on NTFS

  // FAT
  std::uint64_t FatOffset = 0;   // byte offset of the table that is read
  std::uint64_t FatBytes = 0;    // size of one table
  TFatGeometry Fat;
  // NTFS
  std::uint64_t MftLcn = 0;
  std::uint32_t MftRecordSize = 0;
  TNtfsGeometry Ntfs;
};

// Parses sector 0 of a volume. False when it is not a boot sector of a kind above (or the
// figures in it cannot describe a volume: zero or odd sector sizes, no clusters, ...).
bool ParseBootSector(TBytes sector, TBootInfo& info);

// A FAT12/16/32 boot sector alone. Refused: no jump instruction, sector sizes other than
// 512-4096, a cluster size that is no power of two, no reserved sectors, tables or
// sectors, a data area that starts past the end, and a FAT32 active table that does not
// exist. Kind is told by the cluster count (FAT12/16) or the 32-bit table size (FAT32).
bool ParseFatBootSector(TBytes sector, TBootInfo& info);

// An NTFS boot sector alone; false when it cannot describe a volume (sector sizes other
// than 512-4096, a cluster size that is no power of two or above 16 MiB, records below 256
// bytes or above 64 KiB or not whole sectors, a size whose bytes do not fit 63 bits, an
// $MFT that starts past the last cluster).
bool ParseNtfsBootSector(TBytes sector, TNtfsGeometry& geometry);

// Reads and parses sector 0 of the volume.
bool ReadBootInfo(const TVolumeHandle& volume, TBootInfo& info);

// Free clusters from the allocation table (FAT) or the volume bitmap (NTFS); -1 when they
// cannot be read.
std::int64_t CountFreeClusters(const TVolumeHandle& volume, const TBootInfo& info);

}  // namespace restovo
