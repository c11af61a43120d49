#include "fs/fat/FatScaner.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <functional>
#include <map>
#include <set>

#include "BadSectorDevice.h"
#include "FatTestVolume.h"
#include "TestSupport.h"

namespace restovo {
namespace {

std::array<std::byte, 32> RawEntry(const char* name11, std::uint8_t attr, std::uint32_t cluster,
                                   std::uint32_t size, std::uint8_t caseBits = 0) {
  std::array<std::byte, 32> e{};
  std::memcpy(e.data(), name11, 11);
  e[11] = std::byte{attr};
  e[12] = std::byte{caseBits};
  e[20] = std::byte(cluster >> 16 & 0xFF);
  e[21] = std::byte(cluster >> 24);
  e[26] = std::byte(cluster & 0xFF);
  e[27] = std::byte(cluster >> 8 & 0xFF);
  std::memcpy(e.data() + 28, &size, 4);
  return e;
}

TEST(FatEntries, ShortNames) {
  struct Case {
    const char* raw;
    bool deleted;
    std::uint8_t caseBits;
    const char* name;
  };
  const Case cases[] = {
      {"\xE5" "BC     TXT", true, 0, "$BC.TXT"},
      {"README     ", false, 0, "README"},          // no extension, no dot
      {"NOTES   TXT", false, 0x18, "notes.txt"},     // NT lower-case base and extension
      {"NOTES   TXT", false, 0x08, "notes.TXT"},
      {"\x05" "ABC    DOC", false, 0, "σABC.DOC"},   // 0x05 stands for 0xE5 (σ in code page 437)
      {"CAF\x82    TXT", false, 0, "CAFé.TXT"},
      {" PAD    TXT", false, 0, "PAD.TXT"},
  };
  for (const Case& c : cases) {
    const auto e = RawEntry(c.raw, 0x20, 3, 1, c.caseBits);
    EXPECT_EQ(ShortEntryName(e, c.deleted), c.name) << c.raw;
  }
}

TEST(FatEntries, LongNamesAreAssembledLastPartFirst) {
  FatTestVolume v("-F 16 -s 2", 8000);
  const std::u16string name = u"Report 2017 – final version.docx";  // 32 units, 3 entries
  v.LongName(0, name, "REPORT~1DOC", true);
  std::vector<std::array<std::byte, 32>> entries(3);
  for (int i = 0; i < 3; ++i) std::memcpy(entries[i].data(), v.Bytes.data() + 32 * i, 32);
  EXPECT_EQ(AssembleLongName(entries), Utf16ToUtf8(name));
  // A name that fills its last entry exactly has neither terminator nor padding.
  v.LongName(0, u"exactly13char", "EXACTL~1   ");
  entries.resize(1);
  std::memcpy(entries[0].data(), v.Bytes.data(), 32);
  EXPECT_EQ(AssembleLongName(entries), "exactly13char");
}

TEST(FatEntries, DosTimes) {
  ScopedTimeZone tz("UTC0");
  EXPECT_EQ(DosDateTimeToFileTime((44 << 9) | (7 << 5) | 1, (10 << 11) | (30 << 5) | 7),
            UnixTimeToFileTime(1719829814));
  EXPECT_EQ(DosDateTimeToFileTime(0, 0), 0u);                          // month 0
  EXPECT_EQ(DosDateTimeToFileTime((44 << 9) | (2 << 5) | 30, 0), 0u);  // 30 February
  EXPECT_EQ(DosDateTimeToFileTime((44 << 9) | (7 << 5) | 1, 30), 0u);  // 60 seconds
}

TEST(FatEntries, Validity) {
  FatTestVolume v("-F 16 -s 2", 8000);
  const auto disk = v.Disk();
  auto* s = static_cast<TFatScaner*>(CreateScaner(disk.get()).release());
  std::unique_ptr<TDiskScaner> owner(s);
  struct Case {
    std::array<std::byte, 32> entry;
    bool valid;
    std::int32_t status;
  };
  const std::uint32_t last = s->DataClusterCount + 1;
  const Case cases[] = {
      {RawEntry("FILE    TXT", 0x20, 5, 10), true, psOk},
      {RawEntry("\0ILE    TXT", 0x20, 5, 10), false, psEndOfDirectory},
      {RawEntry("FILE    TXT", 0x40, 5, 10), false, psInvalidEntry},
      {RawEntry("A\x01      TXT", 0x0F, 0, 0), true, psOk},  // long-name entries pass as such
      {RawEntry("FILE    TXT", 0x20, 0, 10), false, psInvalidEntry},  // data without a cluster
      {RawEntry("EMPTY   TXT", 0x20, 0, 0), true, psOk},
      {RawEntry("FILE    TXT", 0x20, last, 10), true, psOk},  // the volume's last cluster
      {RawEntry("FILE    TXT", 0x20, last + 1, 10), false, psInvalidEntry},
      {RawEntry("FILE    TXT", 0x20, 1, 10), false, psInvalidEntry},
      {RawEntry(".          ", 0x10, 5, 0), false, psInvalidEntry},
      {RawEntry("A+B     TXT", 0x20, 5, 10), false, psInvalidEntry},
      {RawEntry("lower   txt", 0x20, 5, 10), true, psOk},
      {RawEntry("\x05" "ABC    TXT", 0x20, 5, 10), true, psOk},
      {RawEntry("\xE5" "ABC    TXT", 0x20, 5, 10), true, psOk},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(s->IsValidEntry(c.entry), c.valid) << std::string(reinterpret_cast<const char*>(c.entry.data()), 11);
    EXPECT_EQ(s->ParseStatus, c.status);
  }
}

template <class T>
std::unique_ptr<T> ScanerFor(TDiskObject* disk) {
  auto s = CreateScaner(disk);
  auto* typed = dynamic_cast<T*>(s.get());
  if (!typed) return nullptr;
  s.release();
  return std::unique_ptr<T>(typed);
}

TEST(FatTable, Fat12EntriesIncludingOneAcrossASectorBoundary) {
  FatTestVolume v("-F 12", 2000);
  ASSERT_TRUE(v.Fat12);
  v.SetFat(2, 0xABC);
  v.SetFat(3, 0x123);    // odd: starts at byte 4, high 12 bits of the word
  v.SetFat(340, 0x456);  // even neighbour of the straddling entry
  v.SetFat(341, 0x789);  // bytes 511 and 512: the entry spans two table sectors
  v.SetFat(342, 0xDEF);
  const auto disk = v.Disk();
  EXPECT_EQ(disk->FsKind, fkFat12);
  auto s = ScanerFor<TFat12Scaner>(disk.get());
  ASSERT_NE(s, nullptr);
  EXPECT_EQ(s->GetFatEntry(2), 0xABCu);
  EXPECT_EQ(s->GetFatEntry(3), 0x123u);
  EXPECT_EQ(s->GetFatEntry(342), 0xDEFu);
  EXPECT_EQ(s->GetFatEntry(341), 0x789u);
  EXPECT_EQ(s->GetFatEntry(340), 0x456u);
  EXPECT_EQ(s->GetFatEntry(4), 0u);
}

TEST(FatTable, ChainsFollowTheTableAndEndOnLoopsAndStrayValues) {
  FatTestVolume v("-F 16 -s 8", 20000);  // 4 KiB clusters
  v.Chain({5, 9});
  v.SetFat(20, 21);
  v.SetFat(21, 22);
  v.SetFat(22, 20);      // a loop
  v.SetFat(30, 0xFFFA);  // a reserved value past the last cluster
  v.SetFat(40, 1);       // cluster 1 does not exist
  const auto disk = v.Disk();
  auto s = ScanerFor<TFat16Scaner>(disk.get());
  ASSERT_NE(s, nullptr);
  auto offsets = [&](std::initializer_list<std::uint32_t> ks) {
    TClusChain c;
    for (auto k : ks) c.push_back(s->ClusterOffset(k));
    return c;
  };
  TFatEntryInfo e;
  e.FirstCluster = 5;
  s->BuildFileChain(e, 8000);
  EXPECT_EQ(e.Clusters, offsets({5, 9}));
  // A loop ends before its first repeat: each cluster once.
  e.FirstCluster = 20;
  s->BuildFileChain(e, 1);
  EXPECT_EQ(e.Clusters, offsets({20, 21, 22}));
  e.FirstCluster = 21;
  s->BuildFileChain(e, 1);
  EXPECT_EQ(e.Clusters, offsets({21, 22, 20}));
  e.FirstCluster = 30;
  s->BuildFileChain(e, 1);
  EXPECT_EQ(e.Clusters, offsets({30}));
  e.FirstCluster = 40;
  s->BuildFileChain(e, 1);
  EXPECT_EQ(e.Clusters, offsets({40}));

  // Deleted: the clusters from the first on, passing over those in use now (other files
  // sat there when this one was written); the first is the file's own whatever the table says.
  e.Deleted = true;
  e.FirstCluster = 100;
  s->BuildFileChain(e, 10000);
  EXPECT_EQ(e.Clusters, offsets({100, 101, 102}));
  s->BuildFileChain(e, 0);
  EXPECT_TRUE(e.Clusters.empty());
  FatTestVolume w = v;
  w.Chain({100});
  w.Chain({101, 102});
  const auto disk2 = w.Disk();
  auto s2 = ScanerFor<TFat16Scaner>(disk2.get());
  s2->BuildFileChain(e, 10000);
  EXPECT_EQ(e.Clusters, (TClusChain{s2->ClusterOffset(100), s2->ClusterOffset(103), s2->ClusterOffset(104)}));
}

TEST(FatTable, VerdictsFromTheShareOfFreeClusters) {
  FatTestVolume v("-F 16 -s 8", 20000);
  // Files at 100 (3 clusters), 200 (5 clusters); `used` marks clusters taken since.
  struct Case {
    std::uint32_t first;
    std::int64_t size;
    std::vector<std::uint32_t> used;
    TRecoverState state;
  };
  const Case cases[] = {
      {100, 10000, {}, rsGood},
      {100, 10000, {101}, rsVeryPoor},  // 2 of 3 free: 66 %
      {100, 10000, {100, 101, 102}, rsLost},
      {200, 5 * 4096, {200, 201, 202, 203}, rsVeryPoor},  // 1 of 5: 20 %
      {200, 5 * 4096, {204}, rsPoor},                     // 4 of 5: 80 %
      {200, 5 * 4096, {200, 201, 202, 203, 204}, rsLost},
  };
  for (const Case& c : cases) {
    FatTestVolume w = v;
    for (auto k : c.used) w.SetFat(k, 0xFFFF);
    const auto disk = w.Disk();
    auto s = ScanerFor<TFat16Scaner>(disk.get());
    TFatEntryInfo e;
    e.Deleted = true;
    e.FirstCluster = c.first;
    EXPECT_EQ(s->RateDeletedFile(e, c.size), c.state) << c.first << " used " << c.used.size();
  }
  // Clusters past the end of the volume do not exist, so they are not free.
  const auto disk = v.Disk();
  auto s = ScanerFor<TFat16Scaner>(disk.get());
  TFatEntryInfo tail;
  tail.Deleted = true;
  tail.FirstCluster = s->DataClusterCount;  // two clusters left on the volume
  EXPECT_EQ(s->RateDeletedFile(tail, 4 * 4096), rsVeryPoor);
}

TEST(FatTable, Fat32ReadsTheActiveTable) {
  for (const std::uint16_t flags : {std::uint16_t{0x0081}, std::uint16_t{0x0001}}) {
    FatTestVolume v("-F 32", 40000);
    PutU16(v.Bytes, 40, flags);
    v.SetFatIn(0, 50, 0x111);
    v.SetFatIn(1, 50, 0x222);
    const auto disk = v.Disk();
    auto s = ScanerFor<TFat32Scaner>(disk.get());
    ASSERT_NE(s, nullptr);
    EXPECT_EQ(s->ActiveFat, flags == 0x0081 ? 1 : 0);
    EXPECT_EQ(s->GetFatEntry(50), flags == 0x0081 ? 0x222u : 0x111u);
  }
}

TEST(FatTable, SectorSizes) {
  {
    FatTestVolume v("-F 16 -S 4096 -s 1", 65536);
    const auto disk = v.Disk();
    auto s = ScanerFor<TFat16Scaner>(disk.get());
    ASSERT_NE(s, nullptr);
    EXPECT_TRUE(s->Prepare());
    EXPECT_EQ(s->ClusterSize, 4096u);
    EXPECT_EQ(static_cast<std::uint64_t>(s->DataOffset), v.DataStart);
    EXPECT_EQ(s->DataClusterCount, v.Clusters);
  }
  for (const int bps : {0, 256, 513, 8192}) {
    FatTestVolume v("-F 16 -s 2", 8000);
    PutU16(v.Bytes, 11, static_cast<std::uint16_t>(bps));
    TVolumeLocation loc;
    loc.Memory = MakeMemoryDevice(v.Bytes);
    TDiskObject disk("m/", "m", loc);
    disk.FsKind = fkFat16;  // as if the platform still called it FAT
    auto s = CreateScaner(&disk);
    EXPECT_FALSE(s->Prepare()) << bps;
    s->Scan();
    EXPECT_EQ(s->RootItem, nullptr);
    EXPECT_TRUE(s->Items.empty());
  }
}

// Paths of everything linked below the root, with "*" after listed items.
std::set<std::string> Tree(const TDiskScaner& s) {
  std::set<std::string> out;
  std::set<const TFileInfo*> listed(s.Items.begin(), s.Items.end());
  std::vector<std::pair<const TFileInfo*, std::string>> stack{{s.RootItem, ""}};
  while (!stack.empty()) {
    auto [item, path] = stack.back();
    stack.pop_back();
    if (!item || !item->Children) continue;
    for (const TFileInfo* c : *item->Children) {
      const std::string p = path + "/" + c->Name;
      out.insert(p + (c->IsFolder ? "/" : "") + (listed.count(c) ? "*" : ""));
      stack.push_back({c, p});
    }
  }
  return out;
}

const TFileInfo* Find(const TDiskScaner& s, const std::string& name) {
  for (const TFileInfo* i : s.Items)
    if (i->Name == name) return i;
  return nullptr;
}

std::unique_ptr<TDiskObject> DiskWithBadSectors(const FatTestVolume& v, std::vector<std::pair<std::uint64_t, std::uint64_t>> bad) {
  TVolumeLocation loc;
  loc.Memory = std::make_shared<TBadSectorDevice>(v.Bytes, std::move(bad));
  return std::make_unique<TDiskObject>("bad.img/", "bad.img", loc);
}

TEST(FatTable, UnreadableTableSectorsComeFromTheOtherCopyOrAreUnknown) {
  FatTestVolume v("-F 16 -s 8", 20000);
  ASSERT_EQ(v.Fats, 2u);
  // A deleted file of three clusters at 1000 (table sector 3); 1001 is taken since.
  v.SetFat(1001, 0xFFFF);
  v.Entry(v.RootOffset(), "GONE    TXT", 0x20, 1000, 10000, true);
  const std::uint64_t table0 = std::uint64_t{v.Reserved} * v.Bps, table1 = table0 + std::uint64_t{v.FatSectors} * v.Bps;
  const std::uint64_t sector = 3 * v.Bps;
  struct Case {
    const char* what;
    std::vector<std::pair<std::uint64_t, std::uint64_t>> bad;
    std::uint32_t entry1001;
    TRecoverState state;
    std::uint64_t unreadBytes;  // counted once, however often the entries are looked up
  };
  const Case cases[] = {
      {"all readable", {}, 0xFFFF, rsVeryPoor, 0},
      {"first copy bad", {{table0 + sector, table0 + sector + v.Bps}}, 0xFFFF, rsVeryPoor, 0},
      {"second copy bad", {{table1 + sector, table1 + sector + v.Bps}}, 0xFFFF, rsVeryPoor, 0},
      {"both bad", {{table0 + sector, table0 + sector + v.Bps}, {table1 + sector, table1 + sector + v.Bps}},
       TFatScaner::kUnknownEntry, rsPoor, 512},
  };
  for (const Case& c : cases) {
    const auto disk = DiskWithBadSectors(v, c.bad);
    auto s = ScanerFor<TFat16Scaner>(disk.get());
    ASSERT_NE(s, nullptr) << c.what;
    s->Scan();
    s->NoteScanReads();
    EXPECT_EQ(s->Failure(), "") << c.what;
    const TFileInfo* gone = Find(*s, "$ONE.TXT");
    ASSERT_NE(gone, nullptr) << c.what;
    EXPECT_EQ(gone->State, c.state) << c.what;
    EXPECT_EQ(s->GetFatEntry(1001), c.entry1001) << c.what;
    EXPECT_EQ(s->GetFatEntry(1002), c.entry1001 == 0xFFFF ? 0u : c.entry1001) << c.what;
    EXPECT_EQ(s->UnreadBytes, c.unreadBytes) << c.what;
    EXPECT_EQ(s->Volume.UnreadBytes(), c.unreadBytes) << c.what;
    // Entries outside the bad sector are read as they are.
    EXPECT_EQ(s->GetFatEntry(100), 0u) << c.what;
  }
}

TEST(FatTable, AVolumeWithoutAReadableTableFailsItsScan) {
  FatTestVolume v("-F 16 -s 8", 20000);
  v.Entry(v.RootOffset(), "GONE    TXT", 0x20, 1000, 10000, true);
  const std::uint64_t table0 = std::uint64_t{v.Reserved} * v.Bps, table1 = table0 + std::uint64_t{v.FatSectors} * v.Bps;
  const std::uint64_t tableEnd = table1 + std::uint64_t{v.FatSectors} * v.Bps;
  struct Case {
    const char* what;
    std::function<void(FatTestVolume&)> change;
    std::vector<std::pair<std::uint64_t, std::uint64_t>> bad;
    bool fails;
  };
  const Case cases[] = {
      {"first sectors of both copies unreadable", nullptr, {{table0, table0 + 512}, {table1, table1 + 512}}, true},
      {"first sector of one copy unreadable", nullptr, {{table0, table0 + 512}}, false},
      {"both copies begin with another media byte", [](FatTestVolume& w) { w.SetFat(0, 0xFFF0); }, {}, true},
      {"one copy begins with another media byte", [](FatTestVolume& w) { w.SetFatIn(0, 0, 0xFFF0); }, {}, false},
      {"cut half-way through the first copy", [&](FatTestVolume& w) { w.Bytes.resize(table0 + (table1 - table0) / 2); }, {}, true},
      {"cut just before the end of the second copy", [&](FatTestVolume& w) { w.Bytes.resize(tableEnd - 1); }, {}, false},
  };
  for (const Case& c : cases) {
    FatTestVolume w = v;
    if (c.change) c.change(w);
    const auto disk = DiskWithBadSectors(w, c.bad);
    auto s = ScanerFor<TFat16Scaner>(disk.get());
    ASSERT_NE(s, nullptr) << c.what;
    s->Scan();
    if (c.fails) {
      EXPECT_EQ(s->Failure(), "The file allocation table cannot be read") << c.what;
      EXPECT_EQ(s->RootItem, nullptr) << c.what;
      EXPECT_TRUE(s->Items.empty()) << c.what;
    } else {
      EXPECT_EQ(s->Failure(), "") << c.what;
      EXPECT_NE(s->RootItem, nullptr) << c.what;
    }
  }
}

TEST(FatScan, DeletedEntriesOfAllKinds) {
  ScopedTimeZone tz("UTC0");
  FatTestVolume v("-F 16 -s 2", 8000);  // 1 KiB clusters
  std::uint64_t at = v.RootOffset();
  at = v.LongName(at, u"Report 2017.docx", "REPORT~1DOC", true);
  v.Entry(at, "REPORT~1DOC", 0x20, 10, 1500, true);
  v.Entry(at += 32, "ABC     TXT", 0x20, 12, 100, true);
  v.Entry(at += 32, "NOATTR  TXT", 0x00, 13, 100, true);
  v.Entry(at += 32, "LABEL      ", 0x08, 0, 0, true);
  v.Entry(at += 32, "EMPTY   TXT", 0x20, 0, 0, true);
  v.Entry(at += 32, "LIVE    TXT", 0x20, 14, 100);
  v.Chain({14});
  // A deleted folder at cluster 20 holding a live-looking file and a deleted one.
  v.Entry(at += 32, "OLD        ", 0x10, 20, 0, true);
  const std::uint64_t old = v.ClusterOffset(20);
  v.Entry(old + 64, "KEPT    JPG", 0x20, 21, 900);
  v.Entry(old + 96, "GONE    JPG", 0x20, 22, 900, true);
  // A live folder at cluster 30 with a deleted file, and a subfolder whose size field is
  // not 0 (garbage), which is not walked below the root.
  v.Entry(at += 32, "PHOTOS     ", 0x10, 30, 0);
  v.Chain({30});
  const std::uint64_t photos = v.ClusterOffset(30);
  v.Entry(photos + 64, "IMG_0001JPG", 0x20, 31, 2000, true);
  v.Entry(photos + 96, "ODD        ", 0x10, 40, 5000);
  v.Chain({40});
  v.Entry(v.ClusterOffset(40) + 64, "HIDDEN  JPG", 0x20, 41, 100, true);

  const auto disk = v.Disk();
  auto s = CreateScaner(disk.get());
  s->Scan();
  ASSERT_NE(s->RootItem, nullptr);
  EXPECT_EQ(s->RootItem->Name, "mem.img/");
  // Deleted short names have lost their first character; the empty file is in the tree
  // but not listed; label and attribute-0 entries are neither.
  EXPECT_EQ(Tree(*s), (std::set<std::string>{
                          "/Report 2017.docx*", "/$BC.TXT*", "/$MPTY.TXT", "/$LD/",
                          "/$LD/KEPT.JPG*", "/$LD/$ONE.JPG*", "/PHOTOS/", "/PHOTOS/$MG_0001.JPG*"}));
  const TFileInfo* report = Find(*s, "Report 2017.docx");
  ASSERT_NE(report, nullptr);
  EXPECT_EQ(report->Size, 1500);
  EXPECT_EQ(report->Attributes, 0x20u);
  EXPECT_EQ(report->LastWriteTime, UnixTimeToFileTime(1719829814));
  EXPECT_EQ(report->LastAccessTime, UnixTimeToFileTime(1719878400));
  EXPECT_FALSE(report->InUse);
  const TFileInfo* kept = Find(*s, "KEPT.JPG");
  ASSERT_NE(kept, nullptr);
  EXPECT_TRUE(static_cast<const TFatEntryInfo*>(kept->FsData.get())->Deleted);
  EXPECT_FALSE(kept->Parent->InUse);
  EXPECT_TRUE(Find(*s, "$MG_0001.JPG")->Parent->InUse);
  // Folders holding deleted files, the root excepted (it holds some of its own).
  std::set<std::string> folders;
  for (const TFileInfo* f : s->FolderList) folders.insert(f->Name);
  EXPECT_EQ(folders, (std::set<std::string>{"$LD", "PHOTOS"}));
}

TEST(FatScan, LongNameRunGoesOnInTheNextCluster) {
  FatTestVolume v("-F 16 -s 1", 8000);  // 512-byte clusters: 16 entries each
  v.Entry(v.RootOffset(), "DIR        ", 0x10, 50, 0);
  v.Chain({50, 51});
  // Two long-name entries at the end of cluster 50, the third and the short entry in 51.
  const std::uint64_t end50 = v.ClusterOffset(50) + 512 - 64;
  FatTestVolume scratch = v;
  scratch.LongName(0, u"Long name across clusters.txt", "ALONGN~1TXT", true);
  std::memcpy(v.Bytes.data() + end50, scratch.Bytes.data(), 64);
  std::memcpy(v.Bytes.data() + v.ClusterOffset(51), scratch.Bytes.data() + 64, 32);
  v.Entry(v.ClusterOffset(51) + 32, "ALONGN~1TXT", 0x20, 60, 10, true);
  const auto disk = v.Disk();
  auto s = CreateScaner(disk.get());
  s->Scan();
  ASSERT_EQ(s->Items.size(), 1u);
  EXPECT_EQ(s->Items[0]->Name, "Long name across clusters.txt");
}

// Two deleted files whose clusters overlap cannot both hold their own bytes there: neither
// stays "Good". The clusters are the ones a restore reads, passing over those live files
// hold: a file that goes on after a live cluster claims the cluster behind it.
TEST(FatScan, DeletedFilesClaimingTheSameClustersAreNotGood) {
  FatTestVolume v("-F 16 -s 1", 8000);  // 512-byte clusters
  std::uint64_t at = v.RootOffset();
  v.Entry(at, "OLDER   JPG", 0x20, 10, 1500, true);            // 10, 11, 12
  v.Entry(at += 32, "NEWER   JPG", 0x20, 12, 1500, true);      // 12, 13, 14
  v.Entry(at += 32, "ALONE   JPG", 0x20, 30, 1500, true);      // 30, 31, 32
  v.Entry(at += 32, "AROUND  JPG", 0x20, 40, 1000, true);      // 40, 42 (41 is live)
  v.Entry(at += 32, "LIVE    BIN", 0x20, 41, 500);
  v.Chain({41});
  v.Entry(at += 32, "BEHIND  JPG", 0x20, 42, 500, true);       // 42
  v.Entry(at += 32, "AFTER   JPG", 0x20, 43, 500, true);       // 43
  const auto disk = v.Disk();
  auto s = CreateScaner(disk.get());
  s->Scan();
  const std::map<std::string, TRecoverState> want = {
      {"$LDER.JPG", rsPoor}, {"$EWER.JPG", rsPoor}, {"$LONE.JPG", rsGood}, {"$EHIND.JPG", rsPoor}, {"$FTER.JPG", rsGood}};
  for (const auto& [name, state] : want) {
    const TFileInfo* f = Find(*s, name);
    ASSERT_NE(f, nullptr) << name;
    EXPECT_EQ(f->State, state) << name;
  }
}

TEST(FatScan, ADeletedFolderGoesOnInTheNextFreeClusterThatHoldsEntries) {
  FatTestVolume v("-F 16 -s 1", 8000);  // 512-byte clusters: 16 entries each
  v.Entry(v.RootOffset(), "ABIG       ", 0x10, 60, 0, true);
  v.Entry(v.RootOffset() + 32, "ASMALL     ", 0x10, 70, 0, true);
  // BIG's first cluster is full; its entries go on in cluster 61, and 62 holds file data.
  for (int i = 0; i < 16; ++i) {
    char name[12];
    std::snprintf(name, sizeof name, "XFILE%02d TXT", i);
    v.Entry(v.ClusterOffset(60) + 32u * static_cast<unsigned>(i), name, 0x20, 100, 10, true);
    if (i < 3) v.Entry(v.ClusterOffset(61) + 32u * static_cast<unsigned>(i), name, 0x20, 100, 10, true);
  }
  std::memset(v.Bytes.data() + v.ClusterOffset(62), 'Z', 512);
  // SMALL ends inside its first cluster: the next one is not taken, although it holds entries.
  v.Entry(v.ClusterOffset(70), "AONLY   TXT", 0x20, 100, 10, true);
  v.Entry(v.ClusterOffset(71), "ANOTMINETXT", 0x20, 100, 10, true);
  auto count = [&](FatTestVolume& vol) {
    const auto disk = vol.Disk();
    auto s = CreateScaner(disk.get());
    s->Scan();
    std::map<std::string, int> perFolder;
    for (const TFileInfo* i : s->Items) ++perFolder[i->Parent->Name];
    return perFolder;
  };
  EXPECT_EQ(count(v), (std::map<std::string, int>{{"$BIG", 19}, {"$SMALL", 1}}));
  // Once the next cluster is in use again, it belongs to something else.
  v.SetFat(61, 0xFFFF);
  EXPECT_EQ(count(v), (std::map<std::string, int>{{"$BIG", 16}, {"$SMALL", 1}}));
}

TEST(FatScan, FixedRootRegionEndsWhereTheDataBegins) {
  // 16 root entries = one 512-byte sector; the first data cluster holds bytes that look
  // like a deleted entry and must not be read as part of the root folder.
  FatTestVolume v("-F 16 -s 4 -r 16", 16000);
  v.Entry(v.RootOffset(), "REAL    TXT", 0x20, 5, 10, true);
  v.Entry(v.DataStart, "FAKE    TXT", 0x20, 6, 10, true);
  const auto disk = v.Disk();
  auto s = CreateScaner(disk.get());
  s->Scan();
  ASSERT_EQ(s->Items.size(), 1u);
  EXPECT_EQ(s->Items[0]->Name, "$EAL.TXT");
}

TEST(FatScan, DeletedFoldersThatLeadBackIntoAnAncestorEnd) {
  FatTestVolume v("-F 32", 40000);
  const std::uint32_t rootCluster = v.U32(44);
  v.Entry(v.RootOffset(), "A          ", 0x10, 10, 0);
  v.Chain({10});
  const std::uint64_t a = v.ClusterOffset(10);
  v.Entry(a + 64, "LOOP       ", 0x10, 10, 0, true);            // back to its parent
  v.Entry(a + 96, "TOROOT     ", 0x10, rootCluster, 0, true);  // back to the root
  v.Entry(a + 128, "AX      TXT", 0x20, 11, 5, true);
  const auto disk = v.Disk();
  auto s = CreateScaner(disk.get());
  s->Scan();
  ASSERT_EQ(s->Items.size(), 1u);
  EXPECT_EQ(s->Items[0]->Name, "$X.TXT");
}

// A table entry pointing at its own cluster made the folder's one cluster look like
// thousands, and each file in it was listed once per copy.
TEST(FatScan, FoldersWhoseChainPointsBackAtItselfAreReadOnce) {
  struct Case {
    const char* options;
    int kib;
  };
  for (const Case& c : {Case{"-F 12", 4000}, Case{"-F 16 -s 1", 20000}, Case{"-F 32 -s 1", 40000}}) {
    SCOPED_TRACE(c.options);
    FatTestVolume v(c.options, c.kib);
    v.Entry(v.RootOffset(), "DIR        ", 0x10, 10, 0);
    v.SetFat(10, 10);
    v.Entry(v.ClusterOffset(10), "IN      TXT", 0x20, 11, 5, true);
    v.Entry(v.ClusterOffset(10) + 32, "SUB        ", 0x10, 12, 0);
    v.SetFat(12, 12);
    v.Entry(v.ClusterOffset(12), "DEEP    TXT", 0x20, 13, 5, true);
    if (v.Fat32) {
      v.SetFat(v.U32(44), v.U32(44));  // the root folder too
      v.Entry(v.RootOffset() + 32, "TOP     TXT", 0x20, 14, 5, true);
    }
    const auto disk = v.Disk();
    auto s = CreateScaner(disk.get());
    s->Scan();
    std::vector<std::string> names;
    for (const TFileInfo* i : s->Items) names.push_back(i->Name);
    std::sort(names.begin(), names.end());
    std::vector<std::string> want{"$EEP.TXT", "$N.TXT"};
    if (v.Fat32) want.insert(want.begin(), "$OP.TXT");
    std::sort(want.begin(), want.end());
    EXPECT_EQ(names, want);
  }
}

TEST(FatScan, RootWithoutFoldersAndEmptyVolumes) {
  FatTestVolume v("-F 32", 40000);
  {
    const auto disk = v.Disk();
    auto s = CreateScaner(disk.get());
    s->Scan();
    ASSERT_NE(s->RootItem, nullptr);
    EXPECT_TRUE(s->Items.empty());
    EXPECT_TRUE(s->FolderList.empty());
  }
  v.Entry(v.RootOffset(), "ONLY    BIN", 0x20, 7, 3000, true);
  const auto disk = v.Disk();
  std::vector<std::pair<std::int64_t, std::int64_t>> progress;
  auto s = CreateScaner(disk.get());
  s->OnProgress = [&](TDiskScaner*, std::int64_t t, std::int64_t p) { progress.push_back({t, p}); };
  s->Scan();
  ASSERT_EQ(s->Items.size(), 1u);
  EXPECT_EQ(s->Items[0]->Parent, s->RootItem);
  EXPECT_TRUE(progress.empty());  // no folders: nothing to divide by
}

TEST(FatScan, GarbageAndTruncatedVolumesGiveWhatCanBeRead) {
  FatTestVolume v("-F 32", 40000);
  v.Entry(v.RootOffset(), "DIR        ", 0x10, 10, 0);
  v.Chain({10});
  v.Entry(v.ClusterOffset(10), "BA      TXT", 0x20, 11, 5, true);
  std::uint32_t seed = 12345;
  for (std::uint64_t i = v.ClusterOffset(10) + 32; i < v.ClusterOffset(10) + 512; ++i) {
    seed = seed * 1103515245 + 12345;
    v.Bytes[i] = std::byte(seed >> 16);
  }
  {
    const auto disk = v.Disk();
    auto s = CreateScaner(disk.get());
    s->Scan();
    EXPECT_NE(Find(*s, "$A.TXT"), nullptr);
  }
  // Cut the image inside the folder's cluster: the root is read, the folder is not.
  v.Bytes.resize(v.ClusterOffset(10) + 100);
  const auto disk = v.Disk();
  auto s = CreateScaner(disk.get());
  s->Scan();
  EXPECT_NE(s->RootItem, nullptr);
  EXPECT_TRUE(s->Items.empty());
}

}  // namespace
}  // namespace restovo
