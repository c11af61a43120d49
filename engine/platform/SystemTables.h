// The system's tables about block devices and mounts: sysfs, mountinfo, udev's database.
// Every read of them goes through here, from the paths in TSystemPaths, so tests can point
// them at a fixture tree.
#pragma once

#include <sys/types.h>

#include <cstdint>
#include <map>
#include <string>
#include <vector>

namespace restovo {

// Where the system tables are read; tests point these at fixtures.
struct TSystemPaths {
  std::string SysClassBlock = "/sys/class/block";
  std::string SysDevBlock = "/sys/dev/block";
  std::string MountInfo = "/proc/self/mountinfo";
  std::string DevDir = "/dev";
  std::string UdevData = "/run/udev/data";
};

// "8:17" for a device number.
std::string DeviceNumberText(dev_t device);

// The first line of a small system file; empty when it cannot be read.
std::string ReadFirstLine(const std::string& path);
// The number on the first line of a system file; 0 when there is none.
std::uint64_t ReadNumberFile(const std::string& path);

// The sysfs folder of a block device (resolved, so a partition's parent is its disk), or
// empty when the system does not list it.
std::string SysfsBlockDir(const TSystemPaths& paths, dev_t device);
// The device node of a block device ("/dev/sdb1"), from its uevent; empty when unknown.
std::string BlockDeviceNode(const TSystemPaths& paths, dev_t device);

// One line of mountinfo.
struct TMountEntry {
  std::string DevNo;       // "maj:min" of the mounted file system
  std::string Root;        // the folder of the file system mounted ("/" for all of it)
  std::string MountPoint;  // unescaped
  std::string Type;        // "vfat", "fuseblk", ...
  std::string Source;      // "/dev/sdb1", an image file, "none"
};
// The mounts in a mountinfo file, in its order; lines that do not parse are left out.
std::vector<TMountEntry> ReadMountInfo(const std::string& mountInfoPath);

// The properties ("ID_FS_TYPE" → "vfat") udev recorded for a block device "maj:min".
std::map<std::string, std::string> ReadUdevProperties(const TSystemPaths& paths, const std::string& devNo);

}  // namespace restovo
