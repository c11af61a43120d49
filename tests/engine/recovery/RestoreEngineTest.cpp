#include <gtest/gtest.h>

#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <map>
#include <set>

#include "recovery/Destination.h"
#include "fs/fat/FatScaner.h"
#include "FatTestVolume.h"
#include "recovery/RecoveryHelper.h"
#include "recovery/RecoveryStream.h"
#include "TestSupport.h"

namespace restovo {
namespace {

namespace fs = std::filesystem;

// Byte i of the file that starts at `first` holds (first * 7 + i) mod 251.
void FillFile(FatTestVolume& v, std::uint32_t first, std::uint32_t size) {
  for (std::uint32_t i = 0; i < size; ++i)
    v.Bytes[v.ClusterOffset(first) + i] = std::byte((first * 7 + i) % 251);
}

std::string Expected(std::uint32_t first, std::uint32_t size) {
  std::string s(size, '\0');
  for (std::uint32_t i = 0; i < size; ++i) s[i] = static_cast<char>((first * 7 + i) % 251);
  return s;
}

std::string ReadFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

// A FAT16 volume with 4 KiB clusters holding deleted files in the root and in a folder.
struct Fixture {
  Fixture() : V("-F 16 -s 8", 20000) {
    std::uint64_t at = V.RootOffset();
    auto file = [&](const char* name11, std::uint32_t first, std::uint32_t size, std::uint8_t attr = 0x20) {
      V.Entry(at, name11, attr, first, size, true);
      FillFile(V, first, size);
      at += 32;
    };
    file("ABIG    BIN", 100, 10000);
    at = V.LongName(at, u"a?b.txt", "A_B~1   TXT", true);  // a name no file may carry here
    file("A_B~1   TXT", 110, 50);
    file("AZERO   TXT", 0, 0);
    file("ARO     TXT", 120, 300, 0x21);  // read-only
    V.Entry(at, "RECYCLED   ", 0x10, 130, 0, true);
    V.Entry(V.ClusterOffset(130), "AINBIN  TXT", 0x20, 131, 20, true);
    FillFile(V, 131, 20);
  }

  // The scan cleans names already; one record gets its raw name back so the restore's
  // own cleaning is what is tested.
  std::unique_ptr<TDiskObject> Scanned() {
    auto disk = V.Disk();
    disk->Scaner = CreateScaner(disk.get());
    disk->Scaner->Scan();
    for (TFileInfo* i : disk->Scaner->Items)
      if (i->Name == "a_b.txt") i->Name = "a?b.txt";
    return disk;
  }

