// Files found by content on a volume in memory: real files at cluster starts, the pass's
// detector over them, and what is measured once the files found by structure are known.
#include <gtest/gtest.h>

#include <filesystem>

#include "fs/ContentCarving.h"
#include "TestSupport.h"

namespace restovo {
namespace {

constexpr std::uint32_t kCluster = 4096;

std::size_t ClustersOf(std::size_t bytes) { return (bytes + kCluster - 1) / kCluster; }

TEST(ContentCarving, WhatFoundFilesClaimAndWhatLiesInsideACarvedFileIsNotCarvedAgain) {
  const std::string jpeg = FixturePath("content/photo.jpg"), png = FixturePath("content/picture.png");
  const std::string bmp = FixturePath("content/picture.bmp");
  REQUIRE_FIXTURE(jpeg);
  const auto photo = ReadWholeFile(jpeg), picture = ReadWholeFile(png);
  // A bitmap whose pixels, from its second cluster on, happen to be a whole PNG: it is one
  // file, the bitmap.
  auto bitmap = ReadWholeFile(bmp);
  ASSERT_GT(bitmap.size(), kCluster + picture.size());
  std::copy(picture.begin(), picture.end(), bitmap.begin() + kCluster);
  // The volume: the photo at cluster 1, the picture behind it, the bitmap, and the picture
  // again at the end.
  std::vector<std::byte> volume(kCluster);
  auto place = [&](const std::vector<std::byte>& file) {
    const std::uint64_t at = volume.size();
    volume.insert(volume.end(), file.begin(), file.end());
    volume.resize(volume.size() + ClustersOf(file.size()) * kCluster - file.size());
    return at;
  };
  const std::uint64_t photoAt = place(photo), pictureAt = place(picture), bitmapAt = place(bitmap),
                      lastAt = place(picture);
  TVolumeHandle handle(MakeMemoryDevice(volume), 0, volume.size());

  TContentDetector detector(kCluster);
  detector.Inspect(0, volume);
  const std::vector<TContentCandidate> candidates = detector.Take();
  ASSERT_EQ(candidates.size(), 5u);

  // The picture behind the photo belongs to a file found by its record.
  const std::vector<TByteRange> claimed = {{pictureAt, ClustersOf(picture.size()) * kCluster}};
  const std::vector<TCarvedFile> carved = MeasureCandidates(handle, candidates, claimed, {});
  ASSERT_EQ(carved.size(), 3u);
  const std::pair<std::uint64_t, std::size_t> expected[] = {
      {photoAt, photo.size()}, {bitmapAt, bitmap.size()}, {lastAt, picture.size()}};
  for (std::size_t i = 0; i < carved.size(); ++i) {
    SCOPED_TRACE(i);
    EXPECT_EQ(carved[i].Offset, expected[i].first);
    EXPECT_EQ(carved[i].Measure.Length, expected[i].second);
    EXPECT_EQ(carved[i].Measure.Verdict, TContentVerdict::Whole);
  }
  // A stop ends the measuring: nothing more is carved.
  EXPECT_TRUE(MeasureCandidates(handle, candidates, {}, [] { return true; }).empty());
}

}  // namespace
}  // namespace restovo
