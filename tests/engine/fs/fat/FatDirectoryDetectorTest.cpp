#include "fs/fat/FatDirectoryDetector.h"

#include <gtest/gtest.h>

#include <array>
#include <cstring>
#include <functional>
#include <string>

#include "FatTestVolume.h"
#include "fs/fat/FatScaner.h"

namespace restovo {
namespace {

constexpr std::uint32_t kMaxCluster = 5000;

// One 512-byte cluster written through the test volume's entry writers, then taken out.
struct ClusterCase {
  const char* name;
  std::function<void(FatTestVolume&, std::uint64_t)> write;
  bool directory;
  bool dots;
  bool ended;
  bool headLong;
  bool tailOpen;
};

TEST(FatDirectoryDetector, ClustersAreDirectoriesOnlyWhenEverySlotIsAnEntry) {
  FatTestVolume v("-F 16 -s 1", 8000);
  const ClusterCase cases[] = {
      {"first cluster of a folder",
       [](FatTestVolume& w, std::uint64_t at) {
         w.Entry(at, ".          ", 0x10, 40, 0);
         w.Entry(at + 32, "..         ", 0x10, 0, 0);
         w.Entry(at + 64, "PHOTO   JPG", 0x20, 41, 3000, true);
       },
       true, true, true, false, false},
      {"a later cluster starting inside a long-name run, full, ending in one",
       [](FatTestVolume& w, std::uint64_t at) {
         w.LongName(at - 32, u"holiday picture 5.jpg", "HOLIDA~5JPG", true);  // its last part is in the cluster before
         std::uint64_t p = at + 32;
         w.Entry(p, "HOLIDA~5JPG", 0x20, 60, 1700, true);
         for (p += 32; p < at + 512 - 64; p += 32) w.Entry(p, "FILE    TXT", 0x20, 70, 10, true);
         w.LongName(p, u"holiday picture 6.jpg", "HOLIDA~6JPG", true);
       },
       true, false, false, true, true},
      {"text",
       [](FatTestVolume& w, std::uint64_t at) {
         const std::string text(512, 'a');
         std::memcpy(w.Bytes.data() + at, "Dear Sir, the statement of March is attached.  ", 47);
         std::memcpy(w.Bytes.data() + at + 47, text.data(), 512 - 47);
       },
       false, false, false, false, false},
      {"zeros", [](FatTestVolume&, std::uint64_t) {}, false, false, false, false, false},
      {"an entry naming a cluster past the volume",
       [](FatTestVolume& w, std::uint64_t at) { w.Entry(at, "PHOTO   JPG", 0x20, kMaxCluster + 1, 3000, true); },
       false, false, false, false, false},
      {"one garbage slot among entries",
       [](FatTestVolume& w, std::uint64_t at) {
         w.Entry(at, "PHOTO   JPG", 0x20, 41, 3000, true);
         std::memset(w.Bytes.data() + at + 32, 0x7F, 32);
         w.Entry(at + 64, "PHOTO2  JPG", 0x20, 42, 3000, true);
       },
       false, false, false, false, false},
      {"a lower-case short name",
       [](FatTestVolume& w, std::uint64_t at) { w.Entry(at, "photo   jpg", 0x20, 41, 3000); },
       false, false, false, false, false},
  };
  for (const ClusterCase& c : cases) {
    SCOPED_TRACE(c.name);
    const std::uint64_t at = v.ClusterOffset(40);
    std::memset(v.Bytes.data() + at, 0, 512);
    c.write(v, at);
    const TDirClusterShape shape = ClassifyDirectoryCluster(TBytes(v.Bytes).subspan(at, 512), kMaxCluster);
    EXPECT_EQ(shape.IsDirectory, c.directory);
    EXPECT_EQ(shape.HasDots, c.dots);
    EXPECT_EQ(shape.Ended, c.ended);
    EXPECT_EQ(shape.HeadIsLong, c.headLong);
    EXPECT_EQ(shape.TailOpen, c.tailOpen);
    if (c.dots) {
      EXPECT_EQ(shape.Self, 40u);
      EXPECT_EQ(shape.Parent, 0u);
    }
    if (c.tailOpen) {
      // The run at the end belongs to the short entry "HOLIDA~6JPG" in the next cluster.
      std::array<std::byte, 11> name{};
      std::memcpy(name.data(), "HOLIDA~6JPG", 11);
      EXPECT_EQ(shape.TailChecksum, ShortNameChecksum(name));
    }
  }
}

TEST(FatDirectoryDetector, LongNamesFitTheirShortEntryOnlyWhole) {
  FatTestVolume v("-F 16 -s 1", 8000);
  const std::uint64_t at = v.ClusterOffset(50);
  struct Case {
    const char* name;
    bool deleted;
    int dropParts;             // parts lost from the start of the run (disk order)
    const char* shortName;     // the entry after the run
    TLongNameFit fit;
  } cases[] = {
      {"live, whole", false, 0, "STATEM~1JPG", TLongNameFit::Whole},
      {"deleted, whole", true, 0, "STATEM~1JPG", TLongNameFit::Whole},
      {"deleted, first part overwritten", true, 1, "STATEM~1JPG", TLongNameFit::Partial},
      {"live, first part overwritten", false, 1, "STATEM~1JPG", TLongNameFit::Partial},
      {"another file's short entry", true, 0, "LETTER~5TXT", TLongNameFit::None},
  };
  // A deleted name of exactly 13 characters has no terminator: its extension tells.
  struct Exact {
    const char16_t* name;
    const char* shortName;
    TLongNameFit fit;
  } exact[] = {
      {u"$R7Q9W2E.docx", "$R7Q9W~1DOC", TLongNameFit::Whole},
      {u"holiday pictu", "HOLIDA~1JPG", TLongNameFit::Partial},  // "re 1.jpg" is gone
  };
  for (const Exact& c : exact) {
    SCOPED_TRACE(std::string(c.shortName));
    std::memset(v.Bytes.data() + at, 0, 512);
    const std::uint64_t end = v.LongName(at, c.name, c.shortName, true);
    v.Entry(end, c.shortName, 0x20, 51, 2000, true);
    std::vector<std::array<std::byte, 32>> run(1);
    std::memcpy(run[0].data(), v.Bytes.data() + at, 32);
    EXPECT_EQ(FitLongName(run, TBytes(v.Bytes).subspan(end, 32), nullptr), c.fit);
  }
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    std::memset(v.Bytes.data() + at, 0, 512);
    // The run is made for STATEM~1.JPG, so its checksum is that name's.
    const std::uint64_t end = v.LongName(at, u"statement photo_march.jpg", "STATEM~1JPG", c.deleted);
    v.Entry(end, c.shortName, 0x20, 51, 2000, c.deleted);
    std::vector<std::array<std::byte, 32>> run;
    for (std::uint64_t p = at + 32ull * c.dropParts; p < end; p += 32) {
      run.emplace_back();
      std::memcpy(run.back().data(), v.Bytes.data() + p, 32);
    }
    std::uint8_t first = 0;
    EXPECT_EQ(FitLongName(run, TBytes(v.Bytes).subspan(end, 32), &first), c.fit);
    // A deleted entry's lost first character comes back from the checksum.
    if (c.deleted && c.fit != TLongNameFit::None) {
      EXPECT_EQ(first, 'S');
    }
  }
}

}  // namespace
}  // namespace restovo