  FatTestVolume V;
};

TFileInfo* ByName(TDiskScaner& s, const std::string& name) {
  for (TFileInfo* i : s.Items)
    if (i->Name == name) return i;
  if (s.RootItem && s.RootItem->Children)
    for (TFileInfo* i : *s.RootItem->Children)
      if (i->Name == name) return i;
  return nullptr;
}

TEST(FatStream, ReadsSeeksAndStopsAtTheData) {
  Fixture f;
  const auto disk = f.Scanned();
  TFileInfo* big = ByName(*disk->Scaner, "$BIG.BIN");
  ASSERT_NE(big, nullptr);
  TRecoveryFatStream s(disk.get(), big);
  EXPECT_EQ(s.GetSize(), 10000);
  std::vector<char> buf(65536);
  EXPECT_EQ(s.Read(buf.data(), 65536), 10000);
  EXPECT_EQ(std::string(buf.data(), 10000), Expected(100, 10000));
  EXPECT_EQ(s.Read(buf.data(), 65536), 0);
  EXPECT_FALSE(s.ReadFailed());

  const std::tuple<std::int64_t, TSeekOrigin, std::int64_t> seeks[] = {
      {100, soEnd, 9900}, {-100, soEnd, 10000}, {-5, soBeginning, 0}, {5000, soBeginning, 5000},
      {-1000, soCurrent, 4000}, {20000, soCurrent, 10000}};
  for (const auto& [offset, origin, position] : seeks) EXPECT_EQ(s.Seek(offset, origin), position);
  s.Seek(5000, soBeginning);
  EXPECT_EQ(s.Read(buf.data(), 10), 10);  // from the second cluster
  EXPECT_EQ(std::string(buf.data(), 10), Expected(100, 5010).substr(5000));
}

TEST(FatStream, ClustersPastTheEndOfTheVolumeEndTheData) {
  Fixture f;
  // A deleted file of three clusters whose third lies past the end of the image.
  const std::uint32_t last = f.V.Clusters + 1;
  f.V.Entry(f.V.RootOffset() + 8 * 32, "AEDGE   BIN", 0x20, last - 1, 3 * 4096, true);
  const auto disk = f.Scanned();
  TFileInfo* edge = ByName(*disk->Scaner, "$EDGE.BIN");
  ASSERT_NE(edge, nullptr);
  TRecoveryFatStream s(disk.get(), edge);
  std::vector<char> buf(65536);
  EXPECT_EQ(s.Read(buf.data(), 65536), 8192);
  EXPECT_EQ(s.Read(buf.data(), 65536), 0);
  EXPECT_TRUE(s.ReadFailed());
}

struct Restorer {
  explicit Restorer(TDiskObject* disk) : Helper(&Bridge, false) {
    Helper.SetThreaded(false);
    Helper.SetCurrentDisk(disk);
    Helper.OnRestoreProgress = [this](TRecoveryHelper*, const std::string& name, std::int32_t p) {
      Progress.push_back({name, p});
    };
    Helper.OnRestoreDone = [this](TRecoveryHelper*) { Events.push_back("done"); };
    Helper.OnRestoreError = [this](TRecoveryHelper*, const std::string& m) { Events.push_back("error:" + m); };
  }
  TQueueBridge Bridge;
  TRecoveryHelper Helper;
  std::vector<std::pair<std::string, std::int32_t>> Progress;
  std::vector<std::string> Events;
};

TEST(Restore, FilesGetTheirDataNamesTimesAndAttributes) {
  ScopedTimeZone tz("UTC0");
  Fixture f;
  const auto disk = f.Scanned();
  TempDir out;
  Restorer r(disk.get());
  TDiskScaner& s = *disk->Scaner;
  r.Helper.Restore({ByName(s, "$BIG.BIN"), ByName(s, "a?b.txt"), ByName(s, "$ZERO.TXT"), ByName(s, "$RO.TXT")},
                   out.Path());
  EXPECT_EQ(r.Events, (std::vector<std::string>{"done"}));
  EXPECT_EQ(ReadFile(out.Path() + "/$BIG.BIN"), Expected(100, 10000));
  EXPECT_EQ(ReadFile(out.Path() + "/a_b.txt"), Expected(110, 50));
  EXPECT_TRUE(fs::exists(out.Path() + "/$ZERO.TXT"));
  EXPECT_EQ(fs::file_size(out.Path() + "/$ZERO.TXT"), 0u);
  struct stat st {};
  ASSERT_EQ(::stat((out.Path() + "/$ZERO.TXT").c_str(), &st), 0);
  EXPECT_EQ(st.st_mtim.tv_sec, 1719829814);  // the entry's 2024-07-01 10:30:14
  ASSERT_EQ(::stat((out.Path() + "/$RO.TXT").c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 0222, 0u) << "read-only attribute clears the write bits";
  EXPECT_EQ(r.Helper.LastRestore().Written, 4);
  EXPECT_EQ(r.Helper.LastRestore().Written, 4);
  EXPECT_TRUE(r.Helper.LastRestore().Failures.empty());
  EXPECT_EQ(r.Helper.GetStatus(), stDone);
}

TEST(Restore, ProgressPerRecordAndPerBlock) {
  Fixture f;
  const auto disk = f.Scanned();
  TempDir out;
  Restorer r(disk.get());
  TFileInfo* zero = ByName(*disk->Scaner, "$ZERO.TXT");
  TFileInfo* big = ByName(*disk->Scaner, "$BIG.BIN");
  // The third of eight records starts at 38 (37.5 rounded to even).
  r.Helper.Restore({zero, zero, big, zero, zero, zero, zero, zero}, out.Path());
  std::vector<std::int32_t> forBig;
  bool inBig = false;
  for (const auto& [name, p] : r.Progress) {
    if (name.find("$BIG.BIN") != std::string::npos) inBig = true;
    else if (inBig) break;
    if (inBig) forBig.push_back(p);
  }
  ASSERT_FALSE(forBig.empty());
  EXPECT_EQ(forBig.front(), 38);
  EXPECT_EQ(forBig.back(), 100);
  // A 0-byte record reports 100 %.
  EXPECT_EQ(r.Progress[1].second, 100);
}

TEST(Restore, ExistingFilesAreKeptSkippedOrOverwrittenInPlace) {
  Fixture f;
  const auto disk = f.Scanned();
  TFileInfo* big = ByName(*disk->Scaner, "$BIG.BIN");
  TempDir out;
  {
    Restorer r(disk.get());
    r.Helper.OnFileExists = [](TRecoveryHelper*, std::uint8_t& answer, const std::string&, bool&) {
      answer = eaKeepBoth;
    };
    r.Helper.Restore({big}, out.Path());
    r.Helper.Restore({big}, out.Path());
    EXPECT_EQ(ReadFile(out.Path() + "/$BIG(1).BIN"), Expected(100, 10000));
    r.Helper.OnFileExists = [](TRecoveryHelper*, std::uint8_t& answer, const std::string&, bool&) {
      answer = eaSkip;
    };
    r.Helper.Restore({big}, out.Path());
    EXPECT_EQ(r.Helper.LastRestore().Skipped, 1);
    EXPECT_FALSE(fs::exists(out.Path() + "/$BIG(2).BIN"));
  }
  // No handler: a longer file already there is overwritten in place and cut to size.
  std::ofstream(out.Path() + "/$BIG.BIN") << std::string(50000, 'x');
  Restorer r(disk.get());
  r.Helper.Restore({big}, out.Path());
  EXPECT_EQ(ReadFile(out.Path() + "/$BIG.BIN"), Expected(100, 10000));
}

TEST(Restore, FoldersAndTheRecycleBinRule) {
  Fixture f;
  const auto disk = f.Scanned();
  TFileInfo* bin = ByName(*disk->Scaner, "$ECYCLED");
  ASSERT_NE(bin, nullptr);
  bin->Name = "RECYCLED";  // as a live recycle-bin folder would be named
  TempDir out;
  Restorer r(disk.get());
  r.Helper.Restore({bin}, out.Path());
  EXPECT_EQ(ReadFile(out.Path() + "/RECYCLED/$INBIN.TXT"), Expected(131, 20));
  // At the top of a volume the folder gets "_New" so it does not meet the volume's own.
  const std::string shm = "/dev/shm";
  if (fs::is_directory(shm) && ::access(shm.c_str(), W_OK) == 0) {
    r.Helper.Restore({bin}, shm);
    EXPECT_TRUE(fs::exists(shm + "/RECYCLED_New/$INBIN.TXT"));
    fs::remove_all(shm + "/RECYCLED_New");
  }
}

TEST(Restore, FailuresAreReportedPerFileAndExistingFilesSurviveThem) {
  Fixture f;
  const auto disk = f.Scanned();
  TDiskScaner& s = *disk->Scaner;
  TempDir out;
  // A folder where a file should go; a file of the user's where one that cannot be read
  // should go (its clusters lie past the end of the volume).
  fs::create_directories(out.Path() + "/$RO.TXT");
  const std::uint32_t last = f.V.Clusters + 1;
  TFileInfo* big = ByName(s, "$BIG.BIN");
  auto* entry = static_cast<TFatEntryInfo*>(big->FsData.get());
  entry->FirstCluster = last + 5;
  std::ofstream(out.Path() + "/$BIG.BIN") << "the user's own file";
  Restorer r(disk.get());
  r.Helper.Restore({ByName(s, "$RO.TXT"), big, ByName(s, "$ZERO.TXT")}, out.Path());
  EXPECT_EQ(r.Events, (std::vector<std::string>{"done"}));
  const auto& failures = r.Helper.LastRestore().Failures;
  ASSERT_EQ(failures.size(), 2u);
  EXPECT_EQ(failures[0].Reason, "A folder of that name is in the way.");
  EXPECT_EQ(failures[1].Reason, "The file's data could not be read from the volume.");
  EXPECT_EQ(ReadFile(out.Path() + "/$BIG.BIN"), "the user's own file");
  EXPECT_EQ(r.Helper.LastRestore().Written, 1);
  // Nothing half-written is left behind.
  for (const auto& e : fs::directory_iterator(out.Path()))
    EXPECT_EQ(e.path().filename().string().rfind(".restovo-partial", 0), std::string::npos) << e.path();
}

// Every path below `top`, links included and not followed.
std::set<std::string> TreeBelow(const std::string& top) {
  std::set<std::string> paths;
  for (auto it = fs::recursive_directory_iterator(top); it != fs::recursive_directory_iterator(); ++it)
    paths.insert(fs::relative(it->path(), top).string());
  return paths;
}

// Names are cleaned when a scanner makes a record; the restore cleans them again, so a
// record made any other way cannot lead a write out of the destination either.
TEST(Restore, HostileNamesStayInsideTheDestination) {
  Fixture f;
  const auto disk = f.Scanned();
  TFileInfo* big = ByName(*disk->Scaner, "$BIG.BIN");
  TFileInfo* bin = ByName(*disk->Scaner, "$ECYCLED");
  ASSERT_NE(big, nullptr);
  ASSERT_NE(bin, nullptr);
  big->Name = "../../escaped.txt";
  bin->Name = "..";
  TempDir scratch;
  const std::string out = scratch.Path() + "/a/b/out";
  for (const std::uint8_t answer : {eaKeepBoth, eaKeepBoth, eaOverwrite}) {
    Restorer r(disk.get());
    r.Helper.OnFileExists = [answer](TRecoveryHelper*, std::uint8_t& a, const std::string&, bool&) { a = answer; };
    r.Helper.Restore({big, bin}, out);
    EXPECT_EQ(r.Events, (std::vector<std::string>{"done"}));
    EXPECT_EQ(r.Helper.LastRestore().Written, 2);
  }
  EXPECT_EQ(ReadFile(out + "/.._.._escaped.txt"), Expected(100, 10000));
  EXPECT_EQ(ReadFile(out + "/__/$INBIN.TXT"), Expected(131, 20));
  EXPECT_EQ(TreeBelow(scratch.Path()),
            (std::set<std::string>{"a", "a/b", "a/b/out", "a/b/out/.._.._escaped.txt",
                                   "a/b/out/.._.._escaped(1).txt", "a/b/out/__", "a/b/out/__/$INBIN.TXT",
                                   "a/b/out/__/$INBIN(1).TXT"}));
}

// A link someone placed in the destination beforehand, to a folder or a file elsewhere.
TEST(Restore, LinksInTheDestinationAreNotFollowed) {
  Fixture f;
  const auto disk = f.Scanned();
  TFileInfo* big = ByName(*disk->Scaner, "$BIG.BIN");
  TFileInfo* bin = ByName(*disk->Scaner, "$ECYCLED");
  ASSERT_NE(bin, nullptr);
  TempDir out, elsewhere;
  std::ofstream(elsewhere.Path() + "/victim") << "keep me";
  fs::create_directory_symlink(elsewhere.Path(), out.Path() + "/$ECYCLED");
  fs::create_symlink(elsewhere.Path() + "/victim", out.Path() + "/$BIG.BIN");
  Restorer r(disk.get());
  r.Helper.OnFileExists = [](TRecoveryHelper*, std::uint8_t& a, const std::string&, bool&) { a = eaOverwrite; };
  r.Helper.Restore({bin, big}, out.Path());
  EXPECT_EQ(TreeBelow(elsewhere.Path()), std::set<std::string>{"victim"});
  EXPECT_EQ(ReadFile(elsewhere.Path() + "/victim"), "keep me");
  // The file replaced the link itself; the folder's file was refused, and said so.
  EXPECT_FALSE(fs::is_symlink(out.Path() + "/$BIG.BIN"));
  EXPECT_EQ(ReadFile(out.Path() + "/$BIG.BIN"), Expected(100, 10000));
  const auto& report = r.Helper.LastRestore();
  EXPECT_EQ(report.Written, 1);
  ASSERT_EQ(report.Failures.size(), 1u);
  EXPECT_EQ(report.Failures[0].Record->Name, "$INBIN.TXT");
  EXPECT_EQ(report.Failures[0].Reason, kOutsideDestinationText);
}

TEST(Restore, MissingDataIsReportedNotPadded) {
  Fixture f;
  const std::uint32_t last = f.V.Clusters + 1;
  f.V.Entry(f.V.RootOffset() + 8 * 32, "AEDGE   BIN", 0x20, last - 1, 3 * 4096, true);
  const auto disk = f.Scanned();
  TempDir out;
  Restorer r(disk.get());
  r.Helper.Restore({ByName(*disk->Scaner, "$EDGE.BIN")}, out.Path());
  EXPECT_EQ(fs::file_size(out.Path() + "/$EDGE.BIN"), 8192u);
  ASSERT_EQ(r.Helper.LastRestore().Failures.size(), 1u);
  EXPECT_EQ(r.Helper.LastRestore().Failures[0].Reason,
            "Only 8192 of 12288 bytes could be read from the volume; the rest of the file is missing.");
  EXPECT_EQ(r.Events, (std::vector<std::string>{"done"}));
}

TEST(Restore, ReadToMemoryGivesExactlyTheBytesUpToTheLimit) {
  Fixture f;
  const auto disk = f.Scanned();
  Restorer r(disk.get());
  TFileInfo* small = ByName(*disk->Scaner, "a?b.txt");
  TFileInfo* big = ByName(*disk->Scaner, "$BIG.BIN");
  std::vector<std::byte> m;
  const std::tuple<TFileInfo*, std::int64_t, std::size_t> cases[] = {
      {small, 100, 50}, {small, 10 << 20, 50}, {big, 4096, 4096}, {big, 10 << 20, 10000}, {big, 0, 0}};
  for (const auto& [record, limit, size] : cases) {
    EXPECT_TRUE(r.Helper.ReadToMemory(record, m, limit));
    EXPECT_EQ(m.size(), size);
  }
  r.Helper.ReadToMemory(big, m, 100);
  EXPECT_EQ(std::string(reinterpret_cast<const char*>(m.data()), m.size()), Expected(100, 100));
  // A stop left over from an earlier scan does not block the preview.
  r.Helper.Stop();
  EXPECT_TRUE(r.Helper.ReadToMemory(small, m, 100));
}

TEST(Restore, TheScannedVolumeIsRefusedAsDestination) {
  Fixture f;
  const auto disk = f.Scanned();
  TempDir mount;
  disk->MountPoint = mount.Path();
  EXPECT_EQ(CheckRestoreDestination(*disk, mount.Path() + "/out/deeper"), kSameVolumeText);
  EXPECT_EQ(CheckRestoreDestination(*disk, mount.Path()), kSameVolumeText);
  TempDir elsewhere;
  EXPECT_EQ(CheckRestoreDestination(*disk, elsewhere.Path()), "");
  Restorer r(disk.get());
  r.Helper.Restore({ByName(*disk->Scaner, "$BIG.BIN")}, mount.Path() + "/out");
  ASSERT_EQ(r.Events.size(), 1u);
  EXPECT_NE(r.Events[0].find(kSameVolumeText), std::string::npos);
  EXPECT_FALSE(fs::exists(mount.Path() + "/out"));
}

// An image mounted through FUSE (ntfs-3g) shows its source only in mountinfo.
TEST(Restore, AnImageMountedThroughFuseIsRefusedAsDestination) {
  const std::string ntfs = FixturePath("ntfs.img");
  REQUIRE_FIXTURE(ntfs);
  if (!fs::exists("/dev/fuse")) GTEST_SKIP() << "no /dev/fuse: FUSE mounts cannot be made here";
  TempDir dir;
  const std::string image = dir.Path() + "/copy.img";
  fs::copy_file(ntfs, image);
  const std::string mount = dir.Path() + "/m";
  fs::create_directories(mount);
  if (std::system(("ntfs-3g '" + image + "' '" + mount + "' 2>/dev/null").c_str()) != 0)
    GTEST_SKIP() << "ntfs-3g could not mount the image here";
  TVolumeLocation loc;
  loc.Source = image;
  TDiskObject disk("copy.img/", "copy.img", loc);
  const std::string verdict = CheckRestoreDestination(disk, mount + "/out");
  std::system(("fusermount -u '" + mount + "' 2>/dev/null || umount '" + mount + "'").c_str());
  EXPECT_EQ(verdict, kSameVolumeText);
}

// The same image behind two loop devices: the scanned one, and one mounted as the
// destination. Device numbers differ; the bytes are the same.
TEST(Restore, ASecondLoopDeviceOfTheScannedImageIsRefused) {
  const std::string ntfs = FixturePath("ntfs.img");
  REQUIRE_FIXTURE(ntfs);
  if (::geteuid() != 0 || !fs::exists("/dev/fuse")) GTEST_SKIP() << "needs root and FUSE for loop devices";
  TempDir dir;
  const std::string image = dir.Path() + "/copy.img";
  fs::copy_file(ntfs, image);
  auto attach = [&]() {
    std::string device;
    if (FILE* p = ::popen(("losetup -f --show '" + image + "' 2>/dev/null").c_str(), "r")) {
      char line[256] = {};
      if (std::fgets(line, sizeof line, p)) device = line;
      ::pclose(p);
    }
    while (!device.empty() && device.back() == '\n') device.pop_back();
    return device;
  };
  const std::string scanned = attach(), other = attach();
  auto detach = [&] {
    for (const std::string& d : {scanned, other})
      if (!d.empty()) std::system(("losetup -d " + d + " 2>/dev/null").c_str());
  };
  if (scanned.empty() || other.empty()) {
    detach();
    GTEST_SKIP() << "loop devices cannot be attached here";
  }
  const std::string mount = dir.Path() + "/m";
  fs::create_directories(mount);
  if (std::system(("ntfs-3g '" + other + "' '" + mount + "' 2>/dev/null").c_str()) != 0) {
    detach();
    GTEST_SKIP() << "ntfs-3g could not mount the loop device here";
  }
  TVolumeLocation loc;
  loc.Source = scanned;
  TDiskObject disk("loop/", "loop", loc);
  const std::string verdict = CheckRestoreDestination(disk, mount + "/out");
  TempDir elsewhere;
  const std::string unrelated = CheckRestoreDestination(disk, elsewhere.Path());
  std::system(("fusermount -u '" + mount + "' 2>/dev/null || umount '" + mount + "'").c_str());
  detach();
  EXPECT_EQ(verdict, kSameVolumeText);
  EXPECT_EQ(unrelated, "");
}

TEST(Restore, TheImageIsUnchangedAfterScanPreviewAndRestore) {
  const std::string fixture = FixturePath("fat16.img");
  REQUIRE_FIXTURE(fixture);
  TempDir dir;
  const std::string image = dir.Path() + "/v.img";
  fs::copy_file(fixture, image);
  const auto before = ReadWholeFile(image);
  TQueueBridge bridge;
  TRecoveryHelper helper(&bridge, false);
  helper.SetThreaded(false);
  ASSERT_EQ(helper.AddImage(image).size(), 1u);
  helper.StartScan(0);
  TDiskScaner& s = *helper.Drives()[0]->Scaner;
  std::vector<std::byte> m;
  for (TFileInfo* item : s.Items) helper.ReadToMemory(item, m, 10 << 20);
  helper.Restore(*s.RootItem->Children, dir.Path() + "/out");
  EXPECT_GT(helper.LastRestore().Written, 5);
  EXPECT_TRUE(ReadWholeFile(image) == before);
}

}  // namespace
}  // namespace restovo
