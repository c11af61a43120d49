// Finds the volumes that can be scanned: block devices of this machine (from sysfs, with
// mount points from mountinfo) and the partitions of disk images the user names.
#pragma once

#include <cstdint>
#include <map>
#include <string>
#include <vector>

#include "io/VolumeAccess.h"
#include "platform/SystemTables.h"

namespace restovo {

// Drive types as the drive list shows them.
enum TDriveType : std::uint32_t {
  dtUnknown = 0,
  dtNoRootDir = 1,  // the volume is gone
  dtRemovable = 2,
  dtFixed = 3,
  dtRemote = 4,
  dtOptical = 5,
  dtRamDisk = 6,
  dtImage = 7,
};

const char* DriveTypeText(std::uint32_t type);

// One volume found on a device or in an image, offered for scanning or not.
struct TDriveCandidate {
  TVolumeLocation Location;
  std::string Name;        // "sdb1", "card.img", "disk.img#2"
  std::string Root;        // mount point with "/" when mounted, else Name + "/"
  std::string MountPoint;
  std::uint32_t DriveType = 0;  // TDriveType
  std::string FileSystem;  // "FAT", "FAT32", "NTFS", "exFAT", "EXT4", ... or empty
  std::string Label;
  std::uint64_t Size = 0;  // bytes of the volume window
  bool Offered = false;
  std::string Reason;      // why a volume is not offered
  int OpenError = 0;       // errno when the source could not be read
};

// The offering rule: FAT or NTFS by name, never exFAT.
bool IsOfferedFileSystem(const std::string& fileSystemName);

// "maj:min" → mount point (the first mount of each device).
std::map<std::string, std::string> ReadMountPoints(const std::string& mountInfoPath);

// Drive type of a block device from its sysfs folder (the resolved /sys/class/block/NAME).
std::uint32_t DriveTypeFromSysfs(const std::string& sysDeviceDir);

// Every volume of the machine's block devices: partitions, and whole disks without a table.
std::vector<TDriveCandidate> ListBlockDevices(const TSystemPaths& paths = {});

// The volumes of one disk image or device path: one per partition, or the whole image when
// it has no table. An unreadable path gives one candidate that says why.
std::vector<TDriveCandidate> ListImageDrives(const std::string& path);

// The root name of a volume: the mount point with a trailing "/" when mounted, else the
// name followed by "/".
std::string DriveRootFor(const std::string& name, const std::string& mountPoint);

}  // namespace restovo
