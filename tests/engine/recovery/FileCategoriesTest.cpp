#include "recovery/FileCategories.h"

#include <gtest/gtest.h>

#include "TestSupport.h"

namespace restovo {
namespace {

TEST(FileCategories, ByExtension) {
  const AFilterResult categories = CreateCategories();
  const std::pair<const char*, int> cases[] = {
      {"IMG_0001.JPG", catImages},      {"cat.png", catImages},          {"song.Mp3", catAudios},
      {"clip.RM", catVideos},           {"clip.mpe", catVideos},         {"film.rmvb", catVideos},
      {"report.docx", catDocuments},    {"control.ocx", catDocuments},   {"backup.7z", catCompressed},
      {"mail.eml", catEmail},           {"$I1A2B3C.jpg", catImages},     {"archive.tar.gz", -1},
      {"truncated.jp", -1},             {"README", -1},                  {"trailing.", -1},
      {"notes.txt", -1},
  };
  for (const auto& [name, expected] : cases) EXPECT_EQ(CategoryOf(categories, name), expected) << name;
}

}  // namespace
}  // namespace restovo
