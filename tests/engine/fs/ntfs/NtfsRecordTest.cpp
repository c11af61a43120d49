// FILE records and run lists from byte arrays: fixups, attributes, names, streams.
#include <gtest/gtest.h>

#include <cstring>
#include <functional>

#include "fs/ntfs/MftReader.h"
#include "fs/ntfs/NtfsRecordDetector.h"
#include "TestSupport.h"

namespace restovo {
namespace {

TNtfsGeometry Geometry512() {
  TNtfsGeometry g;
  g.BytesPerSector = 512;
  g.SectorsPerCluster = 8;
  g.BytesPerRecord = 1024;
  return g;
}

// Builds a 1024-byte FILE record attribute by attribute, protected like one on disk.
class RecordBuilder {
 public:
  explicit RecordBuilder(std::uint16_t flags = 0x01, std::uint64_t baseRef = 0) : B(1024) {
    std::memcpy(B.data(), "FILE", 4);
    PutU16(B, 0x04, 0x30);  // sequence array
    PutU16(B, 0x06, 3);
    PutU16(B, 0x14, 0x38);
    PutU16(B, 0x16, flags);
    PutU64(B, 0x20, baseRef);
  }

  RecordBuilder& Resident(std::uint32_t type, const std::u16string& name, const std::vector<std::byte>& value) {
    const std::size_t nameAt = 0x18, valueAt = (nameAt + 2 * name.size() + 7) / 8 * 8;
    const std::size_t length = (valueAt + value.size() + 7) / 8 * 8;
    Header(type, length, 0, name, nameAt);
    PutU32(B, At + 0x10, static_cast<std::uint32_t>(value.size()));
    PutU16(B, At + 0x14, static_cast<std::uint16_t>(valueAt));
    std::memcpy(B.data() + At + valueAt, value.data(), value.size());
    At += length;
    return *this;
  }

  RecordBuilder& NonResident(std::uint32_t type, const std::u16string& name, std::int64_t firstVcn,
                             std::int64_t dataSize, const std::vector<std::uint8_t>& pairs, std::uint16_t flags = 0) {
    const std::size_t nameAt = 0x40, pairsAt = (nameAt + 2 * name.size() + 7) / 8 * 8;
    const std::size_t length = (pairsAt + pairs.size() + 1 + 7) / 8 * 8;
    Header(type, length, 1, name, nameAt);
    PutU16(B, At + 0x0C, flags);
    PutU64(B, At + 0x10, static_cast<std::uint64_t>(firstVcn));
    PutU16(B, At + 0x20, static_cast<std::uint16_t>(pairsAt));
    B[At + 0x22] = std::byte{flags & 1 ? std::uint8_t{4} : std::uint8_t{0}};
    PutU64(B, At + 0x30, static_cast<std::uint64_t>(dataSize));
    std::memcpy(B.data() + At + pairsAt, pairs.data(), pairs.size());
    At += length;
    return *this;
  }

  RecordBuilder& FileName(std::uint64_t parent, const std::u16string& name, std::uint8_t space = 1) {
    std::vector<std::byte> v(0x42 + 2 * name.size());
    PutU64(v, 0, parent | (std::uint64_t{7} << 48));  // a sequence number in the top bits
    v[0x40] = std::byte(name.size());
    v[0x41] = std::byte{space};
    for (std::size_t i = 0; i < name.size(); ++i) PutU16(v, 0x42 + 2 * i, name[i]);
    return Resident(0x30, u"", v);
  }

  RecordBuilder& Times(std::uint64_t created, std::uint64_t written, std::uint64_t changed, std::uint64_t accessed) {
    std::vector<std::byte> v(0x30);
    PutU64(v, 0x00, created);
    PutU64(v, 0x08, written);
    PutU64(v, 0x10, changed);
    PutU64(v, 0x18, accessed);
    return Resident(0x10, u"", v);
  }

  // Ends the attribute list and protects the two sectors with sequence number 0x0101.
  std::vector<std::byte> Finish() {
    PutU32(B, At, 0xFFFFFFFF);
    PutU32(B, 0x18, static_cast<std::uint32_t>(At + 8));
    PutU16(B, 0x30, 0x0101);
    for (int k = 1; k <= 2; ++k) {
      const std::size_t last = 512 * k - 2;
      PutU16(B, 0x30 + 2 * k, static_cast<std::uint16_t>(std::to_integer<int>(B[last]) | std::to_integer<int>(B[last + 1]) << 8));
      PutU16(B, last, 0x0101);
    }
    return B;
  }

