// Printing the records of a scan: a readable tree, or JSON for scripts.
#pragma once

#include <cstdio>
#include <string>
#include <vector>

#include "TypesDefine.h"

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
  bool Complete = true;
};

void PrintTree(std::FILE* out, const std::vector<const TFileInfo*>& items, const TScanSummary& summary);
void PrintJson(std::FILE* out, const std::vector<const TFileInfo*>& items, const TScanSummary& summary);

}  // namespace restovo::cli
