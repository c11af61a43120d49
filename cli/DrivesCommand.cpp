#include <cstdio>
#include <memory>
#include <string>
#include <vector>

#include "Commands.h"
#include "fs/DiskScaner.h"
#include "volume/DriveList.h"
#include "records/TypesDefine.h"

namespace restovo::cli {

namespace {

void PrintCandidates(const std::vector<TDriveCandidate>& candidates, bool& anyPrinted) {
  for (const TDriveCandidate& c : candidates) {
    if (!c.Offered) {
      std::printf("  %-28s not offered: %s\n", c.Name.c_str(), c.Reason.c_str());
      anyPrinted = true;
      continue;
    }
    TDiskObject disk(c.Root, c.Name, c.Location, c.MountPoint);
    std::string size = FormatFileSize(disk.TotalSize);
    if (disk.TotalSize == 0) size = FormatFileSize(static_cast<std::int64_t>(c.Size));
    std::printf("  %-28s %-6s %-10s %-14s %12s  free %s\n", disk.DisplayName.c_str(),
                disk.FileSystem.c_str(), DriveTypeText(disk.DriveType),
                disk.VolumeLabel.empty() ? "-" : ("\"" + disk.VolumeLabel + "\"").c_str(),
                size.c_str(), FormatFileSize(disk.FreeSize).c_str());
    if (c.OpenError != 0)
      std::printf("  %-28s (needs administrator rights to be scanned)\n", "");
    anyPrinted = true;
  }
}

}  // namespace

int RunDrives(const std::vector<std::string>& args) {
  for (const std::string& a : args) {
    if (!a.empty() && a[0] == '-') {
      std::fprintf(stderr, "restovo-cli drives: unknown option '%s'\n", a.c_str());
      return exBadInput;
    }
  }
  bool anyPrinted = false;
  int status = exDone;
  std::printf("Block devices:\n");
  PrintCandidates(ListBlockDevices(), anyPrinted);
  if (!anyPrinted) std::printf("  (none that this user can see)\n");
  for (const std::string& image : args) {
    std::printf("%s:\n", image.c_str());
    const auto candidates = ListImageDrives(image);
    for (const auto& c : candidates)
      if (c.Location.Offset == 0 && c.Size == 0 && !c.Offered) status = exBadInput;
    bool printed = false;
    PrintCandidates(candidates, printed);
  }
  return status;
}

}  // namespace restovo::cli
