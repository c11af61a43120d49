// The NTFS scanner on an image made by mkntfs and ntfs-3g, and on the forensic sample.
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <map>
#include <set>

#include "ImageChecks.h"
#include "fs/ntfs/NTFSScaner.h"
#include "recovery/RecoveryHelper.h"
#include "TestSupport.h"

namespace restovo {
namespace {

TEST(NtfsImages, EveryDeletedFileIsFoundWithItsSizeAndAFairVerdict) {
  const std::string image = FixturePath("ntfs.img");
  REQUIRE_FIXTURE(image);
  const auto manifest = ReadManifest(FixturePath("ntfs.manifest.tsv"));
  const auto disk = OpenImage(image);
  ASSERT_NE(disk, nullptr);
  EXPECT_EQ(disk->FsKind, fkNtfs);
  auto s = CreateScaner(disk.get());
  s->Scan();
  ASSERT_NE(s->RootItem, nullptr);
  EXPECT_EQ(s->RootItem->Name, "ntfs.img/");
  const auto found = FoundPaths(*s);
  std::set<std::string> deleted;
  int checked = 0;
  for (const ManifestLine& m : manifest) {
    const bool isStream = m.Path.find(':') != std::string::npos;
    if (m.Kind != "file" || m.Status.find("live") != std::string::npos || isStream) continue;
    deleted.insert(m.Path);
    const auto it = found.find(m.Path);
    if (m.Size == 0) {  // empty files are not listed, nor linked
      EXPECT_EQ(it, found.end()) << m.Path;
      continue;
    }
    ASSERT_NE(it, found.end()) << m.Path << " was not found";
    const TFileInfo* r = it->second;
    EXPECT_EQ(r->Size, m.Size) << m.Path;
    EXPECT_EQ(r->Resident, m.Status.rfind("resident", 0) == 0) << m.Path;
    if (m.Status.find("overwritten") != std::string::npos) {
      EXPECT_NE(r->State, rsGood) << m.Path;
    } else if (m.Status.find("fragmented") == std::string::npos) {
      // Intact files, also sparse and compressed ones whose holes are their layout.
      EXPECT_EQ(r->State, rsGood) << m.Path << " " << m.Status;
    }
    ++checked;
  }
  EXPECT_GT(checked, 10);
  for (const auto& [path, r] : found) {
    EXPECT_TRUE(r->IsFolder || deleted.count(path)) << path << " listed but not deleted";
  }
  // The deleted tree comes back as folders, marked deleted.
  ASSERT_TRUE(found.count("/Projects/Alpha/Drafts"));
  EXPECT_FALSE(found.at("/Projects/Alpha/Drafts")->InUse);
  EXPECT_FALSE(found.at("/Projects")->InUse);
  EXPECT_TRUE(found.at("/Documents")->InUse);
}

TEST(NtfsImages, ForensicSampleMatchesTheOriginalFiles) {
  const std::string image = FixturePath("fs.ntfs");
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
    ASSERT_TRUE(found.count(std::string("/") + folder)) << folder;
    for (const auto& original : std::filesystem::directory_iterator(originals + "/" + folder)) {
      const std::string path = std::string("/") + folder + "/" + original.path().filename().string();
      ASSERT_TRUE(found.count(path)) << path;
      EXPECT_EQ(found.at(path)->Size, static_cast<std::int64_t>(original.file_size())) << path;
      EXPECT_EQ(found.at(path)->State, rsGood) << path;
      ++files;
    }
  }
  EXPECT_EQ(files, 18);
  EXPECT_EQ(s->Items.size(), 18u);
}

// Raises the scanner's stop flag when the walk reads its first chunk of records.
class StopAtWalk final : public TVolumeDevice {
 public:
  StopAtWalk(std::vector<std::byte> bytes, std::uint64_t mftAt)
      : Inner(MakeMemoryDevice(std::move(bytes))), MftAt(mftAt) {}
  std::int64_t ReadAt(void* buffer, std::size_t count, std::uint64_t offset) override {
    if (Scaner && offset == MftAt && count > 1024) Scaner->Stop = true;
    return Inner->ReadAt(buffer, count, offset);
  }
  std::uint64_t Size() const override { return Inner->Size(); }
  TDiskScaner* Scaner = nullptr;

