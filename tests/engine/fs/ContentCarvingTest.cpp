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
  const std::vector<TCarvedFile> carved = MeasureCandidates(handle, candidates, claimed, {}, {});
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
  EXPECT_TRUE(MeasureCandidates(handle, candidates, {}, {}, [] { return true; }).empty());
}

// A file written around a cluster that was in use then (and still is) goes on after it:
// carved over the free space alone it is whole, read straight through it is not its own.
TEST(ContentCarving, AFileGoesOnPastClustersInUse) {
  const std::string png = FixturePath("content/picture.png"), jpeg = FixturePath("content/photo.jpg");
  REQUIRE_FIXTURE(png);
  const auto picture = ReadWholeFile(png), photo = ReadWholeFile(jpeg);
  ASSERT_GT(picture.size(), kCluster);
  std::vector<std::byte> volume(kCluster);
  std::vector<TByteRange> free, live;
  // The file's first `head` clusters, a cluster of a live file, then the rest of it.
  auto place = [&](const std::vector<std::byte>& file, std::size_t head) {
    const std::uint64_t at = volume.size();
    const std::size_t first = std::min(file.size(), head * kCluster);
    volume.insert(volume.end(), file.begin(), file.begin() + static_cast<std::ptrdiff_t>(first));
    live.push_back({volume.size(), kCluster});
    volume.resize(volume.size() + kCluster, std::byte{0xA5});
    volume.insert(volume.end(), file.begin() + static_cast<std::ptrdiff_t>(first), file.end());
    volume.resize(volume.size() + ClustersOf(volume.size()) * kCluster - volume.size());
    return at;
  };
  const std::uint64_t pictureAt = place(picture, 1), photoAt = place(photo, 3);
  volume.resize(volume.size() + kCluster);
  std::uint64_t from = 0;
  for (const TByteRange& r : live) {
    free.push_back({from, r.Start - from});
    from = r.Start + r.Length;
  }
  free.push_back({from, volume.size() - from});
  TVolumeHandle handle(MakeMemoryDevice(volume), 0, volume.size());
  TContentDetector detector(kCluster);
  detector.Inspect(0, volume);
  const std::vector<TContentCandidate> candidates = detector.Take();

  const std::vector<TCarvedFile> carved = MeasureCandidates(handle, candidates, {}, free, {});
  ASSERT_EQ(carved.size(), 2u);
  const std::pair<std::uint64_t, const std::vector<std::byte>*> expected[] = {{pictureAt, &picture}, {photoAt, &photo}};
  for (std::size_t i = 0; i < carved.size(); ++i) {
    SCOPED_TRACE(i);
    EXPECT_EQ(carved[i].Offset, expected[i].first);
    EXPECT_EQ(carved[i].Measure.Verdict, TContentVerdict::Whole);
    ASSERT_EQ(carved[i].Measure.Length, expected[i].second->size());
    ASSERT_EQ(carved[i].Pieces.size(), 2u);
    EXPECT_EQ(carved[i].Pieces[0].Start, expected[i].first);
    TRangesSource bytes(handle, carved[i].Pieces);
    std::vector<std::byte> back(bytes.Size());
    ASSERT_EQ(bytes.Read(0, back), back.size());
    EXPECT_TRUE(back == *expected[i].second) << "the file's own bytes, in order";
  }
  // Read straight through, the PNG's checksums fail on the live file's bytes; the JPEG,
  // whose coded data has none, runs on to its end over them and is not whole either.
  const std::vector<TCarvedFile> straight = MeasureCandidates(handle, candidates, {}, {}, {});
  ASSERT_EQ(straight.size(), 2u);
  EXPECT_EQ(straight[0].Measure.Verdict, TContentVerdict::Damaged);
  EXPECT_TRUE(straight[0].Pieces.empty());
  EXPECT_NE(straight[1].Measure.Length, photo.size());
}

}  // namespace
}  // namespace restovo
