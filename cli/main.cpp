// restovo-cli: find and restore deleted files from a terminal.
#include <cstdio>
#include <string>
#include <vector>

#include "Commands.h"

namespace {

const char* const kUsage =
    "Usage: restovo-cli COMMAND [ARGS]\n"
    "\n"
    "Commands:\n"
    "  drives [IMAGE ...]   list the volumes that can be scanned: this machine's block\n"
    "                       devices and the partitions of each disk image given\n"
    "  scan SOURCE [--partition N] [--json]\n"
    "                       find the deleted files and folders of a volume\n"
    "  restore SOURCE --to DIR [--partition N] [--match PATTERN ...] [--path PREFIX]\n"
    "          [--existing rename|skip|overwrite]\n"
    "                       bring deleted files back into DIR, with their folders\n"
    "  help                 show this text\n"
    "\n"
    "Exit codes: 0 done, 1 bad arguments or unreadable source, 2 stopped,\n"
    "3 some files could not be restored.\n";

}  // namespace

int main(int argc, char** argv) {
  std::vector<std::string> args(argv + 1, argv + argc);
  if (args.empty() || args[0] == "help" || args[0] == "--help" || args[0] == "-h") {
    std::fputs(kUsage, args.empty() ? stderr : stdout);
    return args.empty() ? restovo::cli::exBadInput : restovo::cli::exDone;
  }
  const std::string command = args[0];
  args.erase(args.begin());
  if (command == "drives") return restovo::cli::RunDrives(args);
  if (command == "scan") return restovo::cli::RunScan(args);
  if (command == "restore") return restovo::cli::RunRestore(args);
  std::fprintf(stderr, "restovo-cli: unknown command '%s'\n\n%s", command.c_str(), kUsage);
  return restovo::cli::exBadInput;
}
