#include "io/VolumeAccess.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <cstring>
#include <fstream>
#include <numeric>

#include "TestSupport.h"

namespace restovo {
namespace {

// A file of `size` bytes where byte i holds i mod 251, so any misplaced read shows.
std::string MakePatternFile(const TempDir& dir, std::size_t size) {
  const std::string path = dir.Path() + "/pattern.img";
  std::ofstream out(path, std::ios::binary);
  for (std::size_t i = 0; i < size; ++i) out.put(static_cast<char>(i % 251));
  return path;
}

TEST(VolumeAccess, EmptyPathAndMissingFilesGiveInvalidHandles) {
  EXPECT_FALSE(OpenVolume(TVolumeLocation{}).IsValid());
  TVolumeLocation missing;
  missing.Source = "/nonexistent/restovo.img";
  const TVolumeHandle h = OpenVolume(missing);
  EXPECT_FALSE(h.IsValid());
  EXPECT_EQ(h.OpenError, ENOENT);
  TempDir dir;
  missing.Source = dir.Path();
  EXPECT_EQ(OpenVolume(missing).OpenError, EISDIR);
  std::byte buf[16];
  EXPECT_EQ(ReadVolume(h, buf, 16, 0), 0u);
  EXPECT_EQ(ReadVolumeCopy(h, buf, 16, 0), 0u);
}

TEST(VolumeAccess, ShortReadsAtTheEndOfAnImage) {
  TempDir dir;
  TVolumeLocation loc;
  loc.Source = MakePatternFile(dir, 8192);
  const TVolumeHandle h = OpenVolume(loc);
  ASSERT_TRUE(h.IsValid());
  EXPECT_EQ(h.Size(), 8192u);

  std::vector<std::byte> buf(4096);
  EXPECT_EQ(ReadVolume(h, buf.data(), 4096, 8192 - 2048), 2048u);
  EXPECT_EQ(buf[0], std::byte((8192 - 2048) % 251));
  EXPECT_EQ(ReadVolume(h, buf.data(), 512, 8192), 0u);
  EXPECT_EQ(ReadVolume(h, buf.data(), 512, UINT64_MAX - 10), 0u);
  EXPECT_EQ(ReadVolumeCopy(h, buf.data(), 512, UINT64_MAX), 0u);
  // The end of the source is no read error.
  EXPECT_EQ(h.FailedReads(), 0u);
}

// A device that fails at one stretch and gives up half-way at another.
class TFlakyDevice final : public TVolumeDevice {
 public:
  std::int64_t ReadAt(void* buffer, std::size_t count, std::uint64_t offset) override {
    if (offset < 4096 && offset + count > 2048) return -1;
    std::memset(buffer, 0x5A, count);
    return offset >= 8192 ? static_cast<std::int64_t>(count / 2) : static_cast<std::int64_t>(count);
  }
  std::uint64_t Size() const override { return 16384; }
};

TEST(VolumeAccess, FailedAndShortReadsAreCountedWithTheBytesTheyMissed) {
  TVolumeLocation loc;
  loc.Memory = std::make_shared<TFlakyDevice>();
  const TVolumeHandle h = OpenVolume(loc);
  std::vector<std::byte> buf(4096);
  EXPECT_EQ(ReadVolume(h, buf.data(), 1024, 0), 1024u);
  EXPECT_EQ(ReadVolume(h, buf.data(), 4096, 0), 0u);
  EXPECT_EQ(ReadVolume(h, buf.data(), 1000, 8192), 500u);
  EXPECT_EQ(ReadVolumeCopy(h, buf.data(), 1024, 12288), 512u);
  EXPECT_EQ(ReadVolume(h, buf.data(), 4096, 16384), 0u);  // past the end: not an error
  // Copies of the handle share the counts.
  const TVolumeHandle copy = h;
  EXPECT_EQ(copy.FailedReads(), 3u);
  EXPECT_EQ(copy.UnreadBytes(), 4096u + 500 + 512);
  copy.ResetReadStats();
  EXPECT_EQ(h.UnreadBytes(), 0u);
}

TEST(VolumeAccess, ReadResultsTellFailedReadsFromEmptyOnes) {
  TVolumeLocation loc;
  loc.Memory = std::make_shared<TFlakyDevice>();
  const TVolumeHandle h = OpenVolume(loc);
  std::vector<std::byte> buf(4096);
  struct Case {
    std::uint32_t count;
    std::uint64_t offset;
    std::uint32_t bytes;
    TReadResult result;
    std::uint64_t failedReads;  // counted by this read
  };
  const Case cases[] = {
      {1024, 0, 1024, TReadResult::Ok, 0},
      {0, 0, 0, TReadResult::Ok, 0},            // nothing asked, nothing missing
      {4096, 0, 0, TReadResult::Unreadable, 1},  // the device's -1
      {1000, 8192, 500, TReadResult::Unreadable, 1},
      {512, 16384, 0, TReadResult::Unreadable, 0},  // past the end: missing, not a failed read
  };
  for (const Case& c : cases) {
    const std::uint64_t before = h.FailedReads();
    TReadResult result = TReadResult::NotThis;
    EXPECT_EQ(ReadVolume(h, buf.data(), c.count, c.offset, &result), c.bytes) << c.offset;
    EXPECT_EQ(result, c.result) << c.count << " at " << c.offset;
    EXPECT_EQ(ReadVolumeExact(h, buf.data(), c.count, c.offset), c.result) << c.count << " at " << c.offset;
    EXPECT_EQ(h.FailedReads() - before, 2 * c.failedReads) << c.count << " at " << c.offset;
  }
  EXPECT_EQ(ReadVolumeExact(TVolumeHandle(), buf.data(), 1, 0), TReadResult::Unreadable);
}

TEST(VolumeAccess, CopyReadLeavesBytesPastAShortReadUntouched) {
  TempDir dir;
  TVolumeLocation loc;
  loc.Source = MakePatternFile(dir, 1536);
  const TVolumeHandle h = OpenVolume(loc);
  std::vector<std::byte> buf(1024, std::byte{0xAA});
  EXPECT_EQ(ReadVolumeCopy(h, buf.data(), 1024, 1024), 512u);
  EXPECT_EQ(buf[0], std::byte(1024 % 251));
  EXPECT_EQ(buf[511], std::byte((1024 + 511) % 251));
  for (std::size_t i = 512; i < 1024; ++i) ASSERT_EQ(buf[i], std::byte{0xAA}) << i;

  std::fill(buf.begin(), buf.end(), std::byte{0xAA});
  EXPECT_EQ(ReadVolumeCopy(h, buf.data(), 1024, 4096), 0u);
  EXPECT_EQ(buf[0], std::byte{0xAA});
}

TEST(VolumeAccess, PartitionWindowClipsReadsAtItsEnd) {
  TempDir dir;
  TVolumeLocation loc;
  loc.Source = MakePatternFile(dir, 8192);
  loc.Offset = 1024;
  loc.Length = 2048;
  const TVolumeHandle h = OpenVolume(loc);
  std::vector<std::byte> buf(4096);
  EXPECT_EQ(ReadVolume(h, buf.data(), 4096, 1024), 1024u);
  EXPECT_EQ(buf[0], std::byte(2048 % 251));
  EXPECT_EQ(ReadVolume(h, buf.data(), 16, 2048), 0u);

  // A window that reaches past the source is cut to the source.
  loc.Offset = 6144;
  loc.Length = 1u << 20;
  EXPECT_EQ(OpenVolume(loc).Size(), 2048u);
  loc.Offset = 1u << 20;
  EXPECT_EQ(OpenVolume(loc).Size(), 0u);
}

TEST(VolumeAccess, MemoryVolumes) {
  std::vector<std::byte> bytes(1000);
  std::iota(reinterpret_cast<unsigned char*>(bytes.data()),
            reinterpret_cast<unsigned char*>(bytes.data()) + 1000, 0);
  TVolumeLocation loc;
  loc.Memory = MakeMemoryDevice(bytes);
  loc.Offset = 100;
  const TVolumeHandle h = OpenVolume(loc);
  std::byte buf[8];
  EXPECT_EQ(ReadVolume(h, buf, 8, 0), 8u);
  EXPECT_EQ(buf[0], std::byte{100});
  EXPECT_EQ(ReadVolume(h, buf, 8, 896), 4u);
}

TEST(VolumeAccess, HandlesAreOpenedReadOnly) {
  TempDir dir;
  TVolumeLocation loc;
  loc.Source = MakePatternFile(dir, 4096);
  const TVolumeHandle h = OpenVolume(loc);
  ASSERT_TRUE(h.IsValid());
  // Every descriptor on the image must be read-only: look at the flags the kernel reports.
  int onImage = 0;
  for (const auto& fd : std::filesystem::directory_iterator("/proc/self/fd")) {
    std::error_code ec;
    if (std::filesystem::read_symlink(fd.path(), ec) != loc.Source) continue;
    ++onImage;
    std::ifstream info("/proc/self/fdinfo/" + fd.path().filename().string());
    std::string key, flags;
    while (info >> key >> flags && key != "flags:") {
    }
    EXPECT_EQ(std::stoi(flags, nullptr, 8) & 3, 0) << "O_RDONLY expected";
  }
  EXPECT_EQ(onImage, 1);
}

}  // namespace
}  // namespace restovo
