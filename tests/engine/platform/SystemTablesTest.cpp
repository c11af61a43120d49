#include "platform/SystemTables.h"

#include <gtest/gtest.h>
#include <sys/sysmacros.h>

#include <filesystem>
#include <fstream>

#include "TestSupport.h"

namespace restovo {
namespace {

namespace fs = std::filesystem;

TEST(SystemTables, MountInfoGivesTypeAndSourceAfterOptionalFields) {
  TempDir dir;
  const std::string path = dir.Path() + "/mountinfo";
  std::ofstream(path)
      << "40 22 8:17 / /media/me/MY\\040CARD rw,nosuid shared:7 master:2 - vfat /dev/sdb1 rw\n"
      << "41 22 0:52 / /mnt/img rw - fuseblk /home/me/disk\\040copy.img rw,user_id=0\n"
      << "42 22 8:18 / /mnt/x rw\n"  // no separator: type and source unknown
      << "short\n";
  const auto mounts = ReadMountInfo(path);
  ASSERT_EQ(mounts.size(), 3u);
  EXPECT_EQ(mounts[0].DevNo, "8:17");
  EXPECT_EQ(mounts[0].MountPoint, "/media/me/MY CARD");
  EXPECT_EQ(mounts[0].Type, "vfat");
  EXPECT_EQ(mounts[0].Source, "/dev/sdb1");
  EXPECT_EQ(mounts[1].Source, "/home/me/disk copy.img");
  EXPECT_EQ(mounts[2].Type, "");
  EXPECT_TRUE(ReadMountInfo(dir.Path() + "/missing").empty());
}

TEST(SystemTables, DevicesByNumberAndUdevProperties) {
  TempDir dir;
  TSystemPaths paths;
  paths.SysDevBlock = dir.Path() + "/sys/dev/block";
  paths.DevDir = "/dev";
  paths.UdevData = dir.Path() + "/udev";
  const fs::path device = fs::path(dir.Path()) / "sys/devices/usb1/sdb/sdb1";
  fs::create_directories(device);
  fs::create_directories(paths.SysDevBlock);
  fs::create_directories(paths.UdevData);
  fs::create_directory_symlink(device, paths.SysDevBlock + "/8:17");
  std::ofstream(device / "uevent") << "MAJOR=8\nMINOR=17\nDEVNAME=sdb1\nDEVTYPE=partition\n";
  std::ofstream(paths.UdevData + "/b8:17") << "S:disk/by-label/NIKON\nE:ID_FS_TYPE=vfat\nE:ID_FS_LABEL=NIKON\nE:broken\n";

  EXPECT_EQ(SysfsBlockDir(paths, makedev(8, 17)), fs::canonical(device).string());
  EXPECT_EQ(BlockDeviceNode(paths, makedev(8, 17)), "/dev/sdb1");
  EXPECT_EQ(SysfsBlockDir(paths, makedev(8, 18)), "");
  EXPECT_EQ(BlockDeviceNode(paths, makedev(8, 18)), "");
  const auto udev = ReadUdevProperties(paths, "8:17");
  EXPECT_EQ(udev.size(), 2u);
  EXPECT_EQ(udev.at("ID_FS_TYPE"), "vfat");
  EXPECT_EQ(udev.at("ID_FS_LABEL"), "NIKON");
  EXPECT_TRUE(ReadUdevProperties(paths, "8:18").empty());
}

TEST(SystemTables, NumbersFromSystemFiles) {
  TempDir dir;
  const std::pair<const char*, std::uint64_t> cases[] = {
      {"62521344\n", 62521344}, {"0\n", 0}, {"", 0}, {"junk\n", 0},
      {"99999999999999999999999\n", 0},  // past 64 bits: no figure at all, not a wrapped one
  };
  for (const auto& [text, expected] : cases) {
    const std::string path = dir.Path() + "/size";
    std::ofstream(path) << text;
    EXPECT_EQ(ReadNumberFile(path), expected) << text;
  }
  EXPECT_EQ(ReadNumberFile(dir.Path() + "/missing"), 0u);
}

}  // namespace
}  // namespace restovo
