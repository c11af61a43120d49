// Choosing the volume of a source (image or device) that a command works on.
#pragma once

#include <string>

#include "RecoveryHelper.h"

namespace restovo::cli {

// Adds the source's offered volumes to the coordinator and picks one: the given partition
// number, or the only volume. On failure prints why to stderr and returns -1.
int SelectDrive(TRecoveryHelper& helper, const std::string& source, int partition);

}  // namespace restovo::cli