 private:
  std::shared_ptr<TVolumeDevice> Inner;
  std::uint64_t MftAt;
};

TEST(NtfsImages, StopDuringTheWalkKeepsWhatWasFound) {
  const std::string image = FixturePath("ntfs.img");
  REQUIRE_FIXTURE(image);
  auto bytes = ReadWholeFile(image);
  TNtfsGeometry g;
  ASSERT_TRUE(ParseNtfsBootSector(TBytes(bytes).first(512), g));
  auto device = std::make_shared<StopAtWalk>(bytes, static_cast<std::uint64_t>(g.MftLcn * g.ClusterBytes()));
  TVolumeLocation loc;
  loc.Memory = device;
  TDiskObject disk("stop.img/", "stop.img", loc);
  auto s = CreateScaner(&disk);
  device->Scaner = s.get();
  s->Scan();
  EXPECT_TRUE(s->Items.empty());
  ASSERT_NE(s->RootItem, nullptr);  // a tree, if only of what was found, is still there
  EXPECT_EQ(s->RootItem->Name, "stop.img/");
}

// Where the unnamed non-resident $DATA attribute of MFT record `recordNo` starts in the
// image, or 0 when the record lies outside the $MFT's first run.
std::size_t DataAttributeAt(const std::vector<std::byte>& image, const TNtfsScaner& s, std::int64_t recordNo) {
  const std::int64_t recordBytes = s.Geometry.BytesPerRecord, cluster = s.Geometry.ClusterBytes();
  const TRunNode& first = s.MftInfo.DataRuns.front();
  if ((recordNo + 1) * recordBytes > first.NextVcn * cluster) return 0;
  const auto record = static_cast<std::size_t>(first.Lcn * cluster + recordNo * recordBytes);
  const TBytes b(image);
  for (std::size_t at = record + ReadU16(b, record + 0x14); at + 0x40 < record + recordBytes;) {
    const std::uint32_t type = ReadU32(b, at), length = ReadU32(b, at + 4);
    if (type == 0xFFFFFFFF || length == 0) break;
    if (type == 0x80 && image[at + 8] == std::byte{1} && image[at + 9] == std::byte{0}) return at;
    at += length;
  }
  return 0;
}

// The sample image scanned as it is, its bytes to damage, and the damaged copy scanned
// beside it: each test breaks some records and compares what the scan and a read of the
// damaged copy give with the intact one.
class DamagedNtfs : public ::testing::Test {
 protected:
  void SetUp() override {
    Image = FixturePath("ntfs.img");
    REQUIRE_FIXTURE(Image);
    Plain = OpenImage(Image);
    Plain->Scaner = CreateScaner(Plain.get());
    Plain->Scaner->Scan();
    Before = FoundPaths(*Plain->Scaner);
    Ntfs = dynamic_cast<const TNtfsScaner*>(Plain->Scaner.get());
    ASSERT_NE(Ntfs, nullptr);
    Bytes = ReadWholeFile(Image);
  }

  // The intact record at `path` and where its $DATA attribute starts in Bytes.
  std::pair<const TFileInfo*, std::size_t> DataOf(const std::string& path) {
    EXPECT_TRUE(Before.count(path)) << path;
    if (!Before.count(path)) return {nullptr, 0};
    const TFileInfo* item = Before.at(path);
    const std::size_t at = DataAttributeAt(Bytes, *Ntfs, item->RecordNo);
    EXPECT_NE(at, 0u) << path;
    return {item, at};
  }

