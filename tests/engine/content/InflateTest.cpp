// The inflate the content parsers share, on a stream gzip wrote: what it unpacks to, where
// it ends, and how a cut, a bound and a broken stream stop it.
#include <gtest/gtest.h>

#include "content/Inflate.h"
#include "TestSupport.h"

namespace restovo {
namespace {

using TStatus = TInflateResult::TStatus;

TEST(Inflate, UnpacksWhatGzipPackedToTheStreamsLastByte) {
  const std::string packed = FixturePath("content/report.txt.gz");
  REQUIRE_FIXTURE(packed);
  const auto gz = ReadWholeFile(packed);
  const auto text = ReadWholeFile(FixturePath("content/report.txt"));
  // The header: ten bytes and the name "report.txt" with its NUL.
  constexpr std::uint64_t kStream = 10 + 11;
  ASSERT_GT(gz.size(), kStream + 8);
  TMemorySource source(gz);
  TSourceReader reader(source);
  std::vector<std::byte> kept;
  const TInflateResult r = Inflate(reader, kStream, gz.size(), 1 << 30, &kept, 1000);
  ASSERT_EQ(r.Status, TStatus::Done) << r.Reason;
  EXPECT_EQ(r.End, gz.size() - 8);  // the CRC-32 and the size follow
  EXPECT_EQ(r.Size, text.size());
  EXPECT_EQ(r.Crc32, reader.U32Le(r.End));
  ASSERT_EQ(kept.size(), 1000u);
  EXPECT_TRUE(std::equal(kept.begin(), kept.end(), text.begin()));
}

TEST(Inflate, ACutABoundAndABrokenStreamStopIt) {
  const std::string packed = FixturePath("content/report.txt.gz");
  REQUIRE_FIXTURE(packed);
  const auto gz = ReadWholeFile(packed);
  const std::vector<std::byte> stream(gz.begin() + 21, gz.end());
  auto bytes = [](std::initializer_list<int> v) {
    std::vector<std::byte> b;
    for (int x : v) b.push_back(std::byte(x));
    return b;
  };
  struct Case {
    const char* name;
    std::vector<std::byte> bytes;
    std::uint64_t limit, maxOutput;
    TStatus status;
    std::string reason;  // a part of it
  };
  const Case cases[] = {
      {"the stream cut in half", stream, stream.size() / 2, 1 << 30, TStatus::Short, ""},
      {"more than the bound unpacked", stream, stream.size(), 4000, TStatus::TooLong, ""},
      {"a last block of the type there is none of", bytes({0x07, 0, 0, 0}), 4, 1 << 30, TStatus::Broken, "type"},
      {"a stored block whose length fails its check", bytes({0x01, 0x05, 0x00, 0x00, 0x00, 'a', 'b'}), 7, 1 << 30,
       TStatus::Broken, "stored block"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    TMemorySource source(c.bytes);
    TSourceReader reader(source);
    const TInflateResult r = Inflate(reader, 0, c.limit, c.maxOutput);
    EXPECT_EQ(r.Status, c.status);
    EXPECT_LE(r.End, c.limit);
    EXPECT_NE(r.Reason.find(c.reason), std::string::npos) << r.Reason;
  }
}

}  // namespace
}  // namespace restovo
