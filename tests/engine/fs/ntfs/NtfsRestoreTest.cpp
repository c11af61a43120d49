// Reading NTFS files back: resident data, runs with holes, compressed units, refusals, and
// the restore of such files, on the image made by mkntfs and ntfs-3g.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>

#include "fs/ntfs/NtfsDataInfo.h"
#include "fs/ntfs/NTFSScaner.h"
#include "ImageChecks.h"
#include "recovery/RecoveryHelper.h"
#include "recovery/RecoveryStream.h"
#include "TestSupport.h"

namespace restovo {
namespace {

namespace fs = std::filesystem;

class NtfsRestore : public ::testing::Test {
 protected:
  void SetUp() override {
    const std::string image = FixturePath("ntfs.img");
    REQUIRE_FIXTURE(image);
    Helper.SetThreaded(false);
    ASSERT_EQ(Helper.AddImage(image).size(), 1u);
    Helper.StartScan(0);
    Disk = Helper.Drives()[0].get();
    ASSERT_NE(Disk->Scaner, nullptr);
  }

  TFileInfo* Item(const std::string& path) {
    const auto found = FoundPaths(*Disk->Scaner);
    const auto it = found.find(path);
    return it == found.end() ? nullptr : const_cast<TFileInfo*>(it->second);
  }

  std::string Read(TFileInfo* item, std::int64_t limit = 1 << 30) {
    std::vector<std::byte> m;
    EXPECT_TRUE(Helper.ReadToMemory(item, m, limit));
    return {reinterpret_cast<const char*>(m.data()), m.size()};
  }

