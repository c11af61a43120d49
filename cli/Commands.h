// The subcommands of restovo-cli. Each returns the process exit code.
#pragma once

#include <string>
#include <vector>

namespace restovo::cli {

enum TExitCode : int { exDone = 0, exBadInput = 1, exStopped = 2 };

int RunDrives(const std::vector<std::string>& args);
int RunScan(const std::vector<std::string>& args);
int RunRestore(const std::vector<std::string>& args);

}  // namespace restovo::cli