 private:
  void Header(std::uint32_t type, std::size_t length, std::uint8_t nonResident, const std::u16string& name,
              std::size_t nameAt) {
    PutU32(B, At, type);
    PutU32(B, At + 4, static_cast<std::uint32_t>(length));
    B[At + 8] = std::byte{nonResident};
    B[At + 9] = std::byte(name.size());
    PutU16(B, At + 0x0A, static_cast<std::uint16_t>(nameAt));
    for (std::size_t i = 0; i < name.size(); ++i) PutU16(B, At + nameAt + 2 * i, name[i]);
  }

  std::vector<std::byte> B;
  std::size_t At = 0x38;
};

TInodeData Parse(std::vector<std::byte> record, TRecordKind* kind = nullptr) {
  TInodeData inode;
  inode.Reset(42);
  EXPECT_TRUE(CheckFixups(Geometry512(), record.data(), static_cast<std::int64_t>(record.size())));
  const TRecordKind k = ParseFileRecord(record, inode);
  if (kind) *kind = k;
  return inode;
}

TEST(NtfsBoot, RecordSizes) {
  std::vector<std::byte> boot(512);
  std::memcpy(boot.data() + 3, "NTFS    ", 8);
  PutU16(boot, 0x0B, 512);
  boot[0x0D] = std::byte{8};
  PutU64(boot, 0x28, 100000);
  PutU64(boot, 0x30, 4);
  const std::pair<std::uint32_t, std::int64_t> cases[] = {{0xF6, 1024}, {0x01, 4096}, {0xF4, 4096}, {0x02, 8192}};
  for (const auto& [v, size] : cases) {
    PutU32(boot, 0x40, v);
    TNtfsGeometry g;
    ASSERT_TRUE(ParseNtfsBootSector(boot, g)) << v;
    EXPECT_EQ(g.BytesPerRecord, size) << v;
  }
  PutU32(boot, 0x40, 0xF9);  // 128-byte records: too small to be real
  TNtfsGeometry g;
  EXPECT_FALSE(ParseNtfsBootSector(boot, g));
  // A sector count whose byte size does not fit 64 bits (found by the fuzzer: the $MFT's
  // offset overflowed), with an $MFT cluster that is "on the volume" by that count.
  PutU32(boot, 0x40, 0xF6);
  PutU64(boot, 0x28, 0x7FFFFFFFFFFFFFF0ull);
  PutU64(boot, 0x30, 9304067394240511ull);
  EXPECT_FALSE(ParseNtfsBootSector(boot, g));
}

TEST(NtfsRecord, Fixups) {
  const auto good = RecordBuilder().FileName(5, u"a.txt").Finish();
  auto record = good;
  EXPECT_TRUE(CheckFixups(Geometry512(), record.data(), 1024));
  // The protected words are back: the record's last word is no longer the sequence number.
  EXPECT_EQ(ReadU16(record, 510), ReadU16(good, 0x32));
  EXPECT_EQ(ReadU16(record, 1022), ReadU16(good, 0x34));

  struct Case {
    const char* what;
    std::function<void(std::vector<std::byte>&)> spoil;
    std::int64_t count;
  };
  const Case cases[] = {
      {"torn second sector", [](auto& r) { PutU16(r, 1022, 0x0202); }, 1024},
      {"not FILE", [](auto& r) { std::memcpy(r.data(), "BAAD", 4); }, 1024},
      {"count 0", [](auto& r) { PutU16(r, 6, 0); }, 1024},
      {"count 1", [](auto& r) { PutU16(r, 6, 1); }, 1024},
      {"count past the buffer", [](auto& r) { PutU16(r, 6, 9); }, 1024},
      {"array past the buffer", [](auto& r) { PutU16(r, 4, 1020); }, 1024},
      {"too short", [](auto&) {}, 15},
      {"shorter than its sectors", [](auto&) {}, 600},
  };
  for (const Case& c : cases) {
    auto r = good;
    c.spoil(r);
    EXPECT_FALSE(CheckFixups(Geometry512(), r.data(), c.count)) << c.what;
  }
  EXPECT_FALSE(CheckFixups(Geometry512(), nullptr, 1024));
}

// On a volume of 512-byte clusters a record found by the deep pass may start in one read
// block and end in the next: it is found whole when the blocks follow on, once.
TEST(NtfsRecord, TheDetectorReadsARecordSplitOverTwoBlocks) {
  auto record = RecordBuilder().FileName(5, u"a.txt").Finish();
  PutU32(record, 0x2C, 77);  // the number the record carries
  std::vector<std::byte> disk(8192);
  std::memcpy(disk.data() + 3 * 512, record.data(), record.size());
  TNtfsGeometry g = Geometry512();
  g.SectorsPerCluster = 1;
  struct Case {
    std::size_t cut;
    std::uint64_t gap;  // bytes skipped between the two blocks
    std::size_t found;
  };
  const std::uint64_t base = 1 << 20;
  for (const Case& c : {Case{8192, 0, 1}, Case{4 * 512, 0, 1}, Case{3 * 512, 0, 1}, Case{4 * 512, 512, 0}}) {
    std::vector<std::pair<std::uint64_t, std::int64_t>> found;
    TNtfsRecordDetector detector(g, [&](std::uint64_t at, std::int64_t number, std::span<std::byte> bytes) {
      found.emplace_back(at, number);
      EXPECT_EQ(ReadU16(bytes, 510), ReadU16(record, 0x32)) << "fixed up";
    });
    detector.Inspect(base, TBytes(disk).first(c.cut));
    if (c.cut < disk.size()) detector.Inspect(base + c.cut + c.gap, TBytes(disk).subspan(c.cut));
    ASSERT_EQ(found.size(), c.found) << c.cut;
    if (c.found) {
      EXPECT_EQ(found[0].first, base + 3 * 512);
      EXPECT_EQ(found[0].second, 77);
    }
  }
}

TEST(NtfsRecord, RunLists) {
  struct Case {
    const char* what;
    std::vector<std::uint8_t> pairs;
    std::vector<TRunNode> runs;
    std::int64_t allocated;
    bool ok;
  };
  const Case cases[] = {
      {"one run", {0x21, 0x10, 0x00, 0x01, 0x00}, {{256, 16}}, 16, true},
      {"negative second offset", {0x11, 0x04, 0x64, 0x11, 0x02, 0xF6, 0x00}, {{100, 4}, {90, 6}}, 6, true},
      {"sparse middle", {0x11, 0x02, 0x10, 0x01, 0x03, 0x11, 0x01, 0x05, 0x00}, {{16, 2}, {-1, 5}, {21, 6}}, 3, true},
      {"three-byte negative", {0x31, 0x01, 0x00, 0x00, 0x10, 0x31, 0x01, 0x00, 0x00, 0xF0, 0x00},
       {{0x100000, 1}, {0, 2}}, 2, true},
      {"runs past the attribute", {0x21, 0x10, 0x00}, {}, 0, false},
      {"no end marker", {0x11, 0x01, 0x05}, {{5, 1}}, 1, false},
      {"offset before the volume", {0x11, 0x01, 0x05, 0x11, 0x01, 0xF0, 0x00}, {{5, 1}}, 1, false},
      // Clusters whose byte offset would not fit 63 bits (found by the fuzzer).
      {"cluster far beyond any volume", {0x71, 0x01, 0x1B, 0x00, 0x00, 0x00, 0x00, 0x00, 0x08, 0x00}, {}, 0, false},
      {"length far beyond any volume", {0x18, 0, 0, 0, 0, 0, 0x40, 0, 0, 0x05, 0x00}, {}, 0, false},
  };
  for (const Case& c : cases) {
    std::vector<TRunNode> runs;
    std::int64_t allocated = 0;
    std::vector<std::byte> bytes(c.pairs.size());
    std::memcpy(bytes.data(), c.pairs.data(), bytes.size());
    EXPECT_EQ(DecodeRunList(bytes, 0, runs, allocated), c.ok) << c.what;
    ASSERT_EQ(runs.size(), c.runs.size()) << c.what;
    for (std::size_t i = 0; i < runs.size(); ++i) {
      EXPECT_EQ(runs[i].Lcn, c.runs[i].Lcn) << c.what << " run " << i;
      EXPECT_EQ(runs[i].NextVcn, c.runs[i].NextVcn) << c.what << " run " << i;
    }
    EXPECT_EQ(allocated, c.allocated) << c.what;
  }
}

TEST(NtfsRecord, NamesTimesAndTheUnnamedDataStream) {
  // A deleted file: DOS name first, then the long one; a non-resident unnamed $DATA
  // followed by a larger named stream, which must not stand for the file.
  const auto record = RecordBuilder(0x00)
                          .Times(1, 2, 3, 4)
                          .FileName(77, u"REPORT~1.DOC", 2)
                          .FileName(77, u"report.doc")
                          .NonResident(0x80, u"", 0, 5000, {0x11, 0x02, 0x40, 0x00})
                          .NonResident(0x80, u"summary", 0, 90000, {0x11, 0x16, 0x60, 0x00})
                          .Resident(0x80, u"Zone.Identifier", std::vector<std::byte>(26))
                          .Finish();
  const TInodeData inode = Parse(record);
  EXPECT_FALSE(inode.InUse);
  EXPECT_EQ(inode.LongName, u"report.doc");
  EXPECT_EQ(inode.DosName, u"REPORT~1.DOC");
  EXPECT_EQ(inode.ParentRecordNo, 77);  // the sequence number is masked off
  EXPECT_EQ(inode.CreationTime, 1u);
  EXPECT_EQ(inode.WriteTime, 2u);
  EXPECT_EQ(inode.AccessTime, 4u);
  const TNtfsStreamInfo* data = inode.UnnamedData();
  ASSERT_NE(data, nullptr);
  EXPECT_EQ(data->DataSize, 5000);
  EXPECT_EQ(data->Runs.size(), 1u);
  EXPECT_EQ(data->Runs[0].Lcn, 0x40);
  EXPECT_FALSE(inode.HasResident) << "a resident named stream is not the file's data";
  EXPECT_NE(inode.Find(0x80, u"SUMMARY"), nullptr);  // stream names compare without case
}

TEST(NtfsRecord, ResidentDataDosOnlyNamesExtensionsAndAttributeLists) {
  {
    const auto record = RecordBuilder(0x00)
                            .FileName(5, u"NOTES.TXT", 2)
                            .Resident(0x80, u"", std::vector<std::byte>(300, std::byte{'x'}))
                            .Finish();
    const TInodeData inode = Parse(record);
    EXPECT_TRUE(inode.LongName.empty());
    EXPECT_EQ(inode.DosName, u"NOTES.TXT");
    EXPECT_TRUE(inode.HasResident);
    EXPECT_EQ(inode.ResidentSize, 300);
    EXPECT_EQ(ReadU8(record, inode.ResidentOffset), 'x');
    EXPECT_EQ(inode.UnnamedData(), nullptr);
  }
  {
    TRecordKind kind{};
    Parse(RecordBuilder(0x01, 1234).FileName(5, u"x").Finish(), &kind);
    EXPECT_EQ(kind, TRecordKind::Extension);
  }
  {
    const TInodeData inode =
        Parse(RecordBuilder(0x00).Resident(0x20, u"", std::vector<std::byte>(32)).FileName(5, u"big.iso").Finish());
    EXPECT_TRUE(inode.HasAttrList);
  }
  {
    // An attribute whose length runs past the record keeps what came before it.
    auto record = RecordBuilder(0x00).FileName(9, u"kept.txt").Resident(0x80, u"", std::vector<std::byte>(8)).Finish();
    CheckFixups(Geometry512(), record.data(), 1024);
    const std::size_t second = 0x38 + ReadU32(record, 0x38 + 4);
    PutU32(record, second + 4, 5000);
    TInodeData inode;
    inode.Reset(1);
    EXPECT_EQ(ParseFileRecord(record, inode), TRecordKind::Base);
    EXPECT_EQ(inode.LongName, u"kept.txt");
    EXPECT_FALSE(inode.HasResident);
  }
}

// A record damaged part-way keeps what came before the damage and says it is not whole.
TEST(NtfsRecord, DamagedAttributesBreakTheRecordOff) {
  const auto intact = RecordBuilder(0x00)
                          .FileName(9, u"kept.txt")
                          .NonResident(0x80, u"", 0, 8192, {0x11, 0x02, 0x20, 0x00})
                          .Finish();
  {
    TInodeData inode = Parse(intact);
    EXPECT_FALSE(inode.BrokenOff);
    ASSERT_NE(inode.UnnamedData(), nullptr);
    EXPECT_EQ(inode.UnnamedData()->Runs.size(), 1u);
  }
  const std::size_t first = 0x38;
  const std::size_t second = first + ReadU32(intact, first + 4);
  struct Case {
    const char* what;
    std::function<void(std::vector<std::byte>&)> damage;
    bool dataKept;
    bool nameKept = true;
  };
  const Case cases[] = {
      {"a length past the record", [&](auto& r) { PutU32(r, second + 4, 5000); }, false},
      {"a length below any header", [&](auto& r) { PutU32(r, second + 4, 8); }, false},
      {"no end mark", [&](auto& r) { PutU32(r, second + ReadU32(r, second + 4), 0); }, true},
      {"a run list past its attribute", [&](auto& r) { PutU16(r, second + 0x20, 0x1F0); }, true},
      {"a run list without its end", [&](auto& r) {
         const std::size_t length = ReadU32(r, second + 4);
         std::fill(r.begin() + second + 0x40, r.begin() + second + length, std::byte{0x11});
       }, true},
      {"a resident value past its attribute", [&](auto& r) { PutU32(r, first + 0x10, 4000); }, true, false},
  };
  for (const Case& c : cases) {
    auto record = intact;
    ASSERT_TRUE(CheckFixups(Geometry512(), record.data(), 1024));
    c.damage(record);
    TInodeData inode;
    inode.Reset(1);
    EXPECT_EQ(ParseFileRecord(record, inode), TRecordKind::Base) << c.what;
    EXPECT_TRUE(inode.BrokenOff) << c.what;
    EXPECT_EQ(inode.UnnamedData() != nullptr, c.dataKept) << c.what;
    EXPECT_EQ(inode.LongName, c.nameKept ? u"kept.txt" : u"") << c.what;
  }
}

}  // namespace
}  // namespace restovo
