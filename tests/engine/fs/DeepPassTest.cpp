#include "fs/DeepPass.h"

#include <gtest/gtest.h>

#include <cstring>
#include <memory>

#include "BadSectorDevice.h"

namespace restovo {
namespace {

TEST(DeepPass, UnitsBecomeMergedByteRanges) {
  struct Case {
    const char* name;
    std::vector<bool> wanted;
    std::vector<std::pair<std::uint64_t, std::uint64_t>> ranges;  // start, length
  } cases[] = {
      {"none", {false, false, false}, {}},
      {"all", {true, true, true}, {{1000, 1536}}},
      {"apart", {true, false, true, true, false}, {{1000, 512}, {2024, 1024}}},
      {"last only", {false, false, false, true}, {{2536, 512}}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    const auto ranges =
        RangesOfUnits(2, c.wanted.size(), 1000, 512, UINT64_MAX, [&](std::uint64_t k) { return c.wanted[k - 2]; });
    ASSERT_EQ(ranges.size(), c.ranges.size());
    for (std::size_t i = 0; i < ranges.size(); ++i) {
      EXPECT_EQ(ranges[i].Start, c.ranges[i].first);
      EXPECT_EQ(ranges[i].Length, c.ranges[i].second);
    }
  }
}

TEST(DeepPass, UnitsStopAtTheEndOfTheDevice) {
  // A boot sector may claim terabytes of clusters on a card of megabytes: only the units
  // that start on the device are looked at, however many the count says.
  std::uint64_t asked = 0;
  const auto ranges = RangesOfUnits(2, std::uint64_t{1} << 40, 1000, 512, 2100, [&](std::uint64_t) {
    ++asked;
    return true;
  });
  EXPECT_EQ(asked, 3u);
  ASSERT_EQ(ranges.size(), 1u);
  EXPECT_EQ(ranges[0].Start, 1000u);
  EXPECT_EQ(ranges[0].Length, 1536u);
  EXPECT_TRUE(RangesOfUnits(2, 10, 3000, 512, 2100, [](std::uint64_t) { return true; }).empty());
}

TEST(DeepPass, RangesAreSortedAndOverlapsMadeOne) {
  // Free clusters and a live folder's index blocks among them: each byte read once.
  const auto merged = MergeRanges({{9000, 100}, {0, 512}, {512, 512}, {4096, 0}, {300, 100}, {8000, 1500}});
  ASSERT_EQ(merged.size(), 2u);
  EXPECT_EQ(merged[0].Start, 0u);
  EXPECT_EQ(merged[0].Length, 1024u);
  EXPECT_EQ(merged[1].Start, 8000u);
  EXPECT_EQ(merged[1].Length, 1500u);
}

// Checks each block against the volume's bytes and counts how often each byte was shown.
class TRecorder final : public TDeepDetector {
 public:
  explicit TRecorder(const std::vector<std::byte>& volume) : Volume(volume), Shown(volume.size()) {}
  void Inspect(std::uint64_t offset, TBytes block) override {
    Starts.push_back(offset);
    ASSERT_LE(offset + block.size(), Volume.size());
    EXPECT_EQ(std::memcmp(block.data(), Volume.data() + offset, block.size()), 0) << offset;
    for (std::size_t i = 0; i < block.size(); ++i) ++Shown[offset + i];
  }
  const std::vector<std::byte>& Volume;
  std::vector<std::uint8_t> Shown;
  std::vector<std::uint64_t> Starts;
};

std::vector<std::byte> Pattern(std::size_t size) {
  std::vector<std::byte> bytes(size);
  for (std::size_t i = 0; i < size; ++i) bytes[i] = std::byte(static_cast<std::uint8_t>(i * 131 + i / 4096));
  return bytes;
}

// Every detector sees each byte of the ranges once, with its true offset; bad units are
// skipped and counted once, the rest of their block is still seen; a range that runs past
// the volume is read as far as the volume goes.
TEST(DeepPass, EveryDetectorSeesEveryReadableByteOnceAndBadUnitsAreCounted) {
  const std::size_t size = 12u << 20;
  const auto bytes = Pattern(size);
  // Bad bytes across two 4 KiB units of the second range: the first unit delivers its
  // first half, the second unit nothing.
  const std::uint64_t unitAt = (5u << 20) + 4096, badFrom = unitAt + 2048, badTo = badFrom + 3000;
  TVolumeHandle volume(std::make_shared<TBadSectorDevice>(bytes, std::vector<std::pair<std::uint64_t, std::uint64_t>>{{badFrom, badTo}}), 0, size);
  const std::vector<TByteRange> ranges = {{8192, 1u << 20}, {(4u << 20) + 4096, 4u << 20}, {size - 8192, 1u << 20}};
  TRecorder a(bytes), b(bytes);
  TDeepPass pass(volume, 4096);
  pass.AddDetector(&a);
  pass.AddDetector(&b);
  std::uint64_t lastDone = 0, lastTotal = 0;
  pass.OnProgress = [&](std::uint64_t done, std::uint64_t total) {
    EXPECT_GE(done, lastDone);
    lastDone = done, lastTotal = total;
  };
  const TDeepPassReport report = pass.Run(ranges);
  const std::uint64_t toRead = (1u << 20) + (4u << 20) + 8192;
  EXPECT_EQ(report.BytesToRead, toRead);
  EXPECT_EQ(lastDone, toRead);
  EXPECT_EQ(lastTotal, toRead);
  EXPECT_EQ(report.UnreadBytes, 6144u);
  EXPECT_EQ(report.FailedReads, 2u);
  EXPECT_EQ(report.BytesRead, toRead - 6144);
  EXPECT_EQ(volume.UnreadBytes(), 6144u) << "the failed block is counted by its units only";
  EXPECT_EQ(volume.FailedReads(), 2u);
  EXPECT_FALSE(report.Stopped);
  for (const TRecorder* r : {&a, &b}) {
    std::vector<std::uint8_t> expected(size);
    for (const TByteRange& range : ranges)
      for (std::uint64_t at = range.Start; at < std::min<std::uint64_t>(range.Start + range.Length, size); ++at)
        expected[at] = at >= badFrom && at < unitAt + 8192 ? 0 : 1;
    EXPECT_TRUE(r->Shown == expected);
    for (std::uint64_t start : r->Starts) EXPECT_EQ(start % 4096, 0u);
  }
}

TEST(DeepPass, StopEndsThePassWithinABlock) {
  const std::vector<std::byte> bytes(3 * TDeepPass::kBlockBytes);
  TVolumeHandle volume(MakeMemoryDevice(bytes), 0, bytes.size());
  TRecorder r(bytes);
  TDeepPass pass(volume, 512);
  pass.AddDetector(&r);
  int checks = 0;
  pass.StopRequested = [&] { return ++checks > 1; };
  const TDeepPassReport report = pass.Run({{0, bytes.size()}});
  EXPECT_TRUE(report.Stopped);
  EXPECT_EQ(report.BytesRead, TDeepPass::kBlockBytes);
  EXPECT_EQ(r.Starts.size(), 1u);
}

}  // namespace
}  // namespace restovo
