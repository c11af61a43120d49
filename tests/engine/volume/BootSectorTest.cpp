// Boot sectors from byte arrays: what each kind gives, and the sectors the one parser
// refuses (which the scanners then refuse too).
#include "volume/BootSector.h"

#include <gtest/gtest.h>

#include <cstring>
#include <functional>
#include <vector>

#include "fs/fat/FatScaner.h"
#include "fs/ntfs/NTFSScaner.h"
#include "TestSupport.h"

namespace restovo {
namespace {

// FAT16: 512-byte sectors, 4 per cluster, 4 reserved, two tables of 32 sectors, 512 root
// entries (32 sectors), 32768 sectors: 8167 data clusters.
std::vector<std::byte> Fat16Sector() {
  std::vector<std::byte> b(512);
  b[0] = std::byte{0xEB};
  b[1] = std::byte{0x3C};
  b[2] = std::byte{0x90};
  PutU16(b, 11, 512);
  b[13] = std::byte{4};
  PutU16(b, 14, 4);
  b[16] = std::byte{2};
  PutU16(b, 17, 512);
  b[21] = std::byte{0xF8};
  PutU16(b, 22, 32);
  PutU32(b, 32, 32768);
  b[38] = std::byte{0x29};
  PutU32(b, 39, 0x1234ABCD);
  std::memcpy(b.data() + 43, "CARD       ", 11);
  return b;
}

// FAT32: 1 sector per cluster, 32 reserved, two tables of 600 sectors, 70000 sectors.
std::vector<std::byte> Fat32Sector() {
  std::vector<std::byte> b = Fat16Sector();
  std::fill(b.begin() + 11, b.end(), std::byte{0});
  PutU16(b, 11, 512);
  b[13] = std::byte{1};
  PutU16(b, 14, 32);
  b[16] = std::byte{2};
  b[21] = std::byte{0xF8};
  PutU32(b, 32, 70000);
  PutU32(b, 36, 600);
  PutU16(b, 40, 0x0081);  // only table 1 is kept up to date
  PutU32(b, 44, 2);
  return b;
}

// NTFS: 512-byte sectors, 8 per cluster, 100000 sectors, $MFT at cluster 4, its mirror at
// 6000, 1 KiB records.
std::vector<std::byte> NtfsSector() {
  std::vector<std::byte> b(512);
  b[0] = std::byte{0xEB};
  std::memcpy(b.data() + 3, "NTFS    ", 8);
  PutU16(b, 0x0B, 512);
  b[0x0D] = std::byte{8};
  PutU64(b, 0x28, 100000);
  PutU64(b, 0x30, 4);
  PutU64(b, 0x38, 6000);
  b[0x40] = std::byte{0xF6};
  return b;
}

TEST(BootSector, FiguresOfEachKind) {
  TBootInfo info;
  ASSERT_TRUE(ParseBootSector(Fat16Sector(), info));
  EXPECT_EQ(info.Kind, fkFat16);
  EXPECT_EQ(info.ClusterSize, 2048u);
  EXPECT_EQ(info.TotalClusters, 8167u);
  EXPECT_EQ(info.FatOffset, 4u * 512);
  EXPECT_EQ(info.FatBytes, 32u * 512);
  EXPECT_EQ(info.Fat.FirstDataSector, 4u + 64 + 32);
  EXPECT_EQ(info.Fat.Media, 0xF8);
  EXPECT_EQ(info.Serial, 0x1234ABCDu);
  EXPECT_EQ(info.Label, "CARD");

  ASSERT_TRUE(ParseBootSector(Fat32Sector(), info));
  EXPECT_EQ(info.Kind, fkFat32);
  EXPECT_EQ(info.Fat.ActiveFat, 1u);
  EXPECT_EQ(info.FatOffset, (32u + 600) * 512);
  EXPECT_EQ(info.Fat.RootCluster, 2u);

  ASSERT_TRUE(ParseBootSector(NtfsSector(), info));
  EXPECT_EQ(info.Kind, fkNtfs);
  EXPECT_EQ(info.ClusterSize, 4096u);
  EXPECT_EQ(info.TotalClusters, 12500u);
  EXPECT_EQ(info.MftLcn, 4u);
  EXPECT_EQ(info.MftRecordSize, 1024u);
  EXPECT_EQ(info.Ntfs.MftMirrLcn, 6000);
  EXPECT_STREQ(FsKindName(info.Kind), "NTFS");
}

using TPatch = std::function<void(std::vector<std::byte>&)>;
struct TBadSector {
  const char* what;
  std::vector<std::byte> (*base)();
  TPatch patch;
};

const TBadSector kBadSectors[] = {
    {"FAT: 3 sectors per cluster", Fat16Sector, [](auto& b) { b[13] = std::byte{3}; }},
    {"FAT: 0 sectors per cluster", Fat16Sector, [](auto& b) { b[13] = std::byte{0}; }},
    {"FAT: 768-byte sectors", Fat16Sector, [](auto& b) { PutU16(b, 11, 768); }},
    {"FAT: no jump instruction", Fat16Sector, [](auto& b) { b[0] = std::byte{0}; }},
    {"FAT: no reserved sectors", Fat16Sector, [](auto& b) { PutU16(b, 14, 0); }},
    {"FAT: no tables", Fat16Sector, [](auto& b) { b[16] = std::byte{0}; }},
    {"FAT: data area past the end", Fat16Sector, [](auto& b) { PutU32(b, 32, 100); }},
    {"FAT32: active table 2 of 2", Fat32Sector, [](auto& b) { PutU16(b, 40, 0x0082); }},
    {"FAT32: active table 15 of 2", Fat32Sector, [](auto& b) { PutU16(b, 40, 0x008F); }},
    {"NTFS: 3 sectors per cluster", NtfsSector, [](auto& b) { b[0x0D] = std::byte{3}; }},
    {"NTFS: cluster above 16 MiB", NtfsSector, [](auto& b) { b[0x0D] = std::byte{0xF0}; }},
    {"NTFS: $MFT at the last cluster + 1", NtfsSector, [](auto& b) { PutU64(b, 0x30, 12500); }},
    {"NTFS: $MFT far past the end", NtfsSector, [](auto& b) { PutU64(b, 0x30, 1ull << 62); }},
    {"NTFS: 128-byte records", NtfsSector, [](auto& b) { b[0x40] = std::byte{0xF9}; }},
    {"NTFS: 128 KiB records", NtfsSector, [](auto& b) { b[0x40] = std::byte{0x20}; }},
    {"NTFS: no sectors", NtfsSector, [](auto& b) { PutU64(b, 0x28, 0); }},
    {"NTFS: a byte size beyond 63 bits", NtfsSector, [](auto& b) { PutU64(b, 0x28, 1ull << 62); }},
};

TEST(BootSector, RefusedSectors) {
  for (const TBadSector& c : kBadSectors) {
    std::vector<std::byte> b = c.base();
    TBootInfo info;
    ASSERT_TRUE(ParseBootSector(b, info)) << c.what << " (before the change)";
    c.patch(b);
    EXPECT_FALSE(ParseBootSector(b, info)) << c.what;
    EXPECT_EQ(info.Kind, fkUnknown) << c.what;
    TNtfsGeometry g;
    EXPECT_FALSE(ParseNtfsBootSector(b, g)) << c.what;
  }
  // The $MFT's last possible cluster is still on the volume.
  std::vector<std::byte> b = NtfsSector();
  PutU64(b, 0x30, 12499);
  TNtfsGeometry g;
  EXPECT_TRUE(ParseNtfsBootSector(b, g));
}

// The scanners go by the same rules: a sector the parser refuses is no volume to scan,
// and the scan says so instead of ending empty.
TEST(BootSector, ScannersRefuseWhatTheParserRefuses) {
  for (const TBadSector& c : kBadSectors) {
    std::vector<std::byte> bytes = c.base();
    c.patch(bytes);
    bytes.resize(1 << 20);
    TVolumeLocation loc;
    loc.Memory = MakeMemoryDevice(bytes);
    TDiskObject disk("bad.img/", "bad.img", loc);
    const bool fat = bytes[3] != std::byte{'N'};
    disk.FsKind = fat ? (c.base == Fat32Sector ? fkFat32 : fkFat16) : fkNtfs;
    auto s = CreateScaner(&disk);
    ASSERT_NE(s, nullptr) << c.what;
    s->Scan();
    EXPECT_EQ(s->RootItem, nullptr) << c.what;
    EXPECT_TRUE(s->Items.empty()) << c.what;
    EXPECT_NE(s->Failure().find("boot sector"), std::string::npos) << c.what << ": " << s->Failure();
  }
}

}  // namespace
}  // namespace restovo
