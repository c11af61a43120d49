#include "recovery/Destination.h"

#include <sys/stat.h>
#include <sys/sysmacros.h>

#include <algorithm>
#include <cstdint>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <vector>

namespace restovo {

namespace fs = std::filesystem;

namespace {

std::string ReadLine(const fs::path& p) {
  std::ifstream in(p);
  std::string line;
  std::getline(in, line);
  return line;
}

std::uint64_t ReadNumber(const fs::path& p) {
  try {
    return std::stoull(ReadLine(p));
  } catch (...) {
    return 0;
  }
}

std::string DevText(dev_t d) { return std::to_string(major(d)) + ":" + std::to_string(minor(d)); }

// The sysfs folder of a block device, or empty.
fs::path SysfsOf(dev_t d) {
  std::error_code ec;
  const fs::path p = fs::canonical("/sys/dev/block/" + DevText(d), ec);
  return ec ? fs::path() : p;
}

// A stretch of bytes on what finally stores them: a whole disk, or the file behind a loop
// device. Partitions and loop devices are seen through, so two names of the same bytes
// compare equal.
struct TExtent {
  std::string Store;  // "blk:8:16" or "file:2049:123456"
  std::uint64_t Start = 0;
  std::uint64_t Length = UINT64_MAX;
};

std::string FileStore(const struct stat& st) {
  return "file:" + DevText(st.st_dev) + ":" + std::to_string(st.st_ino);
}

std::uint64_t SaturatingAdd(std::uint64_t a, std::uint64_t b) { return b > UINT64_MAX - a ? UINT64_MAX : a + b; }

bool Overlap(const TExtent& a, const TExtent& b) {
  return a.Store == b.Store && a.Start < SaturatingAdd(b.Start, b.Length) && b.Start < SaturatingAdd(a.Start, a.Length);
}

// Where block device d keeps its bytes: a partition at its start on its disk, a loop device
// (or a partition of one) at its offset in the file behind it.
TExtent BlockExtent(dev_t d) {
  fs::path dir = SysfsOf(d);
  TExtent extent{"blk:" + DevText(d), 0, UINT64_MAX};
  if (dir.empty()) return extent;
  if (const std::uint64_t sectors = ReadNumber(dir / "size"); sectors > 0) extent.Length = sectors * 512;
  if (fs::exists(dir / "partition")) {
    extent.Start = ReadNumber(dir / "start") * 512;
    dir = dir.parent_path();
    extent.Store = "blk:" + ReadLine(dir / "dev");
  }
  std::string backing = ReadLine(dir / "loop" / "backing_file");
  struct stat st {};
  if (!backing.empty() && ::stat(backing.c_str(), &st) == 0) {
    extent.Store = FileStore(st);
    extent.Start = SaturatingAdd(extent.Start, ReadNumber(dir / "loop" / "offset"));
  }
  return extent;
}

// The extent of a path that names bytes: a block device, or a file read as an image.
bool ExtentOfSource(const std::string& path, TExtent& extent) {
  struct stat st {};
  if (path.empty() || path[0] != '/' || ::stat(path.c_str(), &st) != 0) return false;
  if (S_ISBLK(st.st_mode)) extent = BlockExtent(st.st_rdev);
  else if (S_ISREG(st.st_mode)) extent = {FileStore(st), 0, UINT64_MAX};
  else return false;
  return true;
}

// The sources of the mounts of device `dev`, from mountinfo: what FUSE file systems such
// as ntfs-3g were mounted from (an image file, a partition) shows only there.
std::vector<std::string> MountSources(dev_t dev) {
  std::vector<std::string> sources;
  std::ifstream in("/proc/self/mountinfo");
  std::string line;
  const std::string devNo = DevText(dev);
  while (std::getline(in, line)) {
    std::istringstream fields(line);
    std::string id, parent, number;
    if (!(fields >> id >> parent >> number) || number != devNo) continue;
    const auto dash = line.find(" - ");
    if (dash == std::string::npos) continue;
    std::istringstream tail(line.substr(dash + 3));
    std::string type, source;
    if (tail >> type >> source) sources.push_back(source);
  }
  return sources;
}

}  // namespace

std::string CheckRestoreDestination(const TDiskObject& disk, const std::string& destDir) {
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
  if (!ExtentOfSource(disk.Location.Source, scanned)) return {};
  // The scanned window of its source, inside whatever the source itself is a window of.
  std::uint64_t within = 0;
  if (scanned.Length == UINT64_MAX) within = UINT64_MAX;
  else if (disk.Location.Offset < scanned.Length) within = scanned.Length - disk.Location.Offset;
  scanned.Start = SaturatingAdd(scanned.Start, disk.Location.Offset);
  scanned.Length = std::min(within, disk.Location.Length);
  struct stat dest {};
  if (::stat(real.c_str(), &dest) != 0) return {};
  if (Overlap(BlockExtent(dest.st_dev), scanned)) return kSameVolumeText;
  for (const std::string& mounted : MountSources(dest.st_dev)) {
    if (TExtent extent; ExtentOfSource(mounted, extent) && Overlap(extent, scanned)) return kSameVolumeText;
  }
  return {};
}

}  // namespace restovo
