#include "records/TypesDefine.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>

#include "TestSupport.h"

namespace restovo {
namespace {

TEST(FileInfo, NewRecordIsEmpty) {
  const auto r = NewFileInfo();
  EXPECT_TRUE(r->Name.empty());
  EXPECT_EQ(r->State, rsGood);
  EXPECT_EQ(r->Size + r->AllocClusters + r->AuxRecordNo + r->ParentRecordNo + r->RecordNo, 0);
  EXPECT_EQ(r->CreationTime + r->LastWriteTime + r->LastAccessTime, 0u);
  EXPECT_FALSE(r->InUse || r->Resident || r->HasAttrList || r->IsFolder || r->IsAllFilesNode ||
               r->Linked);
  EXPECT_EQ(r->Parent, nullptr);
  EXPECT_EQ(r->Children, nullptr);
  EXPECT_EQ(r->FsData, nullptr);
  EXPECT_TRUE(r->Runs.empty());
}

TEST(FileInfo, StoreKeepsAddressesAcrossBlocks) {
  TFileInfoStore store;
  std::vector<TFileInfo*> made;
  for (int i = 0; i < 3000; ++i) {
    made.push_back(store.New());
    made.back()->Size = i;
  }
  EXPECT_EQ(store.Count(), 3000u);
  for (int i = 0; i < 3000; ++i) EXPECT_EQ(made[i]->Size, i);
  store.Clear();
  EXPECT_EQ(store.Count(), 0u);
  EXPECT_EQ(store.New()->Size, 0);
}

TEST(FileInfo, LinkingAppendsEachRecordOnceAndStopsAtLinkedAncestor) {
  TFileInfoStore store;
  TFileInfo* root = store.New();
  TFileInfo* dir = store.New();
  TFileInfo* a = store.New();
  TFileInfo* b = store.New();
  dir->Parent = root;
  a->Parent = dir;
  b->Parent = dir;
  LinkToParent(a);
  LinkToParent(b);
  LinkToParent(a);
  ASSERT_TRUE(root->Children);
  ASSERT_TRUE(dir->Children);
  EXPECT_EQ(*root->Children, TFileItems({dir}));
  EXPECT_EQ(*dir->Children, TFileItems({a, b}));
  EXPECT_FALSE(root->Linked);

  std::atomic<bool> stop{true};
  TFileInfo* c = store.New();
  c->Parent = dir;
  LinkToParent(c, &stop);
  EXPECT_FALSE(c->Linked);
  EXPECT_EQ(dir->Children->size(), 2u);
}

TEST(FileNames, ValidityAndCleaning) {
  struct Case {
    const char* name;
    bool valid;
    const char* cleaned;
  };
  const Case cases[] = {
      {"report.txt", true, "report.txt"},
      {"a,b.txt", false, "a,b.txt"},  // comma, caret, semicolon fail the check but stay
      {"x^y;z", false, "x^y;z"},
      {"a:b?.txt", false, "a_b_.txt"},
      {"back\\slash", true, "back_slash"},  // backslash and colon pass the check
      {"c:d", true, "c_d"},
      {"50%", false, "50_"},
      {"<a|b>\"*", false, "_a_b___"},
      {"", true, ""},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(IsValidFileName(c.name), c.valid) << c.name;
    EXPECT_EQ(SanitizeFileName(c.name), c.cleaned) << c.name;
  }
}

TEST(FileNames, UniqueNamesNumberBeforeTheExtension) {
  TempDir dir;
  const std::string out = dir.Path() + "/50%";
  std::filesystem::create_directories(out);
  auto touch = [](const std::string& p) { std::ofstream(p) << "x"; };

  EXPECT_EQ(MakeUniqueFileName(out + "/new.txt"), out + "/new.txt");
  touch(out + "/x.txt");
  EXPECT_EQ(MakeUniqueFileName(out + "/x.txt"), out + "/x(1).txt");
  touch(out + "/x(1).txt");
  EXPECT_EQ(MakeUniqueFileName(out + "/x.txt"), out + "/x(2).txt");
  touch(out + "/readme");
  EXPECT_EQ(MakeUniqueFileName(out + "/readme"), out + "/readme(1)");
  touch(out + "/archive.tar.gz");
  EXPECT_EQ(MakeUniqueFileName(out + "/archive.tar.gz"), out + "/archive.tar(1).gz");
  // A dot in a folder name is not an extension, and folders do not count as taken.
  std::filesystem::create_directories(out + "/v1.2");
  touch(out + "/v1.2/notes");
  EXPECT_EQ(MakeUniqueFileName(out + "/v1.2/notes"), out + "/v1.2/notes(1)");
  std::filesystem::create_directories(out + "/folder.d");
  EXPECT_EQ(MakeUniqueFileName(out + "/folder.d"), out + "/folder.d");
}

// With a counter per name, each further copy costs one look, not one per copy before it.
TEST(FileNames, UniqueNamesContinueFromTheLastNumberTaken) {
  TempDir dir;
  const std::string path = dir.Path() + "/photo.jpg";
  std::uint64_t next = 0;
  for (int i = 0; i <= 3; ++i) {
    const std::string name = MakeUniqueFileName(path, &next);
    EXPECT_EQ(name, i == 0 ? path : dir.Path() + "/photo(" + std::to_string(i) + ").jpg");
    std::ofstream(name) << "x";
  }
  EXPECT_EQ(next, 4u);
  // A number taken meanwhile by someone else is passed over.
  std::ofstream(dir.Path() + "/photo(4).jpg") << "x";
  EXPECT_EQ(MakeUniqueFileName(path, &next), dir.Path() + "/photo(5).jpg");
}

TEST(FileNames, NamesFromAVolumeBecomeOneSafePathComponent) {
  const std::string longStem(300, 'a');
  // "é" is two bytes: a cut at an odd length must not split it.
  std::string wide;
  for (int i = 0; i < 140; ++i) wide += "\xC3\xA9";
  struct Case {
    std::string raw;
    std::string safe;
  };
  const Case cases[] = {
      {"Brief an Müller.docx", "Brief an Müller.docx"},
      {"IMG_0001.JPG", "IMG_0001.JPG"},
      {"a:b*c?.txt", "a:b*c?.txt"},  // fine on Linux; the restore cleans those for the destination
      {"../../escaped.txt", ".._.._escaped.txt"},
      {"/etc/passwd", "_etc_passwd"},
      {"dir\\file", "dir_file"},
      {".", "_"},
      {"..", "__"},
      {std::string("nul\0in", 6), "nul_in"},
      {"tab\there\x7f", "tab_here_"},
      {"bad\xFFutf8\xC3", "bad\xEF\xBF\xBDutf8\xEF\xBF\xBD"},
      {"\xED\xA0\x80surrogate", "\xEF\xBF\xBD\xEF\xBF\xBD\xEF\xBF\xBDsurrogate"},
      {longStem + ".jpeg", std::string(250, 'a') + ".jpeg"},
      {longStem, std::string(255, 'a')},
  };
  for (const Case& c : cases) EXPECT_EQ(MakeSafeName(c.raw), c.safe) << c.raw;

  const std::string cut = MakeSafeName(wide + ".txt");
  EXPECT_LE(cut.size(), 255u);
  EXPECT_EQ(cut.substr(cut.size() - 4), ".txt");
  EXPECT_EQ(Utf16ToUtf8(Utf8ToUtf16(cut)), cut);  // still valid UTF-8: no character was split
  EXPECT_EQ(cut.size(), 4u + 250u);
}

TEST(FileSizes, ThresholdsAndRounding) {
  struct Case {
    std::int64_t size;
    const char* text;
  };
  const Case cases[] = {
      {0, "0 Bytes"},
      {1023, "1,023 Bytes"},
      {-5, "-5 Bytes"},
      {1024, "1.0 KB"},
      {1535, "1.5 KB"},
      {1048575, "1,024.0 KB"},
      {1048576, "1.0 MB"},
      {1073741823, "1,024.0 MB"},
      {1073741824, "1.0 GB"},
      {5LL * 1099511627776LL, "5,120.0 GB"},
  };
  for (const Case& c : cases) EXPECT_EQ(FormatFileSize(c.size, std::locale::classic()), c.text);
}

TEST(FileSizes, UsesTheLocaleSeparators) {
  struct German : std::numpunct<char> {
    char do_thousands_sep() const override { return '.'; }
    char do_decimal_point() const override { return ','; }
    std::string do_grouping() const override { return "\3"; }
  };
  const std::locale de(std::locale::classic(), new German);
  EXPECT_EQ(FormatFileSize(1073741823, de), "1.024,0 MB");
  EXPECT_EQ(FormatFileSize(1023, de), "1.023 Bytes");
}

TEST(Times, FileTimeRoundTripsThroughLocalTime) {
  ScopedTimeZone tz("CET-1CEST,M3.5.0,M10.5.0/3");
  // 2024-07-01 10:30:15.250 UTC is 12:30:15 summer time in Central Europe.
  const FILETIME ft = UnixTimeToFileTime(1719829815, 250000000);
  const TDateTime local = FileTimeToLocalDateTime(ft);
  EXPECT_EQ(local, (TDateTime{2024, 7, 1, 12, 30, 15, 250}));
  EXPECT_EQ(LocalDateTimeToFileTime(local), ft);
  // Winter: one hour.
  EXPECT_EQ(FileTimeToLocalDateTime(UnixTimeToFileTime(1704067200)),
            (TDateTime{2024, 1, 1, 1, 0, 0, 0}));
}

TEST(Times, LocalTimesAroundClockChanges) {
  // Times in the spring gap count in the offset before the change (as a clock read there
  // would); the doubled autumn hour is taken as standard time.
  struct Case {
    const char* zone;
    TDateTime local;
    std::int64_t utc;
  };
  const Case cases[] = {
      {"CET-1CEST,M3.5.0,M10.5.0/3", {2024, 3, 31, 1, 59, 58, 0}, 1711846798},  // 00:59:58 UTC
      {"CET-1CEST,M3.5.0,M10.5.0/3", {2024, 3, 31, 2, 30, 0, 0}, 1711848600},   // gap: 01:30 UTC
      {"CET-1CEST,M3.5.0,M10.5.0/3", {2024, 3, 31, 3, 30, 0, 0}, 1711848600},   // 01:30 UTC
      {"CET-1CEST,M3.5.0,M10.5.0/3", {2024, 10, 27, 2, 30, 0, 0}, 1729992600},  // 01:30 UTC
      {"GMT0BST,M3.5.0/1,M10.5.0", {2024, 3, 31, 1, 30, 0, 0}, 1711848600},     // gap: 01:30 UTC
      {"GMT0BST,M3.5.0/1,M10.5.0", {2024, 7, 1, 0, 15, 0, 0}, 1719789300},      // 23:15 UTC
      {"NZST-12NZDT,M9.5.0,M4.1.0/3", {2024, 1, 1, 0, 0, 0, 0}, 1704020400},    // 11:00 UTC the day before
      {"UTC0", {1980, 1, 1, 0, 0, 0, 0}, 315532800},
  };
  for (const Case& c : cases) {
    ScopedTimeZone tz(c.zone);
    EXPECT_EQ(LocalDateTimeToFileTime(c.local), UnixTimeToFileTime(c.utc))
        << c.zone << " " << c.local.Year << "-" << c.local.Month << "-" << c.local.Day << " "
        << c.local.Hour << ":" << c.local.Minute;
  }
}

TEST(Times, InvalidLocalTimesGiveZero) {
  EXPECT_EQ(LocalDateTimeToFileTime({2023, 2, 29, 0, 0, 0, 0}), 0u);
  EXPECT_EQ(LocalDateTimeToFileTime({2024, 13, 1, 0, 0, 0, 0}), 0u);
  EXPECT_EQ(LocalDateTimeToFileTime({2024, 1, 1, 24, 0, 0, 0}), 0u);
  EXPECT_NE(LocalDateTimeToFileTime({2024, 2, 29, 0, 0, 0, 0}), 0u);
}

TEST(Times, UnixConversionKeepsSubsecondsAndDatesBefore1970) {
  std::int64_t s = 0, ns = 0;
  FileTimeToUnixTime(UnixTimeToFileTime(1, 999999900), s, ns);
  EXPECT_EQ(s, 1);
  EXPECT_EQ(ns, 999999900);
  FileTimeToUnixTime(UnixTimeToFileTime(-1, 500000000), s, ns);
  EXPECT_EQ(s, -1);
  EXPECT_EQ(ns, 500000000);
  EXPECT_EQ(UnixTimeToFileTime(0), 116444736000000000ull);
}

TEST(Text, Utf16AndUtf8) {
  EXPECT_EQ(Utf16ToUtf8(u"Übersicht café"), "Übersicht café");
  EXPECT_EQ(Utf16ToUtf8(u"\U0001F600"), "\xF0\x9F\x98\x80");
  const char16_t lone[] = {u'a', 0xD800, u'b', 0xDC00, 0};
  EXPECT_EQ(Utf16ToUtf8(lone), "a\xEF\xBF\xBD" "b\xEF\xBF\xBD");
  EXPECT_EQ(Utf8ToUtf16("Übersicht \xF0\x9F\x98\x80"), u"Übersicht \U0001F600");
  EXPECT_EQ(Utf8ToUtf16("a\xFF" "b\xC3"), u"a\uFFFDb\uFFFD");
  EXPECT_EQ(Utf8ToUtf16("\xED\xA0\x80"), u"\uFFFD");  // an encoded surrogate
}

}  // namespace
}  // namespace restovo
