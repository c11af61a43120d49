#include "fs/fat/FatPreviousLayout.h"

#include <gtest/gtest.h>

#include <cstring>
#include <optional>

#include "FatTestVolume.h"

namespace restovo {
namespace {

constexpr std::uint64_t kVolume = 64ull << 20;

TEST(FatPreviousLayout, TwoFoldersTellTheLayoutOnlyWhenTheyCanBeOfOne) {
  struct Case {
    const char* name;
    TDotSighting a, b;
    std::optional<TFatDataLayout> layout;
  };
  const std::uint64_t base = 0x9200;
  const Case cases[] = {
      {"1 KiB clusters", {base + 8 * 1024, 10, 0}, {base + 28 * 1024, 30, 10},
       TFatDataLayout{base, 1024, static_cast<std::uint32_t>((kVolume - base) / 1024 + 1)}},
      {"the same, seen the other way round", {base + 28 * 1024, 30, 10}, {base + 8 * 1024, 10, 0},
       TFatDataLayout{base, 1024, static_cast<std::uint32_t>((kVolume - base) / 1024 + 1)}},
      {"32 KiB clusters from cluster 2", {base, 2, 0}, {base + 3 * 32768, 5, 2},
       TFatDataLayout{base, 32768, static_cast<std::uint32_t>((kVolume - base) / 32768 + 1)}},
      {"clusters of 1.5 KiB", {base, 2, 0}, {base + 3 * 1536, 5, 2}, std::nullopt},
      {"clusters of 128 KiB", {base, 2, 0}, {base + 131072, 3, 2}, std::nullopt},
      {"one folder seen twice", {base, 7, 0}, {base + 4096, 7, 0}, std::nullopt},
      {"higher cluster lying before the lower", {base + 4096, 3, 0}, {base, 9, 0}, std::nullopt},
      {"a data area that would start before the volume", {1024, 900, 0}, {2048, 901, 0}, std::nullopt},
      {"a data area not on a sector", {base + 100, 2, 0}, {base + 100 + 4096, 3, 0}, std::nullopt},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    EXPECT_EQ(LayoutFromSightings(c.a, c.b, kVolume), c.layout);
  }
}

// A FAT16 volume with 4 KiB clusters, and in its data area the folders of an older one with
// 1 KiB clusters whose data area began 1.5 KiB further on.
class OlderVolume : public ::testing::Test {
 protected:
  OlderVolume() : V("-F 16 -s 8", 32000) {
    Own = {V.DataStart, V.ClusterSize(), V.Clusters + 1};
    Old = {V.DataStart + 3 * 512, 1024, static_cast<std::uint32_t>((V.Bytes.size() - V.DataStart - 1536) / 1024 + 1)};
  }
  void Folder(std::uint32_t k, std::uint32_t parent, const char* entry, std::uint32_t cluster, bool folder) {
    const std::uint64_t at = Old.Offset(k);
    V.Entry(at, ".          ", 0x10, k, 0);
    V.Entry(at + 32, "..         ", 0x10, parent, 0);
    V.Entry(at + 64, entry, folder ? 0x10 : 0x20, cluster, folder ? 0 : 3000);
  }
  // The data area handed over in blocks of one cluster, as a pass over free clusters does,
  // then what came before the layout was told, again.
  void Pass(TFatPreviousLayoutDetector& d) {
    std::vector<TByteRange> ranges{{V.DataStart, V.Bytes.size() - V.DataStart}};
    for (std::uint64_t at = V.DataStart; at + V.ClusterSize() <= V.Bytes.size(); at += V.ClusterSize())
      d.Inspect(at, TBytes(V.Bytes).subspan(at, V.ClusterSize()));
    d.BeginRevisit();
    for (const TByteRange& r : d.RevisitRanges(ranges))
      for (std::uint64_t at = r.Start; at < r.Start + r.Length; at += V.ClusterSize())
        d.Inspect(at, TBytes(V.Bytes).subspan(at, std::min<std::uint64_t>(V.ClusterSize(), r.Start + r.Length - at)));
  }
  FatTestVolume V;
  TFatDataLayout Own, Old;
};

TEST_F(OlderVolume, ItsLayoutIsToldAndItsFoldersFoundFromTheFirstOn) {
  // The old root (cluster 2, no dots) lies before the two folders that tell the layout.
  V.Entry(Old.Offset(2), "PHOTOS     ", 0x10, 10, 0);
  V.Entry(Old.Offset(2) + 32, "README  TXT", 0x20, 50, 100);
  Folder(10, 0, "A       JPG", 20, false);
  Folder(30, 0, "LETTERS    ", 31, true);
  Folder(31, 30, "B       TXT", 40, false);
  TFatPreviousLayoutDetector d(Own, V.Bytes.size());
  Pass(d);
  ASSERT_TRUE(d.Layout());
  EXPECT_EQ(*d.Layout(), Old);
  EXPECT_GT(d.ToldAt(), Old.Offset(2));
  std::vector<std::uint32_t> clusters;
  for (const auto& f : d.Found()) clusters.push_back(f.Cluster);
  EXPECT_EQ(clusters, (std::vector<std::uint32_t>{2, 10, 30, 31}));
}

TEST_F(OlderVolume, TheVolumesOwnFoldersTellNothing) {
  for (const std::uint32_t k : {5u, 9u, 12u}) {
    V.Entry(V.ClusterOffset(k), ".          ", 0x10, k, 0);
    V.Entry(V.ClusterOffset(k) + 32, "..         ", 0x10, 0, 0);
  }
  TFatPreviousLayoutDetector d(Own, V.Bytes.size());
  Pass(d);
  EXPECT_FALSE(d.Layout());
  EXPECT_TRUE(d.Found().empty());
}

}  // namespace
}  // namespace restovo
