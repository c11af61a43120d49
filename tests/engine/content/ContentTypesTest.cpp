// Files known by their content: real files made by Pillow, sqlite3, zipfile and the real
// encoders and archivers, measured to their last byte with other bytes behind them, cut
// short, damaged, and false starts.
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <functional>
#include <sstream>

#include "content/ContentTypes.h"
#include "content/MeasureResults.h"
#include "TestSupport.h"

namespace restovo {
namespace {

struct Sample {
  std::string Name, Type, Extension, Title;
  std::size_t Size = 0;
  std::vector<std::byte> Bytes;
};

std::vector<Sample> Samples() {
  std::vector<Sample> out;
  for (const char* listing : {"content/content-samples.tsv", "content/more-content-samples.tsv"}) {
    std::ifstream list(FixturePath(listing));
    for (std::string line; std::getline(list, line);) {
      std::istringstream fields(line);
      Sample s;
      std::string size;
      std::getline(fields, s.Name, '\t');
      std::getline(fields, s.Type, '\t');
      std::getline(fields, size, '\t');
      std::getline(fields, s.Extension, '\t');
      std::getline(fields, s.Title, '\t');
      s.Size = std::stoul(size);
      s.Bytes = ReadWholeFile(FixturePath("content/" + s.Name));
      out.push_back(std::move(s));
    }
  }
  return out;
}

void PutU32Be(std::vector<std::byte>& b, std::size_t at, std::uint32_t v) {
  for (int k = 0; k < 4; ++k) b.at(at + k) = std::byte(v >> (24 - 8 * k));
}

TContentMeasure MeasureAs(const TContentType& type, TBytes bytes) {
  TMemorySource source(bytes);
  TSourceReader reader(source);
  return type.Measure(reader, type.MaxBytes);
}

// What lies behind a file on a disk: other data, here bytes of no kind and of other files.
std::vector<std::byte> WithBytesBehind(const std::vector<std::byte>& file) {
  std::vector<std::byte> out = file;
  std::uint32_t seed = 7;
  for (int i = 0; i < 5000; ++i) {
    seed = seed * 1103515245 + 12345;
    out.push_back(std::byte(seed >> 16));
  }
  return out;
}

TEST(ContentTypes, RealFilesAreTheirTypeAndEndAtTheirLastByte) {
  REQUIRE_FIXTURE(FixturePath("content/content-samples.tsv"));
  const auto samples = Samples();
  ASSERT_GE(samples.size(), 10u);
  for (const Sample& s : samples) {
    SCOPED_TRACE(s.Name);
    ASSERT_EQ(s.Bytes.size(), s.Size);
    const std::vector<std::byte> disk = WithBytesBehind(s.Bytes);
    const TContentType* type = ContentTypeOf(disk);
    ASSERT_NE(type, nullptr);
    EXPECT_EQ(type->Name, s.Type);
    // The photo's EXIF holds a whole thumbnail with its own end marker: the photo goes on.
    const TContentMeasure m = MeasureAs(*type, disk);
    EXPECT_EQ(m.Verdict, TContentVerdict::Whole) << m.Reason;
    // A writer may pad a file with zeros after its structure's end (Pillow's pages of a
    // TIFF, to 16 bytes): nothing tells those from the slack behind a file.
    ASSERT_LE(m.Length, s.Size);
    EXPECT_LT(s.Size - m.Length, 16u);
    EXPECT_TRUE(std::all_of(s.Bytes.begin() + static_cast<std::ptrdiff_t>(m.Length), s.Bytes.end(),
                            [](std::byte b) { return b == std::byte{0}; }));
    EXPECT_EQ(m.Extension, s.Extension);
    // A photo's EXIF names it by when it was taken and the camera.
    EXPECT_EQ(m.Title, s.Title);
  }
}

TEST(ContentTypes, AFileCutShortIsTruncatedWithWhatThereIs) {
  REQUIRE_FIXTURE(FixturePath("content/content-samples.tsv"));
  for (const Sample& s : Samples()) {
    SCOPED_TRACE(s.Name);
    const std::size_t cut = s.Size * 6 / 10;
    const TBytes part = TBytes(s.Bytes).first(cut);
    const TContentType* type = ContentTypeOf(part);
    ASSERT_NE(type, nullptr);
    const TContentMeasure m = MeasureAs(*type, part);
    EXPECT_EQ(m.Verdict, TContentVerdict::Truncated);
    EXPECT_EQ(m.Length, cut);
    EXPECT_FALSE(m.Reason.empty());
  }
}

TEST(ContentTypes, DamageIsToldWithItsReason) {
  REQUIRE_FIXTURE(FixturePath("content/content-samples.tsv"));
  std::map<std::string, Sample> byName;
  for (Sample& s : Samples()) byName[s.Name] = std::move(s);
  auto find = [](const std::vector<std::byte>& b, std::string_view text, std::size_t from = 0) {
    for (std::size_t i = from; i + text.size() <= b.size(); ++i)
      if (std::memcmp(b.data() + i, text.data(), text.size()) == 0) return i;
    return b.size();
  };
  struct Case {
    const char* sample;
    std::function<void(std::vector<std::byte>&)> damage;
    std::string reason;  // a part of it
  };
  const Case cases[] = {
      {"picture.png", [&](std::vector<std::byte>& b) { b[find(b, "IDAT") + 40] ^= std::byte{0x55}; },
       "(IDAT) fails its CRC"},
      {"archive.zip", [&](std::vector<std::byte>& b) { PutU16(b, find(b, "PK\x05\x06") + 10, 3); },
       "lists 3 members, 2 are there"},
      {"archive.zip", [&](std::vector<std::byte>& b) { PutU32(b, find(b, "PK\x05\x06") + 16, 12); },
       "directory is not where"},
      // A member's packed bytes: they unpack to other bytes (or none), its CRC-32 tells.
      {"archive.zip", [&](std::vector<std::byte>& b) { b[30 + 10 + 200] ^= std::byte{0x20}; },
       "ZIP member report.txt"},
      {"letter.odt", [&](std::vector<std::byte>& b) { b[find(b, "application/vnd") + 3] ^= std::byte{0x20}; },
       "ZIP member mimetype fails its CRC"},
      // Another picture's start in the middle of this one's picture data.
      {"progressive.jpg",
       [&](std::vector<std::byte>& b) {
         const std::size_t at = find(b, "\xFF\xDA") + 400;
         b[at] = std::byte{0xFF};
         b[at + 1] = std::byte{0xD8};
       },
       "breaks off"},
      // A media data box that says it is shorter: the movie's header is not where it ends.
      {"movie.mov", [&](std::vector<std::byte>& b) { PutU32Be(b, find(b, "mdat") - 4, 4000); },
       "breaks off after its mdat box, before its movie header"},
      // A frame header gone: the encoder's info frame counted more frames (432 bytes each).
      {"plain.mp3", [&](std::vector<std::byte>& b) { b.at(432 * 10) = std::byte{0}; },
       "breaks off after frame 10 of 30"},
      // The last frame's CRC-16; and a bit of sound in the middle, which its frame's CRC
      // or the walk of its subframes tells.
      {"song.flac", [&](std::vector<std::byte>& b) { b.back() ^= std::byte{0x55}; }, "FLAC frame 11 fails its CRC"},
      {"song.flac", [&](std::vector<std::byte>& b) { b[b.size() / 2] ^= std::byte{0x10}; }, "FLAC frame"},
      {"song.ogg", [&](std::vector<std::byte>& b) { b[b.size() / 2] ^= std::byte{0x10}; }, "fails its CRC"},
      // The CRC-32 and the size of what the member unpacks to, and the packed bytes.
      {"report.txt.gz", [&](std::vector<std::byte>& b) { b[b.size() - 8] ^= std::byte{0x01}; }, "fails its CRC"},
      {"report.txt.gz", [&](std::vector<std::byte>& b) { b[b.size() - 1] ^= std::byte{0x01}; },
       "is not the size it says"},
      // The start header's CRC, and the header the archive ends with.
      {"files.7z", [&](std::vector<std::byte>& b) { b[9] ^= std::byte{0x01}; }, "start header fails its CRC"},
      {"files.7z", [&](std::vector<std::byte>& b) { b[b.size() - 3] ^= std::byte{0x01}; }, "header fails its CRC"},
      // The header's directory sector past the allocation table.
      {"letter.doc", [&](std::vector<std::byte>& b) { PutU32(b, 0x30, 0x00FFFFFF); }, "directory is not where"},
      // Other bytes than text inside a text file's structure.
      {"letter.rtf", [&](std::vector<std::byte>& b) { b[b.size() / 2] = std::byte{0}; },
       "RTF text breaks off before its last brace"},
      {"catalog.xml", [&](std::vector<std::byte>& b) { b[b.size() / 2] = std::byte{1}; },
       "XML text breaks off before its root element closes"},
      {"letter.html", [&](std::vector<std::byte>& b) { b[b.size() / 2] = std::byte{0}; },
       "HTML text breaks off before its closing </html>"},
      {"two-members.gz", [&](std::vector<std::byte>& b) { b[b.size() / 2] ^= std::byte{0x10}; }, "GZIP member 2"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.sample + (": " + c.reason));
    std::vector<std::byte> bytes = byName.at(c.sample).Bytes;
    c.damage(bytes);
    const TContentType* type = ContentTypeOf(bytes);
    ASSERT_NE(type, nullptr);
    const TContentMeasure m = MeasureAs(*type, WithBytesBehind(bytes));
    EXPECT_EQ(m.Verdict, TContentVerdict::Damaged);
    EXPECT_NE(m.Reason.find(c.reason), std::string::npos) << m.Reason;
    EXPECT_GT(m.Length, 0u);
  }
}

// A title becomes a file's name: no control characters, no spaces around it, and short.
TEST(ContentTypes, TitlesAreShortAndWithoutControlCharacters) {
  std::string accents;
  for (int i = 0; i < 300; ++i) accents += "\xC3\xA9";  // é
  struct Case {
    const char* name;
    std::string text, title;
  };
  const Case cases[] = {
      {"control characters and spaces around", "  Report\x01 2024\t\x7F ", "Report 2024"},
      {"a C1 control (NEL) in UTF-8", "A\xC2\x85" "B", "AB"},
      {"to the first NUL", std::string("Name\0junk", 9), "Name"},
      {"a long title, cut at a whole character", accents, accents.substr(0, content::kMaxTitle)},
      {"nothing but spaces", "   ", ""},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    EXPECT_EQ(content::CleanTitle(c.text), c.title);
  }
  // An odd bound would cut a two-byte character: the cut moves back before it.
  EXPECT_LE(content::CleanTitle("x" + accents).size(), content::kMaxTitle);
  EXPECT_EQ(content::CleanTitle("x" + accents).size() % 2, 1u);
}

TEST(ContentTypes, ARestoredFileIsCheckedByItsBytesAndItsName) {
  const std::string jpeg = FixturePath("content/photo.jpg");
  REQUIRE_FIXTURE(jpeg);
  const auto photo = ReadWholeFile(jpeg);
  std::vector<std::byte> noise(5000);
  std::uint32_t seed = 3;
  for (std::byte& b : noise) b = std::byte((seed = seed * 1103515245 + 12345) >> 16);
  struct Case {
    const char* name;
    TBytes bytes;
    const char* fileName;
    bool checked, passed;
    std::string reason;  // a part of it
  };
  const Case cases[] = {
      {"a whole photo", photo, "IMG_2001.JPG", true, true, ""},
      {"a photo under another name: its bytes tell", photo, "letter.png", true, true, ""},
      {"a photo whose last clusters are gone", TBytes(photo).first(photo.size() / 2), "IMG_2002.jpg", true, false,
       "ends before the file's end"},
      {"another file's bytes under a photo's name", noise, "IMG_2003.jpg", true, false, "does not begin as a JPEG"},
      {"bytes of a kind no parser knows", noise, "notes.txt", false, false, ""},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    TMemorySource source(c.bytes);
    const TContentCheck check = CheckContent(source, c.fileName);
    EXPECT_EQ(check.Checked, c.checked);
    EXPECT_EQ(check.Passed, c.passed);
    EXPECT_NE(check.Reason.find(c.reason), std::string::npos) << check.Reason;
  }
}

TEST(ContentTypes, StartsThatOnlyLookLikeAFileAreNone) {
  auto bytes = [](std::string_view head, std::size_t zeros = 4096) {
    std::vector<std::byte> b(head.size() + zeros);
    std::memcpy(b.data(), head.data(), head.size());
    return b;
  };
  struct Case {
    const char* name;
    std::vector<std::byte> bytes;
  };
  const Case cases[] = {
      {"a JPEG start with an empty segment", bytes("\xFF\xD8\xFF\xE0")},
      {"a JPEG that ends before any frame", bytes(std::string_view("\xFF\xD8\xFF\xE0\x00\x04..\xFF\xD9", 10))},
      {"a PNG whose header chunk has another size", bytes(std::string_view("\x89PNG\r\n\x1A\n\0\0\0\x0EIHDR", 16))},
      {"a GIF of no size", bytes("GIF89a")},
      {"an SQLite header with a page size that is none", bytes(std::string_view("SQLite format 3\0\x03\x01", 18))},
      {"a file type box followed by no box", bytes(std::string_view("\0\0\0\x14" "ftypqt  \0\0\0\0qt  ", 20))},
      {"an Ogg first page that fails its CRC",
       bytes(std::string_view("OggS\0\x02\0\0\0\0\0\0\0\0\0\0\0\0\0\0\0\0\0\0\0\0\x01\x1E", 28))},
      {"a compound file header with no allocation table",
       bytes(std::string_view("\xD0\xCF\x11\xE0\xA1\xB1\x1A\xE1\0\0\0\0\0\0\0\0\0\0\0\0\0\0\0\0>\0\x03\0\xFE\xFF\x09\0", 32))},
      {"an RTF start and no text", bytes("{\\rtf1\\ansi")},
      {"an XML declaration and no text", bytes("<?xml version=\"1.0\"?>")},
      {"an HTML start and no text", bytes("<!DOCTYPE html>\n<html>")},
      {"a 7z signature whose start header fails its CRC", bytes(std::string_view("7z\xBC\xAF\x27\x1C\0\x04", 8))},
      {"a GZIP header before no stream", bytes(std::string_view("\x1F\x8B\x08\0\0\0\0\0\0\x03", 10))},
      {"a FLAC stream of no sample rate", bytes(std::string_view("fLaC\0\0\0\x22", 8))},
      {"a lone MPEG audio frame header", bytes("\xFF\xFB\x90\x64")},
      {"an ID3 tag with no frames after it", bytes(std::string_view("ID3\x03\0\0\0\0\0\x0A", 10))},
      {"a HEIF file type box followed by no box", bytes(std::string_view("\0\0\0\x10" "ftypheic\0\0\0\0", 16))},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    int started = 0;  // the start must fool a type, or the case shows nothing
    for (const TContentType& type : ContentTypes()) {
      if (c.bytes.size() < type.HeadBytes || !type.Starts(c.bytes)) continue;
      ++started;
      EXPECT_EQ(MeasureAs(type, c.bytes).Verdict, TContentVerdict::NotThisType) << type.Name;
    }
    EXPECT_GT(started, 0);
  }
}

}  // namespace
}  // namespace restovo
