#include "Source.h"

#include <cstdio>
#include <cstdlib>
#include <filesystem>

namespace restovo::cli {

int SelectDrive(TRecoveryHelper& helper, const std::string& source, int partition) {
  std::error_code ec;
  if (!std::filesystem::exists(source, ec)) {
    std::fprintf(stderr, "restovo-cli: %s: no such file or device\n", source.c_str());
    return -1;
  }
  const auto found = helper.AddImage(source);
  std::vector<const TDriveCandidate*> offered;
  for (const auto& c : found)
    if (c.Offered) offered.push_back(&c);

  if (partition > 0) {
    for (const auto* c : offered)
      if (c->Location.PartitionNumber == partition) return helper.AddDrive(*c);
    for (const auto& c : found) {
      if (c.Location.PartitionNumber == partition) {
        std::fprintf(stderr, "restovo-cli: %s partition %d cannot be scanned: %s\n", source.c_str(),
                     partition, c.Reason.c_str());
        return -1;
      }
    }
    std::fprintf(stderr, "restovo-cli: %s has no partition %d\n", source.c_str(), partition);
    return -1;
  }
  if (offered.size() == 1) return helper.AddDrive(*offered[0]);
  if (offered.empty()) {
    std::fprintf(stderr, "restovo-cli: %s holds no FAT or NTFS volume that can be scanned\n",
                 source.c_str());
    for (const auto& c : found) std::fprintf(stderr, "  %s: %s\n", c.Name.c_str(), c.Reason.c_str());
    return -1;
  }
  std::fprintf(stderr, "restovo-cli: %s holds several volumes; choose one with --partition N:\n",
               source.c_str());
  for (const auto* c : offered)
    std::fprintf(stderr, "  --partition %d   %s (%s)\n", c->Location.PartitionNumber,
                 c->Name.c_str(), c->FileSystem.c_str());
  return -1;
}

bool ParsePartition(const std::string& command, const std::string& text, int& partition) {
  char* end = nullptr;
  const long n = std::strtol(text.c_str(), &end, 10);
  if (*end != '\0' || n <= 0 || n > 1000) {
    std::fprintf(stderr, "restovo-cli %s: --partition takes a partition number\n", command.c_str());
    return false;
  }
  partition = static_cast<int>(n);
  return true;
}

}  // namespace restovo::cli
