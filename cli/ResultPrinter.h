// Printing the records of a scan: a readable tree, or JSON for scripts.
#pragma once

#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

#include "records/TypesDefine.h"

namespace restovo::cli {

// The found items in tree order: every linked record below the root, depth first.
std::vector<const TFileInfo*> CollectTree(const TFileInfo* root);
// "card.img/DCIM/100CANON/IMG_0001.JPG"; folders end with "/".
std::string ItemPath(const TFileInfo* item);
// "2024-07-01 12:30:15" in local time; empty for 0.
std::string LocalTimeText(FILETIME time);

struct TScanSummary {
  std::string Volume;
  std::string FileSystem;
  bool Stopped = false;
  std::uint64_t FailedReads = 0;  // reads of the volume that failed or came back short
  std::uint64_t UnreadBytes = 0;  // the bytes those reads did not deliver, and MissingTail
  std::uint64_t MissingTail = 0;  // the part of the volume past the end of its source
  bool Deep = false;              // free space was read too
  std::uint64_t DeepBytesRead = 0;
  double DeepSeconds = 0;
  // A scan is complete when it ran to its end and read everything it asked for.
  bool Complete() const { return !Stopped && UnreadBytes == 0; }
};

void PrintTree(std::FILE* out, const std::vector<const TFileInfo*>& items, const TScanSummary& summary);
void PrintJson(std::FILE* out, const std::vector<const TFileInfo*>& items, const TScanSummary& summary);

}  // namespace restovo::cli
