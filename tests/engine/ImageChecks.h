// Reading what the fixture builders wrote beside their images, and what a scan found.
#pragma once

#include <fstream>
#include <map>
#include <memory>
#include <sstream>
#include <string>
#include <vector>

#include "fs/DiskScaner.h"
#include "volume/DriveList.h"

namespace restovo {

struct ManifestLine {
  std::string Path;
  std::int64_t Size = 0;
  std::string Sha256;
  std::string Kind;
  std::string Status;
};

inline std::vector<ManifestLine> ReadManifest(const std::string& path) {
  std::vector<ManifestLine> out;
  std::ifstream in(path);
  std::string line;
  while (std::getline(in, line)) {
    if (line.empty() || line[0] == '#') continue;
    std::istringstream f(line);
    ManifestLine m;
    std::string size;
    std::getline(f, m.Path, '\t');
    std::getline(f, size, '\t');
    std::getline(f, m.Sha256, '\t');
    std::getline(f, m.Kind, '\t');
    std::getline(f, m.Status, '\t');
    m.Size = std::stoll(size);
    out.push_back(m);
  }
  return out;
}

// "/a/b" for every linked record, from the records the scan made.
inline std::map<std::string, const TFileInfo*> FoundPaths(const TDiskScaner& s) {
  std::map<std::string, const TFileInfo*> out;
  std::vector<std::pair<const TFileInfo*, std::string>> stack{{s.RootItem, ""}};
  while (!stack.empty()) {
    auto [item, path] = stack.back();
    stack.pop_back();
    if (!item || !item->Children) continue;
    for (const TFileInfo* c : *item->Children) {
      out[path + "/" + c->Name] = c;
      stack.push_back({c, path + "/" + c->Name});
    }
  }
  return out;
}

inline std::unique_ptr<TDiskObject> OpenImage(const std::string& image) {
  const auto candidates = ListImageDrives(image);
  if (candidates.size() != 1 || !candidates[0].Offered) return nullptr;
  const auto& c = candidates[0];
  return std::make_unique<TDiskObject>(c.Root, c.Name, c.Location);
}

}  // namespace restovo
