// Choosing the volume of a source (image or device) that a command works on.
#pragma once

#include <string>

#include "recovery/RecoveryHelper.h"

namespace restovo::cli {

// Adds the source's offered volumes to the coordinator and picks one: the given partition
// number, or the only volume. On failure prints why to stderr and returns -1.
int SelectDrive(TRecoveryHelper& helper, const std::string& source, int partition);

// The value of --partition: a number from 1 to 1000, else a message and false.
bool ParsePartition(const std::string& command, const std::string& text, int& partition);

}  // namespace restovo::cli
