// The FAT scanner on images made by mkfs.fat and mtools, and on the forensic sample,
// checked against what was written into them.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <map>
#include <set>
#include <sstream>

#include "volume/DriveList.h"
#include "fs/fat/FatScaner.h"
#include "ImageChecks.h"
#include "TestSupport.h"

namespace restovo {
namespace {

// A deleted entry without a long name has lost its first character, which the scan
// shows as "$": an upper-case 8.3 name is stored without one.
std::string ExpectedName(const std::string& name) {
  const auto dot = name.find('.');
  const std::string base = name.substr(0, dot);
  const std::string ext = dot == std::string::npos ? "" : name.substr(dot + 1);
  bool shortOnly = !base.empty() && base.size() <= 8 && ext.size() <= 3 && name.find(' ') == std::string::npos;
  for (char c : name) shortOnly &= (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '.' || c == '_';
  return shortOnly ? "$" + name.substr(1) : name;
}

// Each deleted component of a path (the file, and folders deleted with it) as listed.
std::string ExpectedPath(const std::string& path, const std::set<std::string>& deletedFolders) {
  std::string original, out;
  std::istringstream parts(path.substr(1));
  std::string part;
  while (std::getline(parts, part, '/')) {
    original += "/" + part;
    const bool deleted = original == path || deletedFolders.count(original);
    out += "/" + (deleted ? ExpectedName(part) : part);
  }
  return out;
}

class FatImages : public ::testing::TestWithParam<const char*> {};

TEST_P(FatImages, EveryDeletedFileIsFoundWithItsSizeAndAFairVerdict) {
  const std::string image = FixturePath(std::string(GetParam()) + ".img");
  REQUIRE_FIXTURE(image);
  const auto manifest = ReadManifest(FixturePath(std::string(GetParam()) + ".manifest.tsv"));
  const auto disk = OpenImage(image);
  ASSERT_NE(disk, nullptr);
  auto s = CreateScaner(disk.get());
  s->Scan();
  const auto found = FoundPaths(*s);

  std::set<std::string> deletedFolders;
  for (const ManifestLine& m : manifest)
    if (m.Kind == "dir" && m.Status == "deleted") deletedFolders.insert(m.Path);
  std::map<std::string, std::string> deleted;  // expected path → status
  for (const ManifestLine& m : manifest) {
    if (m.Kind != "file" || m.Status.find("live") != std::string::npos) continue;
    const std::string path = ExpectedPath(m.Path, deletedFolders);
    deleted[path] = m.Status;
    const auto it = found.find(path);
    ASSERT_NE(it, found.end()) << m.Path << " (as " << path << ") was not found";
    const TFileInfo* r = it->second;
    EXPECT_EQ(r->Size, m.Size) << path;
    EXPECT_FALSE(r->IsFolder) << path;
    if (m.Status == "deleted") {
      EXPECT_EQ(r->State, rsGood) << path;
    } else if (path != "/Data/Hole Two.bin") {
      // Overwritten and fragmented files have clusters in use now. (Hole Two's clusters
      // were taken by a file that was itself deleted later, so they are free again.)
      EXPECT_NE(r->State, rsGood) << path << " " << m.Status;
    }
    // Every deleted non-empty file is listed; empty ones only sit in the tree.
    const bool listed = std::find(s->Items.begin(), s->Items.end(), r) != s->Items.end();
    EXPECT_EQ(listed, m.Size > 0) << path;
  }
  // Nothing but deleted files and the folders above them.
  for (const auto& [path, r] : found) {
    EXPECT_TRUE(r->IsFolder || deleted.count(path)) << path << " listed but not deleted";
  }
}

INSTANTIATE_TEST_SUITE_P(AllVariants, FatImages, ::testing::Values("fat12", "fat16", "fat32"));

TEST(FatImages, ForensicSampleMatchesTheOriginalFiles) {
  const std::string image = FixturePath("fs.vfat");
  const std::string originals = "/usr/share/forensics-samples/original-files";
  REQUIRE_FIXTURE(image);
  REQUIRE_FIXTURE(originals);
  const auto candidates = ListImageDrives(image);
  ASSERT_EQ(candidates.size(), 1u);
  TDiskObject disk(candidates[0].Root, candidates[0].Name, candidates[0].Location);
  auto s = CreateScaner(&disk);
  s->Scan();
  const auto found = FoundPaths(*s);
  int files = 0;
  for (const char* folder : {"audio2", "movie2", "pic2", "text2"}) {
    const auto deletedFolder = found.find(std::string("/") + folder);
    ASSERT_NE(deletedFolder, found.end()) << folder;
    EXPECT_FALSE(deletedFolder->second->InUse);
    for (const auto& original : std::filesystem::directory_iterator(originals + "/" + folder)) {
      const std::string path = std::string("/") + folder + "/" + original.path().filename().string();
      const auto it = found.find(path);
      // Two entries of pic2 lie in a directory cluster the deleted folder no longer links.
      if (it == found.end() && (path == "/pic2/d-debian.ppm" || path == "/pic2/d-debian.xcf")) continue;
      ASSERT_NE(it, found.end()) << path;
      EXPECT_EQ(it->second->Size, static_cast<std::int64_t>(original.file_size())) << path;
      EXPECT_EQ(it->second->State, rsGood) << path;
      ++files;
    }
  }
  EXPECT_EQ(files, 16);
  EXPECT_EQ(s->Items.size(), 16u);
}

}  // namespace
}  // namespace restovo