  // Scans the damaged Bytes; the result is in After.
  void ScanDamaged() {
    TVolumeLocation loc;
    loc.Memory = MakeMemoryDevice(Bytes);
    Damaged = std::make_unique<TDiskObject>("damaged.img/", "damaged.img", loc);
    Helper.SetThreaded(false);
    Helper.SetCurrentDisk(Damaged.get());
    Helper.RunScan(Damaged.get());
    ASSERT_EQ(Damaged->Scaner->Failure(), "");
    After = FoundPaths(*Damaged->Scaner);
  }

  // The damaged copy's record at `path`, read whole: it starts with the intact file's bytes
  // and is `size` bytes long.
  TFileInfo* ExpectReadsAsIntact(const std::string& path, std::int64_t size) {
    EXPECT_TRUE(After.count(path)) << path;
    if (!After.count(path)) return nullptr;
    TFileInfo* item = const_cast<TFileInfo*>(After.at(path));
    std::vector<std::byte> data, good;
    EXPECT_TRUE(Helper.ReadToMemory(item, data, std::int64_t{1} << 30)) << path;
    TRecoveryHelper reference(&Bridge, false);
    reference.SetCurrentDisk(Plain.get());
    EXPECT_TRUE(reference.ReadToMemory(const_cast<TFileInfo*>(Before.at(path)), good, std::int64_t{1} << 30));
    EXPECT_EQ(static_cast<std::int64_t>(data.size()), size) << path;
    EXPECT_LE(good.size(), data.size()) << path;
    if (good.size() <= data.size()) {
      EXPECT_TRUE(std::equal(good.begin(), good.end(), data.begin())) << path;
    }
    return item;
  }

