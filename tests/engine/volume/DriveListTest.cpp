#include "volume/DriveList.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>

#include "fs/DiskScaner.h"
#include "recovery/RecoveryHelper.h"
#include "recovery/ThreadBridge.h"
#include "TestSupport.h"

namespace restovo {
namespace {

namespace fs = std::filesystem;

void Write(const fs::path& p, const std::string& text) {
  fs::create_directories(p.parent_path());
  std::ofstream(p) << text << "\n";
}

TEST(DriveList, OfferingRule) {
  const std::pair<const char*, bool> cases[] = {{"FAT", true},    {"FAT32", true}, {"NTFS", true},
                                                {"exFAT", false}, {"EXT4", false}, {"", false}};
  for (const auto& [name, offered] : cases) EXPECT_EQ(IsOfferedFileSystem(name), offered) << name;
}

TEST(DriveList, MountPointsFromMountInfo) {
  TempDir dir;
  const std::string path = dir.Path() + "/mountinfo";
  std::ofstream(path)
      << "22 1 254:0 / / rw,relatime shared:1 - ext4 /dev/vda rw\n"
      << "40 22 8:17 / /media/me/MY\\040CARD rw,nosuid - vfat /dev/sdb1 rw\n"
      << "41 22 8:17 /DCIM /srv/photos rw - vfat /dev/sdb1 rw\n"  // a bind of a subfolder
      << "42 22 8:18 /sub /mnt/part rw - ntfs3 /dev/sdb2 rw\n"
      << "garbage line\n";
  const auto mounts = ReadMountPoints(path);
  EXPECT_EQ(mounts.at("254:0"), "/");
  EXPECT_EQ(mounts.at("8:17"), "/media/me/MY CARD");
  EXPECT_EQ(mounts.count("8:18"), 0u);
  EXPECT_EQ(DriveRootFor("sdb1", "/media/me/MY CARD"), "/media/me/MY CARD/");
  EXPECT_EQ(DriveRootFor("vda", "/"), "/");
  EXPECT_EQ(DriveRootFor("card.img#2", ""), "card.img#2/");
}

// A small sysfs and /dev made of folders and image files, so the whole enumeration runs
// on this machine without any real device.
class FakeSystem : public ::testing::Test {
 protected:
  void SetUp() override {
    Root = Dir.Path();
    Paths.SysClassBlock = Root + "/sys/class/block";
    Paths.MountInfo = Root + "/mountinfo";
    Paths.DevDir = Root + "/dev";
    Paths.UdevData = Root + "/udev";
    fs::create_directories(Paths.SysClassBlock);
    fs::create_directories(Paths.DevDir);
    fs::create_directories(Paths.UdevData);
    std::ofstream(Paths.MountInfo) << "40 1 8:17 / /media/me/CARD rw - vfat /dev/sdb1 rw\n";
  }

  // A block device folder under `parent` (a real sysfs path shape) and its class link.
  fs::path Device(const std::string& parent, const std::string& name, const std::string& devNo,
                  std::uint64_t sectors, bool partition, const std::string& removable = "0") {
    const fs::path dir = fs::path(Root) / "sys/devices" / parent / name;
    Write(dir / "dev", devNo);
    Write(dir / "size", std::to_string(sectors));
    if (partition) Write(dir / "partition", "1");
    else Write(dir / "removable", removable);
    fs::create_directory_symlink(dir, fs::path(Paths.SysClassBlock) / name);
    return dir;
  }

