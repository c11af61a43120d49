// Where restored files may go: never onto the volume they come from.
#pragma once

#include <string>

#include "fs/DiskScaner.h"

namespace restovo {

inline constexpr const char* kSameVolumeText =
    "The destination folder is on the volume being recovered. Writing there could overwrite "
    "the deleted files; choose a folder on another drive.";

// Empty when restored files may be written below destDir; otherwise the reason they may
// not: the folder lies on the scanned volume (the same device, a loop device backing the
// scanned image, a partition overlapping it) or inside its mount point.
std::string CheckRestoreDestination(const TDiskObject& disk, const std::string& destDir,
                                    const TSystemPaths& paths = {});

}  // namespace restovo