  std::string Image;
  std::unique_ptr<TDiskObject> Plain, Damaged;
  const TNtfsScaner* Ntfs = nullptr;
  std::map<std::string, const TFileInfo*> Before, After;
  std::vector<std::byte> Bytes;
  TQueueBridge Bridge;
  TRecoveryHelper Helper{&Bridge, false};
};

// A record whose attribute list breaks off after its $DATA keeps its file, but marked as
// damaged and with a verdict no better than Poor; its data still comes back whole.
TEST_F(DamagedNtfs, RecordsThatBreakOffAreKeptButNotTrusted) {
  const std::string path = "/Documents/Letter to the Bank.txt";
  const auto [original, at] = DataOf(path);
  ASSERT_NE(at, 0u);
  ASSERT_EQ(original->State, rsGood);
  // What follows $DATA (another attribute or the end mark) now claims to run past the record.
  const std::size_t next = at + ReadU32(Bytes, at + 4);
  ASSERT_LT((next + 4) % 512, 506u) << "the length straddles a protected sector end";
  PutU32(Bytes, next, 0x100);
  PutU32(Bytes, next + 4, 0x10000);
  ScanDamaged();
  const TFileInfo* item = ExpectReadsAsIntact(path, original->Size);
  ASSERT_NE(item, nullptr);
  EXPECT_EQ(item->Damage, rdRecordBrokenOff);
  EXPECT_EQ(item->State, rsPoor);
  EXPECT_EQ(item->Size, original->Size);
  EXPECT_NE(RecordDamageText(item->Damage, 0).find("damaged"), std::string::npos);
}

// A size field of 2^62 is damage: the file is cut to what its runs hold (for data without
// holes, never more than the volume), said so, and restored that far, not written with
// zeros until the destination is full.
TEST_F(DamagedNtfs, SizesBeyondWhatTheDataCanHoldAreCutAndSaidSo) {
  const std::string paths[] = {"/Documents/Letter to the Bank.txt", "/Media/sparse gone.bin"};
  std::map<std::string, std::int64_t> allocated;
  for (const std::string& path : paths) {
    const auto [item, at] = DataOf(path);
    ASSERT_NE(at, 0u);
    ASSERT_LT((at + 0x30) % 512, 496u) << "the sizes straddle a protected sector end";
    PutU64(Bytes, at + 0x30, 1ull << 62);
    PutU64(Bytes, at + 0x38, 1ull << 62);
    allocated[path] = item->Runs.back().NextVcn * Ntfs->Geometry.ClusterBytes();
  }
  ScanDamaged();
  for (const std::string& path : paths) {
    SCOPED_TRACE(path);
    const TFileInfo* item = ExpectReadsAsIntact(path, allocated[path]);
    ASSERT_NE(item, nullptr);
    EXPECT_EQ(item->Size, allocated[path]);
    EXPECT_EQ(item->Damage, rdSizeBeyondData);
    EXPECT_EQ(item->ClaimedSize, std::int64_t{1} << 62);
    EXPECT_GE(item->State, rsPoor);
    EXPECT_NE(RecordDamageText(item->Damage, item->ClaimedSize).find("4611686018427387904 bytes"), std::string::npos);
  }
  // The other files keep their sizes and verdicts.
  for (const auto& [path, item] : Before) {
    if (path == paths[0] || path == paths[1] || item->IsFolder) continue;
    ASSERT_TRUE(After.count(path)) << path;
    EXPECT_EQ(After.at(path)->Size, item->Size) << path;
    EXPECT_EQ(After.at(path)->Damage, rdNone) << path;
  }
}

TEST(NtfsImages, GarbageAndTruncatedVolumesGiveWhatCanBeRead) {
  const std::string image = FixturePath("ntfs.img");
  REQUIRE_FIXTURE(image);
  auto bytes = ReadWholeFile(image);
  std::uint32_t seed = 99;
  // Noise over a stretch of the MFT, then the image cut shorter and shorter.
  TNtfsGeometry g;
  ASSERT_TRUE(ParseNtfsBootSector(TBytes(bytes).first(512), g));
  const std::size_t mft = static_cast<std::size_t>(g.MftLcn * g.ClusterBytes());
  for (std::size_t i = mft + 40 * 1024; i < mft + 60 * 1024; ++i) {
    seed = seed * 1103515245 + 12345;
    bytes[i] = std::byte(seed >> 16);
  }
  for (std::size_t size : {bytes.size(), bytes.size() / 2, mft + 30 * 1024, std::size_t{600}}) {
    TVolumeLocation loc;
    loc.Memory = MakeMemoryDevice(std::vector<std::byte>(bytes.begin(), bytes.begin() + static_cast<std::ptrdiff_t>(size)));
    TDiskObject disk("cut.img/", "cut.img", loc);
    disk.FsKind = fkNtfs;
    auto s = CreateScaner(&disk);
    s->Scan();
    if (size == bytes.size()) {
      EXPECT_GT(s->Items.size(), 5u);
    }
  }
}

TEST(NtfsImages, ADeepScanReadsTheDeviceWhateverTheBootSectorClaims) {
  // A boot sector damaged to claim terabytes on a card of megabytes: the deep pass looks at
  // the clusters the device has, and finds what it finds on the sound volume.
  const std::string image = FixturePath("ntfs.img");
  REQUIRE_FIXTURE(image);
  const auto bytes = ReadWholeFile(image);
  std::size_t counts[2] = {};
  for (const bool claimsMore : {false, true}) {
    auto copy = bytes;
    if (claimsMore) PutU64(copy, 0x28, std::uint64_t{1} << 40);
    TVolumeLocation loc;
    loc.Memory = MakeMemoryDevice(std::move(copy));
    TDiskObject disk("claims.img/", "claims.img", loc);
    disk.FsKind = fkNtfs;
    auto s = CreateScaner(&disk);
    s->Deep = true;
    s->Scan();
    EXPECT_LE(s->DeepBytesToRead, bytes.size());
    counts[claimsMore] = s->Items.size();
  }
  EXPECT_GT(counts[0], 5u);
  EXPECT_EQ(counts[1], counts[0]);
}

}  // namespace
}  // namespace restovo
