#include "recovery/RestoreSelection.h"

#include <unordered_set>
#include <vector>

namespace restovo {

namespace {

bool UnderPrefix(const std::string& path, std::string prefix) {
  while (!prefix.empty() && prefix.back() == '/') prefix.pop_back();
  while (!prefix.empty() && prefix.front() == '/') prefix.erase(0, 1);
  if (prefix.empty()) return true;
  return path == prefix || path.rfind(prefix + "/", 0) == 0;
}

// Deleted files in or below a folder, each counted once however the tree is shaped.
std::int64_t CountFiles(const TFileInfo* folder, std::unordered_set<const TFileInfo*>& seen) {
  std::int64_t files = 0;
  std::vector<const TFileInfo*> pending{folder};
  while (!pending.empty()) {
    const TFileInfo* dir = pending.back();
    pending.pop_back();
    if (!dir->Children) continue;
    for (const TFileInfo* child : *dir->Children) {
      if (!child || !seen.insert(child).second) continue;
      if (child->IsFolder) pending.push_back(child);
      else if (!child->InUse) ++files;
    }
  }
  return files;
}

}  // namespace

std::string RelativePath(const TFileInfo* item) {
  std::string path;
  for (const TFileInfo* p = item; p != nullptr && p->Parent != nullptr; p = p->Parent)
    path = p->Name + (path.empty() ? "" : "/" + path);
  return path;
}

TRestoreSelection SelectMatching(const TFileInfo* root, const TNamePatterns& patterns, const std::string& prefix,
                                 bool onlyGood) {
  TRestoreSelection result;
  if (!root) return result;
  auto only = std::make_shared<TRecordSet>();
  std::vector<const TFileInfo*> pending{root};
  while (!pending.empty()) {
    const TFileInfo* dir = pending.back();
    pending.pop_back();
    if (!dir->Children) continue;
    for (const TFileInfo* item : *dir->Children) {
      if (!item) continue;
      if (item->IsFolder) {
        pending.push_back(item);
        continue;
      }
      if (item->InUse || (onlyGood && item->State != rsGood) || !patterns.Matches(item->Name) ||
          !UnderPrefix(RelativePath(item), prefix))
        continue;
      if (!only->insert(item).second) continue;
      ++result.Files;
      for (const TFileInfo* p = item->Parent; p != nullptr && only->insert(p).second; p = p->Parent) {
      }
    }
  }
  if (root->Children)
    for (TFileInfo* child : *root->Children)
      if (only->count(child)) result.Top.push_back(child);
  result.Only = std::move(only);
  return result;
}

TRestoreSelection SelectPicked(const TFileItems& picked) {
  TRestoreSelection result;
  const std::unordered_set<const TFileInfo*> chosen(picked.begin(), picked.end());
  std::unordered_set<const TFileInfo*> seen;
  for (TFileInfo* record : picked) {
    if (!record) continue;
    bool belowPicked = false;
    for (const TFileInfo* p = record->Parent; p != nullptr && !belowPicked; p = p->Parent)
      belowPicked = p->IsFolder && chosen.count(p) != 0;
    if (belowPicked || !seen.insert(record).second) continue;
    result.Top.push_back(record);
    if (record->IsFolder) result.Files += CountFiles(record, seen);
    else if (!record->InUse) ++result.Files;
  }
  return result;
}

}  // namespace restovo