  TQueueBridge Bridge;
  TRecoveryHelper Helper{&Bridge, false};
  TDiskObject* Disk = nullptr;
};

TEST_F(NtfsRestore, ResidentCompressedAndSparseFilesReadAsWritten) {
  TFileInfo* tiny = Item("/Documents/deleted tiny.txt");
  ASSERT_NE(tiny, nullptr);
  ASSERT_TRUE(tiny->Resident);
  EXPECT_EQ(Read(tiny).size(), 200u);

  TFileInfo* compressed = Item("/Compressed/Old Log.txt");
  ASSERT_NE(compressed, nullptr);
  const std::string log = Read(compressed);
  ASSERT_EQ(log.size(), 120000u);
  // The builder writes readable text: compressed bytes would not be.
  EXPECT_EQ(std::count_if(log.begin(), log.end(), [](char c) { return c == '\0'; }), 0);

  TFileInfo* sparse = Item("/Media/sparse gone.bin");
  ASSERT_NE(sparse, nullptr);
  const std::string data = Read(sparse);
  ASSERT_EQ(data.size(), 2097152u);
  // Holes read as zeros where they are, so the data after them keeps its offset.
  EXPECT_NE(data.find_first_not_of('\0'), std::string::npos);
  std::int64_t prev = 0;
  for (const TRunNode& run : sparse->Runs) {
    if (run.Lcn < 0) {
      const auto from = static_cast<std::size_t>(prev * 4096);
      const auto to = std::min<std::size_t>(static_cast<std::size_t>(run.NextVcn * 4096), data.size());
      EXPECT_EQ(data.substr(from, to - from), std::string(to - from, '\0')) << "hole at cluster " << prev;
    }
    prev = run.NextVcn;
  }
}

TEST_F(NtfsRestore, HolesInAPlainStreamAreZerosAtTheirTrueOffsets) {
  TFileInfo* letter = Item("/Documents/Letter to the Bank.txt");
  ASSERT_NE(letter, nullptr);
  const std::string whole = Read(letter);
  ASSERT_EQ(whole.size(), 22000u);
  ASSERT_EQ(letter->Runs.size(), 1u);
  // Make the second cluster a hole: bytes 4096..8191 read as zeros, the rest stays put.
  const TRunNode only = letter->Runs[0];
  letter->Runs = {{only.Lcn, 1}, {-1, 2}, {only.Lcn + 2, only.NextVcn}};
  const std::string holed = Read(letter);
  ASSERT_EQ(holed.size(), 22000u);
  EXPECT_EQ(holed.substr(0, 4096), whole.substr(0, 4096));
  EXPECT_EQ(holed.substr(4096, 4096), std::string(4096, '\0'));
  EXPECT_EQ(holed.substr(8192), whole.substr(8192));
  // Runs that stop short of the size: what they cover, then the stream says data is missing.
  letter->Runs = {{only.Lcn, 2}};
  TRecoveryNtfsStream s(Disk, letter);
  std::vector<char> buf(65536);
  EXPECT_EQ(s.Read(buf.data(), 8192), 8192);
  EXPECT_EQ(s.Read(buf.data(), 65536), 0);
  EXPECT_TRUE(s.ReadFailed());
  letter->Runs = {only};
}

TEST_F(NtfsRestore, PreviewLimitsAndResidentDataEndingAtTheRecordEnd) {
  TFileInfo* fragmented = Item("/Fragments/Fragmented Gone.bin");
  ASSERT_NE(fragmented, nullptr);
  ASSERT_GE(fragmented->Runs.size(), 2u);
  const std::string whole = Read(fragmented);
  EXPECT_EQ(Read(fragmented, 10000), whole.substr(0, 10000));

  TFileInfo* tiny = Item("/Documents/deleted tiny.txt");
  const auto* scaner = dynamic_cast<const TNtfsScaner*>(Disk->Scaner.get());
  const auto recordBytes = static_cast<std::uint32_t>(scaner->Geometry.BytesPerRecord);
  // A value that ends exactly at the end of the record is whole; one byte more is not.
  tiny->ResidentOffset = recordBytes - 200;
  EXPECT_EQ(Read(tiny).size(), 200u);
  tiny->ResidentOffset = recordBytes - 199;
  std::vector<std::byte> m;
  EXPECT_TRUE(Helper.ReadToMemory(tiny, m, 1000));
  EXPECT_TRUE(m.empty());
}

TEST_F(NtfsRestore, FilesComeBackWithTimesRefusalsAndStops) {
  TempDir out;
  TFileInfo* plan = Item("/Projects/Alpha/Plan.txt");
  TFileInfo* live = Item("/Documents");  // a live folder; its live files made no item
  ASSERT_NE(plan, nullptr);
  ASSERT_NE(live, nullptr);
  Helper.Restore({plan}, out.Path());
  struct stat st {};
  ASSERT_EQ(::stat((out.Path() + "/Plan.txt").c_str(), &st), 0);
  std::int64_t seconds = 0, ns = 0;
  FileTimeToUnixTime(plan->LastWriteTime, seconds, ns);
  EXPECT_EQ(st.st_mtim.tv_sec, seconds);
  EXPECT_EQ(st.st_size, plan->Size);

  // An encrypted file is not written as if its ciphertext were the file.
  TFileInfo* letter = Item("/Documents/Letter to the Bank.txt");
  auto info = std::make_unique<TNtfsDataInfo>();
  info->Flags = TNtfsDataInfo::kEncrypted;
  letter->FsData = std::move(info);
  Helper.Restore({letter}, out.Path());
  EXPECT_FALSE(fs::exists(out.Path() + "/Letter to the Bank.txt"));
  ASSERT_EQ(Helper.LastRestore().Failures.size(), 1u);
  EXPECT_EQ(Helper.LastRestore().Failures[0].Reason, "The file is encrypted; its data cannot be restored readably.");
  letter->FsData.reset();

  // A file marked live is where it always was: nothing is written.
  letter->InUse = true;
  Helper.Restore({letter}, out.Path());
  EXPECT_FALSE(fs::exists(out.Path() + "/Letter to the Bank.txt"));
  letter->InUse = false;

  // Stopped in the middle of a large file: the partial file is removed.
  TFileInfo* filler = Item("/filler.bin");
  ASSERT_NE(filler, nullptr);
  Helper.OnRestoreProgress = [this](TRecoveryHelper*, const std::string&, std::int32_t percent) {
    if (percent >= 10 && percent < 100) Helper.Stop();
  };
  Helper.Restore({filler}, out.Path());
  EXPECT_FALSE(fs::exists(out.Path() + "/filler.bin"));
  Helper.OnRestoreProgress = nullptr;
}

}  // namespace
}  // namespace restovo
