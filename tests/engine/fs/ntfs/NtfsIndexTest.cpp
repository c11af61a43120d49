// Index records (INDX) from byte arrays: entries in use and in slack, and what is refused.
#include <gtest/gtest.h>

#include <cstring>
#include <functional>

#include "fs/ntfs/NtfsIndexDetector.h"
#include "TestSupport.h"

namespace restovo {
namespace {

constexpr std::int64_t kMaxRecord = 1000;
constexpr std::uint64_t kTime = 133500000000000000ull;  // 2024

// A 4096-byte index record with its node header; entries are written where a test says.
struct IndexRecord {
  std::vector<std::byte> B = std::vector<std::byte>(4096);
  static constexpr std::size_t kFirst = 0x40;
  IndexRecord() {
    std::memcpy(B.data(), "INDX", 4);
    PutU16(B, 0x04, 0x28);
    PutU16(B, 0x06, 9);  // one sequence entry and eight sectors
    PutU32(B, 0x18, kFirst - 0x18);
    PutU32(B, 0x20, 4096 - 0x18);
  }
  void Used(std::size_t end) { PutU32(B, 0x1C, static_cast<std::uint32_t>(end - 0x18)); }
  // An entry for `name` at `at`; returns where the next one goes.
  std::size_t Entry(std::size_t at, std::uint64_t ref, std::uint64_t parent, const std::u16string& name,
                    std::uint64_t size = 1234, bool folder = false, std::uint64_t written = kTime) {
    const std::size_t key = 0x42 + 2 * name.size();
    const std::size_t length = (0x10 + key + 7) / 8 * 8;
    PutU64(B, at, ref);
    PutU16(B, at + 8, static_cast<std::uint16_t>(length));
    PutU16(B, at + 10, static_cast<std::uint16_t>(key));
    const std::size_t k = at + 0x10;
    PutU64(B, k, parent);
    PutU64(B, k + 0x08, kTime);
    PutU64(B, k + 0x10, written);
    PutU64(B, k + 0x20, kTime);
    PutU64(B, k + 0x30, size);
    PutU32(B, k + 0x38, folder ? 0x10000000u : 0x20u);
    B[k + 0x40] = std::byte(name.size());
    B[k + 0x41] = std::byte{1};
    for (std::size_t i = 0; i < name.size(); ++i) PutU16(B, k + 0x42 + 2 * i, name[i]);
    return at + length;
  }
  // The end entry of a node: no key.
  std::size_t End(std::size_t at) {
    PutU16(B, at + 8, 0x10);
    PutU16(B, at + 12, 0x02);
    return at + 0x10;
  }
};

constexpr std::uint64_t Ref(std::uint64_t record, std::uint64_t sequence) { return record | (sequence << 48); }

TEST(NtfsIndex, EntriesInUseAndInSlackAreReadWholeOrNotAtAll) {
  struct Case {
    const char* name;
    std::function<void(IndexRecord&)> write;
    std::vector<std::u16string> names;  // in the order read
    std::vector<bool> inSlack;
  };
  const Case cases[] = {
      {"one in use, one removed into the slack",
       [](IndexRecord& r) {
         std::size_t at = r.Entry(IndexRecord::kFirst, Ref(40, 3), Ref(30, 1), u"kept.txt");
         r.Used(r.End(at));
         r.Entry(at + 0x10, Ref(41, 2), Ref(30, 1), u"removed letter.doc");
       },
       {u"kept.txt", u"removed letter.doc"}, {false, true}},
      {"a slack entry half overwritten by a shorter one still gives the shorter",
       [](IndexRecord& r) {
         r.Used(r.End(IndexRecord::kFirst));
         const std::size_t at = IndexRecord::kFirst + 0x10;
         r.Entry(at, Ref(50, 1), Ref(30, 1), u"a rather long name of a photo.jpg");
         r.Entry(at, Ref(51, 1), Ref(30, 1), u"b.txt");
       },
       {u"b.txt"}, {true}},
      {"the last entry removed: its first bytes under the end mark that moved up",
       [](IndexRecord& r) {
         const std::size_t at = r.Entry(IndexRecord::kFirst, Ref(40, 3), Ref(30, 1), u"kept.txt");
         r.Entry(at, Ref(41, 2), Ref(30, 1), u"message 49.eml");
         r.Used(r.End(at));
       },
       {u"kept.txt", u"message 49.eml"}, {false, true}},
      {"a copy of an entry in use, left behind when the entries moved up, is no removed file",
       [](IndexRecord& r) {
         const std::size_t at = r.Entry(IndexRecord::kFirst, Ref(40, 3), Ref(30, 1), u"kept.txt");
         r.Entry(at, Ref(40, 3), Ref(30, 1), u"kept.txt");
         r.Used(r.End(at));
       },
       {u"kept.txt"}, {false}},
      {"a folder", [](IndexRecord& r) { r.Used(r.End(r.Entry(IndexRecord::kFirst, Ref(60, 1), Ref(5, 5), u"Zeta", 0, true))); },
       {u"Zeta"}, {false}},
      {"a name with a slash",
       [](IndexRecord& r) { r.Used(r.End(r.Entry(IndexRecord::kFirst, Ref(40, 1), Ref(30, 1), u"a/b"))); }, {}, {}},
      {"a time no volume writes",
       [](IndexRecord& r) { r.Used(r.End(r.Entry(IndexRecord::kFirst, Ref(40, 1), Ref(30, 1), u"x.txt", 10, false, 0))); },
       {}, {}},
      {"a reference past the last record",
       [](IndexRecord& r) { r.Used(r.End(r.Entry(IndexRecord::kFirst, Ref(kMaxRecord, 1), Ref(30, 1), u"x.txt"))); }, {},
       {}},
      {"a parent below the root",
       [](IndexRecord& r) { r.Used(r.End(r.Entry(IndexRecord::kFirst, Ref(40, 1), Ref(3, 1), u"x.txt"))); }, {}, {}},
      {"a key length that is not the name's",
       [](IndexRecord& r) {
         r.Used(r.End(r.Entry(IndexRecord::kFirst, Ref(40, 1), Ref(30, 1), u"x.txt")));
         PutU16(r.B, IndexRecord::kFirst + 10, 0x42 + 2 * 7);
       },
       {}, {}},
      {"an entry running past the allocated end",
       [](IndexRecord& r) {
         PutU32(r.B, 0x20, 0x200 - 0x18);
         r.Used(r.End(IndexRecord::kFirst));
         r.Entry(0x200 - 0x60, Ref(40, 1), Ref(30, 1), u"abcdefgh.txt");
       },
       {}, {}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    IndexRecord r;
    c.write(r);
    const std::vector<TNtfsIndexEntry> got = ParseIndexRecord(r.B, kMaxRecord);
    ASSERT_EQ(got.size(), c.names.size());
    for (std::size_t i = 0; i < got.size(); ++i) {
      EXPECT_EQ(got[i].Name, c.names[i]);
      EXPECT_EQ(got[i].InSlack, c.inSlack[i]);
      // Where the header is gone, so is the record's number: none is made up.
      if (got[i].Headless) {
        EXPECT_EQ(got[i].File, 0u);
        EXPECT_EQ(got[i].ParentRecord(), 30);
      }
    }
  }
}

TEST(NtfsIndex, TheDetectorFindsProtectedRecordsAndTellsReferencesApart) {
  IndexRecord r;
  std::size_t at = r.Entry(IndexRecord::kFirst, Ref(41, 7), Ref(30, 2), u"statement.pdf", 30000);
  r.Used(r.End(at));
  // Protect it as a volume does: the last two bytes of each sector go to the sequence array.
  PutU16(r.B, 0x28, 0x0009);
  for (int k = 1; k <= 8; ++k) {
    std::memcpy(r.B.data() + 0x28 + 2 * k, r.B.data() + k * 512 - 2, 2);
    PutU16(r.B, static_cast<std::size_t>(k * 512 - 2), 0x0009);
  }
  std::vector<std::byte> block(3 * 4096);
  std::memcpy(block.data() + 4096, r.B.data(), 4096);
  TNtfsGeometry g;
  g.BytesPerSector = 512;
  g.SectorsPerCluster = 8;
  TNtfsIndexDetector detector(g, kMaxRecord);
  detector.Inspect(1 << 20, block);
  ASSERT_EQ(detector.Found().size(), 1u);
  const TNtfsIndexEntry& e = detector.Found()[0];
  EXPECT_EQ(e.Name, u"statement.pdf");
  EXPECT_EQ(e.Record(), 41);
  EXPECT_EQ(e.Sequence(), 7);
  EXPECT_EQ(e.ParentRecord(), 30);
  EXPECT_EQ(e.ParentSequence(), 2);
  EXPECT_EQ(e.Size, 30000);
  // Split over two blocks (clusters smaller than the record), it is read whole once the
  // next block follows on; a block that does not follow drops the start it had.
  struct Split {
    std::size_t cut;
    std::uint64_t secondAt;
    std::size_t found;
  };
  for (const Split& c : {Split{4096 + 1024, (1 << 20) + 4096 + 1024, 1}, Split{4096 + 3584, (1 << 20) + 4096 + 3584, 1},
                         Split{4096 + 1024, (2 << 20), 0}}) {
    TNtfsIndexDetector split(g, kMaxRecord);
    split.Inspect(1 << 20, TBytes(block).first(c.cut));
    split.Inspect(c.secondAt, TBytes(block).subspan(c.cut));
    ASSERT_EQ(split.Found().size(), c.found) << c.cut;
    if (c.found) {
      EXPECT_EQ(split.Found()[0].Name, u"statement.pdf");
    }
  }
  // A torn record (a sector's protected word not the sequence number) is refused.
  PutU16(block, 4096 + 3 * 512 - 2, 0x1234);
  TNtfsIndexDetector torn(g, kMaxRecord);
  torn.Inspect(1 << 20, block);
  EXPECT_TRUE(torn.Found().empty());
}

}  // namespace
}  // namespace restovo
