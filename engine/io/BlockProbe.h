// File-system recognition through libblkid, as the rest of the system sees the volume.
#pragma once

#include <cstdint>
#include <string>

namespace restovo {

struct TBlkidInfo {
  std::string Type;     // "vfat", "ntfs", "exfat", "ext4", ...
  std::string Version;  // "FAT12", "FAT16", "FAT32" for vfat
  std::string Label;
  std::string Uuid;
};

// Probes the byte window [offset, offset + size) of a file or device. False when nothing
// was recognised or the source could not be opened (errno in *error).
bool ProbeWithBlkid(const std::string& path, std::uint64_t offset, std::uint64_t size,
                    TBlkidInfo& info, int* error = nullptr);

// "FAT" (FAT12, FAT16), "FAT32", "NTFS", "exFAT", or the upper-cased type for others.
std::string FileSystemNameFromBlkid(const TBlkidInfo& info);

}  // namespace restovo
