#include "Destination.h"

#include <sys/stat.h>
#include <sys/sysmacros.h>

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

// True when block device `dest` is `source` itself or a partition of it that overlaps the
// byte window [offset, offset + length) of the source.
bool SameOrOverlapping(dev_t dest, dev_t source, std::uint64_t offset, std::uint64_t length) {
  if (dest == source) return true;
  const fs::path dir = SysfsOf(dest);
  if (dir.empty() || !fs::exists(dir / "partition")) return false;
  if (ReadLine(dir.parent_path() / "dev") != DevText(source)) return false;
  const std::uint64_t start = ReadNumber(dir / "start") * 512;
  const std::uint64_t size = ReadNumber(dir / "size") * 512;
  return start < offset + length && offset < start + size;
}

// Whether dest is a loop device (or a partition of one) backed by the image file.
bool LoopOfImage(dev_t dest, const fs::path& image) {
  fs::path dir = SysfsOf(dest);
  if (dir.empty()) return false;
  if (fs::exists(dir / "partition")) dir = dir.parent_path();
  const std::string backing = ReadLine(dir / "loop" / "backing_file");
  if (backing.empty()) return false;
  std::error_code ec;
  return fs::equivalent(backing, image, ec);
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

// Whether a mount source names the scanned volume: the same file, or a block device that
// is (or overlaps) the scanned one.
bool SourceIsVolume(const std::string& mountSource, const TVolumeLocation& where, const struct stat& scanned) {
  struct stat st {};
  if (mountSource.empty() || mountSource[0] != '/' || ::stat(mountSource.c_str(), &st) != 0) return false;
  if (S_ISBLK(st.st_mode) && S_ISBLK(scanned.st_mode))
    return SameOrOverlapping(st.st_rdev, scanned.st_rdev, where.Offset, where.Length);
  if (S_ISBLK(st.st_mode)) return LoopOfImage(st.st_rdev, where.Source);
  return st.st_dev == scanned.st_dev && st.st_ino == scanned.st_ino;
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
  struct stat dest {}, source {};
  if (::stat(real.c_str(), &dest) != 0 || ::stat(disk.Location.Source.c_str(), &source) != 0) return {};
  if (S_ISBLK(source.st_mode)) {
    if (SameOrOverlapping(dest.st_dev, source.st_rdev, disk.Location.Offset, disk.Location.Length))
      return kSameVolumeText;
  } else if (LoopOfImage(dest.st_dev, disk.Location.Source)) {
    return kSameVolumeText;
  }
  for (const std::string& mounted : MountSources(dest.st_dev)) {
    if (SourceIsVolume(mounted, disk.Location, source)) return kSameVolumeText;
  }
  return {};
}

}  // namespace restovo
