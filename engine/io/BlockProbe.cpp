#include "io/BlockProbe.h"

#include <blkid.h>
#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <cerrno>

namespace restovo {

namespace {

std::string Value(blkid_probe probe, const char* name) {
  const char* data = nullptr;
  std::size_t len = 0;
  if (blkid_probe_lookup_value(probe, name, &data, &len) != 0 || data == nullptr) return {};
  std::string value(data, len);
  while (!value.empty() && value.back() == '\0') value.pop_back();
  return value;
}

}  // namespace

bool ProbeWithBlkid(const std::string& path, std::uint64_t offset, std::uint64_t size,
                    TBlkidInfo& info, int* error) {
  info = TBlkidInfo{};
  if (error) *error = 0;
  const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) {
    if (error) *error = errno;
    return false;
  }
  bool found = false;
  if (blkid_probe probe = blkid_new_probe()) {
    if (blkid_probe_set_device(probe, fd, static_cast<blkid_loff_t>(offset),
                               static_cast<blkid_loff_t>(size)) == 0) {
      blkid_probe_enable_superblocks(probe, 1);
      blkid_probe_set_superblocks_flags(
          probe, BLKID_SUBLKS_TYPE | BLKID_SUBLKS_VERSION | BLKID_SUBLKS_LABEL | BLKID_SUBLKS_UUID);
      blkid_probe_enable_partitions(probe, 0);
      if (blkid_do_safeprobe(probe) == 0) {
        info.Type = Value(probe, "TYPE");
        info.Version = Value(probe, "VERSION");
        info.Label = Value(probe, "LABEL");
        info.Uuid = Value(probe, "UUID");
        found = !info.Type.empty();
      }
    }
    blkid_free_probe(probe);
  }
  ::close(fd);
  return found;
}

std::string FileSystemNameFromBlkid(const TBlkidInfo& info) {
  if (info.Type == "vfat" || info.Type == "msdos") return info.Version == "FAT32" ? "FAT32" : "FAT";
  if (info.Type == "ntfs") return "NTFS";
  if (info.Type == "exfat") return "exFAT";
  std::string name = info.Type;
  std::transform(name.begin(), name.end(), name.begin(),
                 [](unsigned char c) { return static_cast<char>(std::toupper(c)); });
  return name;
}

}  // namespace restovo
