#include "recovery/RecycleBin.h"

#include <gtest/gtest.h>

#include "TestSupport.h"

namespace restovo {
namespace {

std::vector<std::byte> RecycleRecord(int version, std::u16string_view path) {
  std::vector<std::byte> b(version == 1 ? 24 + 520 : 28 + 2 * (path.size() + 1));
  PutU64(b, 0, static_cast<std::uint64_t>(version));
  PutU64(b, 8, 12345);  // size of the deleted item
  PutU64(b, 16, 0x01D9000000000000ull);  // deletion time
  std::size_t at = 24;
  if (version == 2) {
    PutU32(b, 24, static_cast<std::uint32_t>(path.size() + 1));
    at = 28;
  }
  for (char16_t c : path) {
    PutU16(b, at, c);
    at += 2;
  }
  return b;
}

TEST(RecycleBin, RecordsOfBothVersions) {
  EXPECT_EQ(ReadRecycleInfoName(RecycleRecord(1, u"C:\\Users\\x\\Pictures\\cat.jpg")), "cat.jpg");
  // Version 2: reading it as version 1 would take the length field for text.
  EXPECT_EQ(ReadRecycleInfoName(RecycleRecord(2, u"C:\\Users\\x\\Documents\\Brief an Müller.docx")),
            "Brief an Müller.docx");
  EXPECT_EQ(ReadRecycleInfoName(RecycleRecord(2, u"D:setup.exe")), "setup.exe");
  EXPECT_EQ(ReadRecycleInfoName(RecycleRecord(1, u"")), "");
  // Truncated records give what is there, never a read past the end.
  auto cut = RecycleRecord(2, u"C:\\a\\longer name.txt");
  cut.resize(40);
  EXPECT_EQ(ReadRecycleInfoName(cut), "l");  // six characters: "C:\\a\\l"
  cut.resize(20);
  EXPECT_EQ(ReadRecycleInfoName(cut), "");
}

}  // namespace
}  // namespace restovo
