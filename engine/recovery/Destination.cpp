#include "recovery/Destination.h"

#include <sys/stat.h>

#include <algorithm>
#include <cstdint>
#include <filesystem>
#include <vector>

#include "platform/SystemTables.h"

namespace restovo {

namespace fs = std::filesystem;

namespace {

// A stretch of bytes on what finally stores them: a whole disk, or the file behind a loop
// device. Partitions and loop devices are seen through, so two names of the same bytes
// compare equal.
struct TExtent {
  std::string Store;  // "blk:8:16" or "file:2049:123456"
  std::uint64_t Start = 0;
  std::uint64_t Length = UINT64_MAX;
};

std::string FileStore(const struct stat& st) {
  return "file:" + DeviceNumberText(st.st_dev) + ":" + std::to_string(st.st_ino);
}

std::uint64_t SaturatingAdd(std::uint64_t a, std::uint64_t b) { return b > UINT64_MAX - a ? UINT64_MAX : a + b; }

bool Overlap(const TExtent& a, const TExtent& b) {
  return a.Store == b.Store && a.Start < SaturatingAdd(b.Start, b.Length) && b.Start < SaturatingAdd(a.Start, a.Length);
}

// Where block device d keeps its bytes: a partition at its start on its disk, a loop device
// (or a partition of one) at its offset in the file behind it.
TExtent BlockExtent(const TSystemPaths& paths, dev_t d) {
  fs::path dir = SysfsBlockDir(paths, d);
  TExtent extent{"blk:" + DeviceNumberText(d), 0, UINT64_MAX};
  if (dir.empty()) return extent;
  if (const std::uint64_t sectors = ReadNumberFile((dir / "size").string()); sectors > 0) extent.Length = sectors * 512;
  if (fs::exists(dir / "partition")) {
    extent.Start = ReadNumberFile((dir / "start").string()) * 512;
    dir = dir.parent_path();
    extent.Store = "blk:" + ReadFirstLine((dir / "dev").string());
  }
  std::string backing = ReadFirstLine((dir / "loop" / "backing_file").string());
  struct stat st {};
  if (!backing.empty() && ::stat(backing.c_str(), &st) == 0) {
    extent.Store = FileStore(st);
    extent.Start = SaturatingAdd(extent.Start, ReadNumberFile((dir / "loop" / "offset").string()));
  }
  return extent;
}

// The extent of a path that names bytes: a block device, or a file read as an image.
bool ExtentOfSource(const TSystemPaths& paths, const std::string& path, TExtent& extent) {
  struct stat st {};
  if (path.empty() || path[0] != '/' || ::stat(path.c_str(), &st) != 0) return false;
  if (S_ISBLK(st.st_mode)) extent = BlockExtent(paths, st.st_rdev);
  else if (S_ISREG(st.st_mode)) extent = {FileStore(st), 0, UINT64_MAX};
  else return false;
  return true;
}

// The sources of the mounts of device `dev`, from mountinfo: what FUSE file systems such
// as ntfs-3g were mounted from (an image file, a partition) shows only there.
std::vector<std::string> MountSources(const TSystemPaths& paths, dev_t dev) {
  std::vector<std::string> sources;
  const std::string devNo = DeviceNumberText(dev);
  for (TMountEntry& entry : ReadMountInfo(paths.MountInfo))
    if (entry.DevNo == devNo && !entry.Source.empty()) sources.push_back(std::move(entry.Source));
  return sources;
}

}  // namespace

std::string CheckRestoreDestination(const TDiskObject& disk, const std::string& destDir, const TSystemPaths& paths) {
  std::error_code ec;
  // The folder may not exist yet: what counts is where it will be created.
  fs::path existing = fs::absolute(destDir, ec);
  while (!existing.empty() && !fs::exists(existing, ec) && existing != existing.root_path())
    existing = existing.parent_path();
  const fs::path real = fs::canonical(existing, ec);
  if (ec) return "The destination folder cannot be reached: " + ec.message() + ".";

  if (!disk.MountPoint.empty()) {
    const fs::path mount = fs::canonical(disk.MountPoint, ec);
    if (!ec) {
      const auto rel = real.lexically_relative(mount);
      if (!rel.empty() && *rel.begin() != "..") return kSameVolumeText;
    }
  }
  if (disk.Location.Memory || disk.Location.Source.empty()) return {};
  TExtent scanned;
  if (!ExtentOfSource(paths, disk.Location.Source, scanned)) return {};
  // The scanned window of its source, inside whatever the source itself is a window of.
  std::uint64_t within = 0;
  if (scanned.Length == UINT64_MAX) within = UINT64_MAX;
  else if (disk.Location.Offset < scanned.Length) within = scanned.Length - disk.Location.Offset;
  scanned.Start = SaturatingAdd(scanned.Start, disk.Location.Offset);
  scanned.Length = std::min(within, disk.Location.Length);
  struct stat dest {};
  if (::stat(real.c_str(), &dest) != 0) return {};
  if (Overlap(BlockExtent(paths, dest.st_dev), scanned)) return kSameVolumeText;
  for (const std::string& mounted : MountSources(paths, dest.st_dev)) {
    if (TExtent extent; ExtentOfSource(paths, mounted, extent) && Overlap(extent, scanned)) return kSameVolumeText;
  }
  return {};
}

}  // namespace restovo
