#include "volume/PartitionTable.h"

#include <gtest/gtest.h>

#include <cstring>
#include <fstream>
#include <sstream>

#include "TestSupport.h"

namespace restovo {
namespace {

constexpr std::uint64_t kSector = 512;

// An in-memory disk of `sectors` sectors with MBR-style records written where asked.
struct DiskBuilder {
  explicit DiskBuilder(std::uint64_t sectors) : Bytes(sectors * kSector) {}

  void Entry(std::uint64_t tableLba, int slot, std::uint8_t type, std::uint32_t start,
             std::uint32_t count) {
    const std::size_t at = tableLba * kSector + 446 + 16 * slot;
    Bytes[at + 4] = std::byte{type};
    PutU32(Bytes, at + 8, start);
    PutU32(Bytes, at + 12, count);
    PutU16(Bytes, tableLba * kSector + 510, 0xAA55);
  }

  TPartitionTable Read() const {
    TVolumeLocation loc;
    loc.Memory = MakeMemoryDevice(Bytes);
    return ReadPartitionTable(OpenVolume(loc));
  }

  std::vector<std::byte> Bytes;
};

struct Expected {
  int number;
  std::uint64_t startLba;
  std::uint64_t sectors;
  std::uint8_t type;
};

void ExpectPartitions(const TPartitionTable& t, const std::vector<Expected>& want) {
  ASSERT_EQ(t.Partitions.size(), want.size());
  for (std::size_t i = 0; i < want.size(); ++i) {
    EXPECT_EQ(t.Partitions[i].Number, want[i].number);
    EXPECT_EQ(t.Partitions[i].Offset, want[i].startLba * kSector) << want[i].number;
    EXPECT_EQ(t.Partitions[i].Length, want[i].sectors * kSector) << want[i].number;
    EXPECT_EQ(t.Partitions[i].MbrType, want[i].type) << want[i].number;
  }
}

TEST(PartitionTable, PrimaryExtendedAndLogical) {
  DiskBuilder d(4096);
  d.Entry(0, 0, 0x0C, 64, 1000);
  d.Entry(0, 1, 0x0F, 2000, 2000);  // extended container at 2000
  d.Entry(0, 3, 0x07, 1100, 800);
  // First EBR: logical at +32 of itself, next EBR at +1000 of the container.
  d.Entry(2000, 0, 0x06, 32, 500);
  d.Entry(2000, 1, 0x05, 1000, 900);
  d.Entry(3000, 0, 0x83, 32, 800);
  const TPartitionTable t = d.Read();
  EXPECT_EQ(t.Kind, TTableKind::Mbr);
  ExpectPartitions(t, {{1, 64, 1000, 0x0C}, {4, 1100, 800, 0x07}, {5, 2032, 500, 0x06},
                       {6, 3032, 800, 0x83}});
  EXPECT_TRUE(t.Problems.empty());
}

TEST(PartitionTable, LoopingLogicalChainEnds) {
  DiskBuilder d(4096);
  d.Entry(0, 0, 0x05, 2000, 2000);
  d.Entry(2000, 0, 0x0B, 32, 100);
  d.Entry(2000, 1, 0x05, 500, 100);
  d.Entry(2500, 0, 0x0B, 32, 100);
  d.Entry(2500, 1, 0x05, 500, 100);  // points at itself
  const TPartitionTable t = d.Read();
  ExpectPartitions(t, {{5, 2032, 100, 0x0B}, {6, 2532, 100, 0x0B}});
  ASSERT_EQ(t.Problems.size(), 1u);
  EXPECT_NE(t.Problems[0].find("loops"), std::string::npos);
}

TEST(PartitionTable, SectorsThatAreNotTables) {
  {
    DiskBuilder d(64);  // all zeros: no signature
    EXPECT_EQ(d.Read().Kind, TTableKind::None);
  }
  {
    DiskBuilder d(64);  // signature, but the "entry" starts past the disk: boot code
    d.Entry(0, 0, 0x0C, 100000, 10);
    EXPECT_EQ(d.Read().Kind, TTableKind::None);
  }
  {
    DiskBuilder d(64);  // a FAT boot sector has the same signature and is no table
    d.Entry(0, 0, 0x0C, 1, 10);
    d.Bytes[0] = std::byte{0xEB};
    d.Bytes[1] = std::byte{0x3C};
    d.Bytes[2] = std::byte{0x90};
    PutU16(d.Bytes, 11, 512);
    d.Bytes[13] = std::byte{1};
    PutU16(d.Bytes, 14, 1);
    d.Bytes[16] = std::byte{2};
    PutU16(d.Bytes, 17, 16);
    PutU16(d.Bytes, 19, 64);
    PutU16(d.Bytes, 22, 1);
    EXPECT_EQ(d.Read().Kind, TTableKind::None);
  }
  {
    DiskBuilder d(64);  // a partition reaching past the disk is kept and reported
    d.Entry(0, 0, 0x0C, 8, 1000);
    const TPartitionTable t = d.Read();
    ASSERT_EQ(t.Partitions.size(), 1u);
    EXPECT_EQ(t.Problems.size(), 1u);
  }
}

TEST(PartitionTable, Crc32KnownValue) {
  const char* text = "123456789";
  EXPECT_EQ(Crc32(AsBytes(text, 9)), 0xCBF43926u);
}

// A GPT disk: protective MBR, header at LBA 1, 128 entries of 128 bytes at LBA 2.
std::vector<std::byte> MakeGptDisk(std::uint64_t sectors, bool spoilPrimary) {
  DiskBuilder d(sectors);
  d.Entry(0, 0, 0xEE, 1, static_cast<std::uint32_t>(sectors - 1));
  std::vector<std::byte> entries(128 * 128);
  auto entry = [&](int slot, std::uint8_t typeByte, std::uint64_t first, std::uint64_t last,
                   const char16_t* name) {
    const std::size_t at = static_cast<std::size_t>(slot) * 128;
    for (int k = 0; k < 16; ++k) entries[at + k] = std::byte(typeByte + k);
    PutU64(entries, at + 32, first);
    PutU64(entries, at + 40, last);
    for (int k = 0; name[k]; ++k) PutU16(entries, at + 56 + 2 * k, name[k]);
  };
  entry(0, 0xA2, 40, 139, u"Camera");
  entry(2, 0x10, 200, 299, u"Données");
  const std::uint32_t entriesCrc = Crc32(entries);
  auto header = [&](std::uint64_t my, std::uint64_t alt, std::uint64_t entriesLba) {
    std::vector<std::byte> h(kSector);
    std::memcpy(h.data(), "EFI PART", 8);
    PutU32(h, 8, 0x00010000);
    PutU32(h, 12, 92);
    PutU64(h, 24, my);
    PutU64(h, 32, alt);
    PutU64(h, 40, 34);
    PutU64(h, 48, sectors - 34);
    PutU64(h, 72, entriesLba);
    PutU32(h, 80, 128);
    PutU32(h, 84, 128);
    PutU32(h, 88, entriesCrc);
    PutU32(h, 16, Crc32(std::span(h).first(92)));
    return h;
  };
  auto primary = header(1, sectors - 1, 2);
  auto backup = header(sectors - 1, 1, sectors - 33);
  std::copy(primary.begin(), primary.end(), d.Bytes.begin() + kSector);
  std::copy(entries.begin(), entries.end(), d.Bytes.begin() + 2 * kSector);
  std::copy(entries.begin(), entries.end(), d.Bytes.begin() + (sectors - 33) * kSector);
  std::copy(backup.begin(), backup.end(), d.Bytes.begin() + (sectors - 1) * kSector);
  if (spoilPrimary) d.Bytes[kSector + 30] ^= std::byte{0xFF};
  return d.Bytes;
}

TEST(PartitionTable, GptWithBackupFallback) {
  for (bool spoil : {false, true}) {
    TVolumeLocation loc;
    loc.Memory = MakeMemoryDevice(MakeGptDisk(1024, spoil));
    const TPartitionTable t = ReadPartitionTable(OpenVolume(loc));
    EXPECT_EQ(t.Kind, TTableKind::Gpt);
    ASSERT_EQ(t.Partitions.size(), 2u) << spoil;
    EXPECT_EQ(t.Partitions[0].Number, 1);
    EXPECT_EQ(t.Partitions[0].Offset, 40 * kSector);
    EXPECT_EQ(t.Partitions[0].Length, 100 * kSector);
    EXPECT_EQ(t.Partitions[0].Name, "Camera");
    EXPECT_EQ(t.Partitions[0].TypeGuid, "a5a4a3a2-a7a6-a9a8-aaab-acadaeafb0b1");
    EXPECT_EQ(t.Partitions[1].Number, 3);
    EXPECT_EQ(t.Partitions[1].Name, "Données");
    EXPECT_EQ(t.Problems.size(), spoil ? 1u : 0u);
  }
}

TEST(PartitionTable, GptWithBothHeadersDamaged) {
  auto bytes = MakeGptDisk(1024, true);
  bytes[1023 * kSector + 30] ^= std::byte{0xFF};
  TVolumeLocation loc;
  loc.Memory = MakeMemoryDevice(bytes);
  const TPartitionTable t = ReadPartitionTable(OpenVolume(loc));
  EXPECT_EQ(t.Kind, TTableKind::Gpt);
  EXPECT_TRUE(t.Partitions.empty());
  EXPECT_EQ(t.Problems.size(), 1u);
}

// The images made by sfdisk carry a layout file: number, start byte, length, file system.
TEST(PartitionTable, RealImagesMatchTheirLayout) {
  for (const char* name : {"mbr.img", "gpt.img"}) {
    const std::string image = FixturePath(std::string(name));
    REQUIRE_FIXTURE(image);
    TVolumeLocation loc;
    loc.Source = image;
    const TPartitionTable t = ReadPartitionTable(OpenVolume(loc));
    std::ifstream layout(image.substr(0, image.size() - 4) + ".layout.tsv");
    std::string line;
    std::size_t i = 0;
    while (std::getline(layout, line)) {
      if (line.empty() || line[0] == '#') continue;
      std::istringstream f(line);
      int number = 0;
      std::uint64_t start = 0, length = 0;
      f >> number >> start >> length;
      ASSERT_LT(i, t.Partitions.size()) << name;
      EXPECT_EQ(t.Partitions[i].Number, number) << name;
      EXPECT_EQ(t.Partitions[i].Offset, start) << name;
      EXPECT_EQ(t.Partitions[i].Length, length) << name;
      ++i;
    }
    EXPECT_EQ(i, t.Partitions.size()) << name;
    EXPECT_GT(i, 0u) << name;
  }
}

}  // namespace
}  // namespace restovo
