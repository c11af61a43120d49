#include "volume/DriveList.h"

#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <cstring>
#include <filesystem>

#include "io/BlockProbe.h"
#include "volume/BootSector.h"
#include "volume/PartitionTable.h"

namespace restovo {

const char* DriveTypeText(std::uint32_t type) {
  switch (type) {
    case dtNoRootDir: return "gone";
    case dtRemovable: return "removable";
    case dtFixed: return "fixed";
    case dtRemote: return "remote";
    case dtOptical: return "optical";
    case dtRamDisk: return "RAM disk";
    case dtImage: return "image";
    default: return "unknown";
  }
}

namespace fs = std::filesystem;

namespace {

std::string Upper(std::string s) {
  std::transform(s.begin(), s.end(), s.begin(),
                 [](unsigned char c) { return static_cast<char>(std::toupper(c)); });
  return s;
}

std::string UnreadableReason(int error) {
  // Root is refused devices too in containers; only an ordinary user is helped by root.
  if (error == EACCES || (error == EPERM && ::geteuid() != 0))
    return "cannot be read without administrator rights (run as root)";
  return std::string("cannot be read: ") + std::strerror(error);
}

std::string NotOfferedReason(const std::string& fileSystem, const std::string& blkidType) {
  if (fileSystem.empty()) return "no FAT or NTFS file system found";
  if (fileSystem == "exFAT") return "exFAT is not supported";
  return (blkidType.empty() ? fileSystem : blkidType) + " is not supported";
}

// Fills file system, label, offer and reason of a candidate whose location is set.
void DescribeVolume(TDriveCandidate& c) {
  TBlkidInfo blkid;
  int error = 0;
  if (ProbeWithBlkid(c.Location.Source, c.Location.Offset, c.Size, blkid, &error)) {
    c.FileSystem = FileSystemNameFromBlkid(blkid);
    c.Label = blkid.Label;
  } else if (error != 0) {
    c.OpenError = error;
  } else {
    // libblkid is strict about damaged boot data; what the engine itself recognises counts.
    TBootInfo boot;
    if (ReadBootInfo(OpenVolume(c.Location), boot)) {
      c.FileSystem = FsKindName(boot.Kind);
      c.Label = boot.Label;
    }
  }
  c.Offered = IsOfferedFileSystem(c.FileSystem);
  if (!c.Offered) {
    c.Reason = c.OpenError != 0 && c.FileSystem.empty() ? UnreadableReason(c.OpenError)
                                                        : NotOfferedReason(c.FileSystem, blkid.Type);
  }
}

// What udev recorded about a device, for users who may not read it themselves.
void DescribeFromUdev(TDriveCandidate& c, const TSystemPaths& paths, const std::string& devNo) {
  const auto properties = ReadUdevProperties(paths, devNo);
  auto property = [&](const char* key) {
    const auto it = properties.find(key);
    return it == properties.end() ? std::string() : it->second;
  };
  TBlkidInfo info;
  info.Type = property("ID_FS_TYPE");
  info.Version = property("ID_FS_VERSION");
  info.Label = property("ID_FS_LABEL");
  if (info.Type.empty()) return;
  c.FileSystem = FileSystemNameFromBlkid(info);
  c.Label = info.Label;
  c.Offered = IsOfferedFileSystem(c.FileSystem);
  c.Reason = c.Offered ? std::string() : NotOfferedReason(c.FileSystem, info.Type);
}

}  // namespace

bool IsOfferedFileSystem(const std::string& fileSystemName) {
  const std::string name = Upper(fileSystemName);
  if (name.find("EXFAT") != std::string::npos) return false;
  return name.find("NTFS") != std::string::npos || name.find("FAT") != std::string::npos;
}

std::map<std::string, std::string> ReadMountPoints(const std::string& mountInfoPath) {
  std::map<std::string, std::string> mounts;
  for (TMountEntry& entry : ReadMountInfo(mountInfoPath)) {
    // Only a mount of the whole file system says where its root is.
    if (entry.Root == "/") mounts.emplace(entry.DevNo, std::move(entry.MountPoint));
  }
  return mounts;
}

std::uint32_t DriveTypeFromSysfs(const std::string& sysDeviceDir) {
  const fs::path dir(sysDeviceDir);
  const fs::path disk = fs::exists(dir / "partition") ? dir.parent_path() : dir;
  const std::string diskName = disk.filename().string();
  if (diskName.rfind("loop", 0) == 0) return dtImage;
  if (diskName.rfind("sr", 0) == 0) return dtOptical;
  if (diskName.rfind("ram", 0) == 0 || diskName.rfind("zram", 0) == 0) return dtRamDisk;
  if (ReadFirstLine((disk / "removable").string()) == "1") return dtRemovable;
  // Card readers and USB disks often report removable 0; their bus tells.
  const std::string where = disk.string();
  if (where.find("/usb") != std::string::npos || where.find("/mmc") != std::string::npos ||
      diskName.rfind("mmcblk", 0) == 0) {
    return dtRemovable;
  }
  return dtFixed;
}

std::string DriveRootFor(const std::string& name, const std::string& mountPoint) {
  if (mountPoint.empty()) return name + "/";
  return mountPoint.back() == '/' ? mountPoint : mountPoint + "/";
}

std::vector<TDriveCandidate> ListBlockDevices(const TSystemPaths& paths) {
  std::vector<TDriveCandidate> out;
  std::error_code ec;
  const auto mounts = ReadMountPoints(paths.MountInfo);
  std::vector<fs::path> entries;
  for (const auto& entry : fs::directory_iterator(paths.SysClassBlock, ec)) entries.push_back(entry.path());
  std::sort(entries.begin(), entries.end());
  for (const fs::path& link : entries) {
    const fs::path dir = fs::canonical(link, ec);
    if (ec) continue;
    const std::string name = link.filename().string();
    const bool isPartition = fs::exists(dir / "partition");
    if (!isPartition) {
      // A disk whose partitions are listed is represented by them.
      bool hasPartitions = false;
      for (const auto& sub : fs::directory_iterator(dir, ec))
        hasPartitions |= fs::exists(sub.path() / "partition");
      if (hasPartitions) continue;
    }
    const std::uint64_t sectors = ReadNumberFile((dir / "size").string());
    if (sectors == 0) continue;  // empty card reader slots, unused loop devices
    const std::string devNo = ReadFirstLine((dir / "dev").string());
    TDriveCandidate c;
    c.Name = name;
    c.Location.Source = paths.DevDir + "/" + name;
    c.Location.Length = sectors * 512;
    c.Size = c.Location.Length;
    c.DriveType = DriveTypeFromSysfs(dir.string());
    if (auto it = mounts.find(devNo); it != mounts.end()) c.MountPoint = it->second;
    c.Root = DriveRootFor(c.Name, c.MountPoint);
    DescribeVolume(c);
    if (c.FileSystem.empty() && c.OpenError != 0) DescribeFromUdev(c, paths, devNo);
    out.push_back(std::move(c));
  }
  return out;
}

std::vector<TDriveCandidate> ListImageDrives(const std::string& path) {
  std::vector<TDriveCandidate> out;
  const std::string base = fs::path(path).filename().string();
  TVolumeLocation whole;
  whole.Source = path;
  TVolumeHandle disk = OpenVolume(whole);
  struct stat st {};
  const bool isDevice = ::stat(path.c_str(), &st) == 0 && S_ISBLK(st.st_mode);
  auto make = [&](const std::string& name, std::uint64_t offset, std::uint64_t length, int number) {
    TDriveCandidate c;
    c.Name = name;
    c.Location.Source = path;
    c.Location.Offset = offset;
    c.Location.Length = length;
    c.Location.PartitionNumber = number;
    c.Size = length;
    c.DriveType = isDevice ? dtFixed : dtImage;
    c.Root = DriveRootFor(c.Name, {});
    return c;
  };
  if (!disk.IsValid()) {
    TDriveCandidate c = make(base, 0, 0, 0);
    c.OpenError = disk.OpenError;
    c.Reason = UnreadableReason(disk.OpenError);
    out.push_back(std::move(c));
    return out;
  }
  const TPartitionTable table = ReadPartitionTable(disk);
  if (table.Kind == TTableKind::None) {
    TDriveCandidate c = make(base, 0, disk.Size(), 0);
    DescribeVolume(c);
    out.push_back(std::move(c));
    return out;
  }
  for (const TPartition& p : table.Partitions) {
    const std::uint64_t length =
        p.Offset >= disk.Size() ? 0 : std::min(p.Length, disk.Size() - p.Offset);
    TDriveCandidate c = make(base + "#" + std::to_string(p.Number), p.Offset, length, p.Number);
    if (length == 0) {
      c.Reason = "lies past the end of the disk";
    } else {
      DescribeVolume(c);
    }
    out.push_back(std::move(c));
  }
  if (table.Partitions.empty()) {
    TDriveCandidate c = make(base, 0, disk.Size(), 0);
    c.Reason = table.Problems.empty() ? "the partition table holds no partition"
                                      : table.Problems.front();
    out.push_back(std::move(c));
  }
  return out;
}

}  // namespace restovo
