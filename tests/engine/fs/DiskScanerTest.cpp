#include "fs/DiskScaner.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <typeindex>

#include "fs/fat/FatScaner.h"
#include "fs/ntfs/NTFSScaner.h"
#include "TestSupport.h"

namespace restovo {
namespace {

TEST(DiskScaner, DetectFsKind) {
  const std::pair<const char*, TFsKind> cases[] = {
      {"exFAT", fkExFat}, {"EXFAT", fkExFat}, {"NTFS", fkNtfs},  {"FAT32", fkFat32},
      {"FAT", fkFat16},   {"fat", fkFat16},   {"UDF", fkUnknown}, {"", fkUnknown},
      {"ext4", fkUnknown},
  };
  for (const auto& [name, kind] : cases) EXPECT_EQ(DetectFsKind(name), kind) << name;
  // Each kind's name leads back to it (FAT12 and FAT16 share "FAT"), and nothing is
  // named for an unknown volume.
  for (const TFsKind kind : {fkFat16, fkFat32, fkNtfs, fkExFat}) EXPECT_EQ(DetectFsKind(FsKindName(kind)), kind);
  EXPECT_STREQ(FsKindName(fkFat12), "FAT");
  EXPECT_STREQ(FsKindName(fkUnknown), "");
  EXPECT_FALSE(IsOfferedFileSystem(FsKindName(fkExFat)));
}

// A scanner that only offers the base behaviour, for the filter tests.
class TPlainScaner : public TDiskScaner {
 public:
  using TDiskScaner::TDiskScaner;
  TFileInfo* Make() { return NewRecord(); }
};

TEST(DiskScaner, AcceptFilter) {
  TPlainScaner s(nullptr);
  TFileInfo* folder = s.Make();
  folder->IsFolder = true;
  EXPECT_TRUE(s.Accept(folder));
  EXPECT_FALSE(s.Accept(nullptr));
  TFileInfo* empty = s.Make();
  EXPECT_FALSE(s.Accept(empty));

  const std::pair<std::int64_t, bool> records[] = {{0, true},  {5, true},   {6, true},
                                                   {3, false}, {1, false},  {15, false},
                                                   {16, true}, {-1, false}, {1000, true}};
  for (const auto& [no, accepted] : records) {
    TFileInfo* r = s.Make();
    r->Size = 10;
    r->RecordNo = no;
    EXPECT_EQ(s.Accept(r), accepted) << no;
  }
}

TEST(DiskScaner, AddItemFiltersUnlessTheFilterIsOff) {
  TPlainScaner s(nullptr);
  TFileInfo* empty = s.Make();
  TFileInfo* file = s.Make();
  file->Size = 1;
  EXPECT_EQ(s.AddItem(empty), 0);
  EXPECT_EQ(s.AddItem(file), 0);
  EXPECT_EQ(s.Items, TFileItems({file}));
  s.SetFilterEnabled(false);
  EXPECT_FALSE(s.SkipEmptyFiles);
  EXPECT_EQ(s.AddItem(empty), 1);
  s.SetFilterEnabled(true);
  EXPECT_FALSE(s.SkipEmptyFiles);  // switching back on leaves empty files allowed
  s.Clear();
  EXPECT_TRUE(s.Items.empty());
}

// Makes a FAT image with mkfs.fat (the real tool) and returns its path.
std::string MakeFatImage(const TempDir& dir, const std::string& name, const std::string& options,
                         int kib) {
  const std::string path = dir.Path() + "/" + name;
  const std::string cmd =
      "mkfs.fat " + options + " -C '" + path + "' " + std::to_string(kib) + " >/dev/null 2>&1";
  if (std::system(cmd.c_str()) != 0) throw std::runtime_error("mkfs.fat failed: " + cmd);
  return path;
}

TEST(DiskObject, ReadsFiguresFromAFreshFatImage) {
  TempDir dir;
  struct Case {
    const char* options;
    const char* fs;
    TFsKind kind;
    std::type_index scaner;
  };
  const Case cases[] = {
      {"-F 12 -n SMALL -i 1234ABCD", "FAT", fkFat12, typeid(TFat12Scaner)},  // told apart by the boot sector
      {"-F 16 -s 2 -n MIDDLE -i 1234ABCD", "FAT", fkFat16, typeid(TFat16Scaner)},
      {"-F 32 -n CARD -i 1234ABCD", "FAT32", fkFat32, typeid(TFat32Scaner)},
  };
  for (const Case& c : cases) {
    const std::string image =
        MakeFatImage(dir, std::to_string(&c - cases) + ".img", c.options, c.kind == fkFat32 ? 40000 : 8000);
    TVolumeLocation loc;
    loc.Source = image;
    TDiskObject disk("test.img/", "test.img", loc);
    EXPECT_EQ(disk.FileSystem, c.fs);
    EXPECT_EQ(disk.FsKind, c.kind);
    EXPECT_EQ(disk.DriveType, dtImage);
    EXPECT_EQ(disk.SerialNumber, 0x1234ABCDu);
    EXPECT_FALSE(disk.VolumeLabel.empty());
    EXPECT_EQ(disk.DisplayName, disk.VolumeLabel + " (test.img)");
    EXPECT_GT(disk.TotalSize, 0);
    // A fresh volume is free but for its root folder (one cluster on FAT32).
    EXPECT_LE(disk.TotalSize - disk.FreeSize, c.kind == fkFat32 ? 4096 : 0) << c.options;
    EXPECT_EQ(GetFileSystemName(loc), c.fs);
    const auto scaner = CreateScaner(&disk);
    ASSERT_NE(scaner, nullptr);
    const TDiskScaner& made = *scaner;
    EXPECT_EQ(std::type_index(typeid(made)), c.scaner);
    EXPECT_TRUE(scaner->Volume.IsValid());
    EXPECT_EQ(scaner->GetRootPath(), "test.img/");
  }
}

TEST(DiskObject, UnknownVolumesGetNoScanerAndGoneVolumesAreInvalid) {
  TempDir dir;
  const std::string path = dir.Path() + "/zeros.img";
  std::ofstream(path, std::ios::binary) << std::string(65536, '\0');
  TVolumeLocation loc;
  loc.Source = path;
  TDiskObject disk("zeros.img/", "zeros.img", loc);
  EXPECT_EQ(disk.FsKind, fkUnknown);
  EXPECT_TRUE(disk.FileSystem.empty());
  EXPECT_EQ(disk.DisplayName, "zeros.img");
  EXPECT_EQ(CreateScaner(&disk), nullptr);
  EXPECT_EQ(CreateScaner(nullptr), nullptr);
  // exFAT is recognised but never scanned.
  disk.FsKind = fkExFat;
  EXPECT_EQ(CreateScaner(&disk), nullptr);
  disk.FsKind = fkUnknown;
  EXPECT_TRUE(disk.IsDriveValid());
  std::filesystem::remove(path);
  EXPECT_FALSE(disk.IsDriveValid());
  EXPECT_EQ(disk.DriveType, dtNoRootDir);
  EXPECT_EQ(GetFileSystemName(loc), "");
}

TEST(DiskObject, ForensicSamplesHaveTheFiguresTheReferenceToolsReport) {
  const std::string vfat = FixturePath("fs.vfat");
  const std::string ntfs = FixturePath("fs.ntfs");
  REQUIRE_FIXTURE(vfat);
  REQUIRE_FIXTURE(ntfs);
  TVolumeLocation loc;
  loc.Source = vfat;
  loc.Offset = 2048 * 512;
  TDiskObject fat("fs.vfat#1/", "fs.vfat#1", loc);
  EXPECT_EQ(fat.FileSystem, "FAT32");
  EXPECT_EQ(fat.SerialNumber, 0x189C1E3Du);
  // fsstat: 98,776 clusters of 512 bytes, 80,583 of them free.
  EXPECT_EQ(fat.TotalSize, 98776LL * 512);
  EXPECT_EQ(fat.FreeSize, 80583LL * 512);
  EXPECT_EQ(fat.DisplayName, "fs.vfat#1");  // "NO NAME" is no label

  loc.Source = ntfs;
  TDiskObject nt("fs.ntfs#1/", "fs.ntfs#1", loc);
  EXPECT_EQ(nt.FileSystem, "NTFS");
  EXPECT_EQ(nt.FsKind, fkNtfs);
  // ntfsinfo: 12,543 clusters of 4 KiB, 9,705 free.
  EXPECT_EQ(nt.TotalSize, 12543LL * 4096);
  EXPECT_EQ(nt.FreeSize, 9705LL * 4096);
}

}  // namespace
}  // namespace restovo