  TempDir Dir;
  std::string Root;
  TSystemPaths Paths;
};

TEST_F(FakeSystem, DriveTypesFromTheBus) {
  const auto usbDisk = Device("pci0/usb1/1-1/host6/block", "sdb", "8:16", 100, false);
  const auto usbPart = Device("pci0/usb1/1-1/host6/block/sdb", "sdb1", "8:17", 50, true);
  const auto sata = Device("pci0/ata1/host0/block", "sda", "8:0", 100, false);
  const auto flagged = Device("pci0/ata2/host1/block", "sdc", "8:32", 100, false, "1");
  const auto mmc = Device("platform/mmc0/block", "mmcblk0", "179:0", 100, false);
  const auto loop = Device("virtual/block", "loop3", "7:3", 100, false);
  const auto optical = Device("pci0/ata3/block", "sr0", "11:0", 100, false, "1");
  EXPECT_EQ(DriveTypeFromSysfs(usbDisk.string()), dtRemovable);
  EXPECT_EQ(DriveTypeFromSysfs(usbPart.string()), dtRemovable);
  EXPECT_EQ(DriveTypeFromSysfs(sata.string()), dtFixed);
  EXPECT_EQ(DriveTypeFromSysfs(flagged.string()), dtRemovable);
  EXPECT_EQ(DriveTypeFromSysfs(mmc.string()), dtRemovable);
  EXPECT_EQ(DriveTypeFromSysfs(loop.string()), dtImage);
  EXPECT_EQ(DriveTypeFromSysfs(optical.string()), dtOptical);
}

TEST_F(FakeSystem, ListsPartitionsAndBareDisksWithTheirFileSystems) {
  // sdb: a partitioned USB stick; sdb1 mounted FAT32, sdb2 exFAT-less zeros.
  Device("pci0/usb1/host6/block", "sdb", "8:16", 200000, false);
  Device("pci0/usb1/host6/block/sdb", "sdb1", "8:17", 80000, true);
  Device("pci0/usb1/host6/block/sdb", "sdb2", "8:18", 64, true);
  // sdc: a whole card formatted without a table; sdd: an empty card reader.
  Device("pci0/usb2/host7/block", "sdc", "8:32", 16000, false);
  Device("pci0/usb2/host8/block", "sdd", "8:48", 0, false);
  ASSERT_EQ(std::system(("mkfs.fat -F 32 -n CARD -C " + Paths.DevDir + "/sdb1 40000 >/dev/null").c_str()), 0);
  std::ofstream(Paths.DevDir + "/sdb2") << std::string(32768, '\0');
  ASSERT_EQ(std::system(("mkfs.fat -F 16 -s 2 -n BARE -C " + Paths.DevDir + "/sdc 8000 >/dev/null").c_str()), 0);

  const auto drives = ListBlockDevices(Paths);
  ASSERT_EQ(drives.size(), 3u);
  EXPECT_EQ(drives[0].Name, "sdb1");
  EXPECT_TRUE(drives[0].Offered);
  EXPECT_EQ(drives[0].FileSystem, "FAT32");
  EXPECT_EQ(drives[0].Label, "CARD");
  EXPECT_EQ(drives[0].Root, "/media/me/CARD/");
  EXPECT_EQ(drives[0].DriveType, dtRemovable);
  EXPECT_EQ(drives[0].Size, 80000u * 512);
  EXPECT_EQ(drives[1].Name, "sdb2");
  EXPECT_FALSE(drives[1].Offered);
  EXPECT_EQ(drives[1].Reason, "no FAT or NTFS file system found");
  EXPECT_EQ(drives[2].Name, "sdc");
  EXPECT_EQ(drives[2].FileSystem, "FAT");
  EXPECT_EQ(drives[2].Root, "sdc/");
}

TEST_F(FakeSystem, UnreadableDevicesFallBackToWhatUdevRecorded) {
  // The node is missing here (root could read a node with no permission bits); any
  // failure to open takes the same path as a plain user's EACCES.
  Device("pci0/usb1/host6/block", "sde", "8:64", 100, false);
  Write(Paths.UdevData + "/b8:64", "E:ID_FS_TYPE=vfat\nE:ID_FS_VERSION=FAT32\nE:ID_FS_LABEL=NIKON");
  const auto drives = ListBlockDevices(Paths);
  ASSERT_EQ(drives.size(), 1u);
  EXPECT_TRUE(drives[0].Offered);
  EXPECT_EQ(drives[0].FileSystem, "FAT32");
  EXPECT_EQ(drives[0].Label, "NIKON");
  EXPECT_EQ(drives[0].OpenError, ENOENT);
}

TEST_F(FakeSystem, CoordinatorFollowsDevicesComingAndGoing) {
  Device("pci0/usb1/host6/block", "sdc", "8:32", 16000, false);
  ASSERT_EQ(std::system(("mkfs.fat -F 16 -s 2 -n CARD -C " + Paths.DevDir + "/sdc 8000 >/dev/null").c_str()), 0);
  TQueueBridge bridge;
  TRecoveryHelper helper(&bridge, true, Paths);
  ASSERT_EQ(helper.Drives().size(), 1u);
  EXPECT_TRUE(helper.Drives()[0]->FromMachine);
  helper.AddImage(Paths.DevDir + "/sdc");  // the same volume opened by hand: still one entry
  ASSERT_EQ(helper.Drives().size(), 1u);
  TempDir other;
  const std::string image = other.Path() + "/card.img";
  ASSERT_EQ(std::system(("mkfs.fat -F 12 -C " + image + " 2000 >/dev/null").c_str()), 0);
  helper.AddImage(image);
  ASSERT_EQ(helper.Drives().size(), 2u);
  helper.SetCurrentDisk(helper.Drives()[0].get());

  // A second card arrives; the first stays listed and chosen.
  Device("pci0/usb2/host7/block", "sdd", "8:48", 16000, false);
  ASSERT_EQ(std::system(("mkfs.fat -F 16 -s 2 -n SECOND -C " + Paths.DevDir + "/sdd 8000 >/dev/null").c_str()), 0);
  helper.RefreshDrives();
  ASSERT_EQ(helper.Drives().size(), 3u);
  EXPECT_EQ(helper.CurrentDisk(), helper.Drives()[0].get());

  // The first card is pulled out: its entry goes, the image stays.
  fs::remove(fs::path(Paths.SysClassBlock) / "sdc");
  helper.RefreshDrives();
  ASSERT_EQ(helper.Drives().size(), 2u);
  EXPECT_EQ(helper.CurrentDisk(), nullptr);
  EXPECT_EQ(helper.Drives()[0]->Name, "card.img");
  EXPECT_EQ(helper.Drives()[1]->Name, "sdd");

  // A coordinator without the machine's drives ignores them.
  TRecoveryHelper imagesOnly(&bridge, false, Paths);
  imagesOnly.RefreshDrives();
  EXPECT_TRUE(imagesOnly.Drives().empty());
}

TEST(ImageDrives, ForensicSamples) {
  const std::string multiple = FixturePath("fs.multiple");
  const std::string vfat = FixturePath("fs.vfat");
  REQUIRE_FIXTURE(multiple);
  REQUIRE_FIXTURE(vfat);
  const auto parts = ListImageDrives(multiple);
  ASSERT_EQ(parts.size(), 4u);
  const std::pair<const char*, const char*> expected[] = {
      {"fs.multiple#1", "btrfs is not supported"},
      {"fs.multiple#2", "ext4 is not supported"},
      {"fs.multiple#3", "exFAT is not supported"},
      {"fs.multiple#4", ""},
  };
  for (std::size_t i = 0; i < 4; ++i) {
    EXPECT_EQ(parts[i].Name, expected[i].first);
    EXPECT_EQ(parts[i].Reason, expected[i].second);
    EXPECT_EQ(parts[i].Offered, i == 3);
  }
  EXPECT_EQ(parts[3].FileSystem, "NTFS");
  EXPECT_EQ(parts[3].Location.Offset, 391168u * 512);
  EXPECT_EQ(parts[3].Size, 120832u * 512);
  EXPECT_EQ(parts[3].Root, "fs.multiple#4/");

  const auto fat = ListImageDrives(vfat);
  ASSERT_EQ(fat.size(), 1u);
  EXPECT_TRUE(fat[0].Offered);
  EXPECT_EQ(fat[0].FileSystem, "FAT32");
  EXPECT_EQ(fat[0].Location.Offset, 2048u * 512);
}

TEST(ImageDrives, VolumeImagesAndUnreadablePaths) {
  TempDir dir;
  const std::string image = dir.Path() + "/card.img";
  ASSERT_EQ(std::system(("mkfs.fat -F 32 -C " + image + " 40000 >/dev/null").c_str()), 0);
  const auto whole = ListImageDrives(image);
  ASSERT_EQ(whole.size(), 1u);
  EXPECT_EQ(whole[0].Name, "card.img");
  EXPECT_EQ(whole[0].Root, "card.img/");
  EXPECT_EQ(whole[0].DriveType, dtImage);
  EXPECT_TRUE(whole[0].Offered);

  const auto missing = ListImageDrives(dir.Path() + "/nope.img");
  ASSERT_EQ(missing.size(), 1u);
  EXPECT_FALSE(missing[0].Offered);
  EXPECT_EQ(missing[0].Reason, "cannot be read: No such file or directory");
}

}  // namespace
}  // namespace restovo
