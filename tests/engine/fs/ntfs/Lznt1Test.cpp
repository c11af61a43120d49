#include "fs/ntfs/Lznt1.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <fstream>
#include <optional>
#include <random>
#include <sstream>
#include <string>
#include <vector>

#include "TestSupport.h"

#ifndef RESTOVO_SOURCE_DIR
#define RESTOVO_SOURCE_DIR "."
#endif

namespace restovo {
namespace {

using TByteVector = std::vector<std::byte>;

constexpr std::size_t UnitSize = 16 * Lznt1ChunkSize;

TByteVector FromString(const std::string& s) {
  TByteVector out;
  for (const char c : s) out.push_back(static_cast<std::byte>(c));
  return out;
}

TByteVector FromInts(std::initializer_list<int> values) {
  TByteVector out;
  for (const int v : values) out.push_back(static_cast<std::byte>(v));
  return out;
}

void Append(TByteVector& to, const TByteVector& from) {
  to.insert(to.end(), from.begin(), from.end());
}

void AppendU16(TByteVector& to, std::size_t value) {
  to.push_back(static_cast<std::byte>(value & 0xFF));
  to.push_back(static_cast<std::byte>((value >> 8) & 0xFF));
}

// The body of a compressed chunk written item by item; flag bytes are placed for us.
class TChunkBody {
 public:
  TChunkBody& Literal(char c) {
    StartItem();
    Bytes.push_back(static_cast<std::byte>(c));
    return *this;
  }
  TChunkBody& Literals(const std::string& s) {
    for (const char c : s) Literal(c);
    return *this;
  }
  TChunkBody& Token(std::size_t token) {
    StartItem();
    Bytes[FlagAt] |= static_cast<std::byte>(1u << ((Items - 1) % 8));
    AppendU16(Bytes, token);
    return *this;
  }
  TByteVector Bytes;

 private:
  void StartItem() {
    if (Items++ % 8 == 0) {
      FlagAt = Bytes.size();
      Bytes.push_back(std::byte{0});
    }
  }
  std::size_t Items = 0;
  std::size_t FlagAt = 0;
};

TByteVector Chunk(bool compressed, const TByteVector& body) {
  TByteVector out;
  AppendU16(out, (compressed ? 0xB000u : 0x3000u) | (body.size() - 1));
  Append(out, body);
  return out;
}

TByteVector Compressed(const TChunkBody& body) { return Chunk(true, body.Bytes); }

// Greedy: at every position the longest match the current token layout can express,
// found by trying every earlier position that starts with the same byte. Plain rather
// than fast, so it can be trusted.
TByteVector CompressBlock(std::span<const std::byte> block) {
  TChunkBody body;
  std::vector<std::size_t> seen[256];
  std::size_t pos = 0;
  while (pos < block.size()) {
    std::size_t offsetBits = 4;
    while ((std::size_t{1} << offsetBits) < pos) ++offsetBits;
    const std::size_t maxLength = (std::size_t{1} << (16 - offsetBits)) + 2;
    std::size_t bestLength = 0;
    std::size_t bestOffset = 0;
    const std::vector<std::size_t>& starts = seen[static_cast<std::uint8_t>(block[pos])];
    for (auto from = starts.rbegin(); from != starts.rend() && bestLength < maxLength; ++from) {
      const std::size_t offset = pos - *from;
      std::size_t length = 0;
      while (length < maxLength && pos + length < block.size() &&
             block[pos + length] == block[pos + length - offset])
        ++length;
      if (length > bestLength) bestLength = length, bestOffset = offset;
    }
    const std::size_t step = bestLength >= 3 ? bestLength : 1;
    if (bestLength >= 3)
      body.Token(((bestOffset - 1) << (16 - offsetBits)) | (bestLength - 3));
    else
      body.Literal(static_cast<char>(block[pos]));
    for (const std::size_t end = pos + step; pos < end; ++pos)
      seen[static_cast<std::uint8_t>(block[pos])].push_back(pos);
  }
  return body.Bytes;
}

TByteVector CompressLznt1(std::span<const std::byte> data) {
  TByteVector out;
  for (std::size_t at = 0; at < data.size(); at += Lznt1ChunkSize) {
    const auto block = data.subspan(at, std::min(Lznt1ChunkSize, data.size() - at));
    const TByteVector body = CompressBlock(block);
    if (body.size() < block.size())
      Append(out, Chunk(true, body));
    else
      Append(out, Chunk(false, TByteVector(block.begin(), block.end())));
  }
  AppendU16(out, 0);
  return out;
}

TByteVector RandomBytes(std::size_t size, unsigned alphabet, std::uint32_t seed) {
  std::mt19937 rng(seed);
  TByteVector out(size);
  for (std::byte& b : out) b = static_cast<std::byte>('a' + rng() % alphabet);
  return out;
}

TByteVector Pattern(std::size_t size) {
  TByteVector out(size);
  for (std::size_t i = 0; i < size; ++i) out[i] = static_cast<std::byte>((i * 7 + 0xFF) & 0xFF);
  return out;
}

bool AllZero(std::span<const std::byte> bytes) {
  return std::all_of(bytes.begin(), bytes.end(), [](std::byte b) { return b == std::byte{0}; });
}

struct TDataKind {
  const char* Name;
  TByteVector (*Make)(std::size_t size);
  bool Compresses;
};

const TDataKind DataKinds[] = {
    {"random", [](std::size_t n) { return RandomBytes(n, 256, 1); }, false},
    {"four letters", [](std::size_t n) { return RandomBytes(n, 4, 2); }, true},
    {"one byte", [](std::size_t n) { return TByteVector(n, std::byte{'x'}); }, true},
    {"phrase",
     [](std::size_t n) {
       const std::string phrase = "the quick brown fox jumps over the lazy dog\n";
       TByteVector out;
       while (out.size() < n) Append(out, FromString(phrase));
       out.resize(n);
       return out;
     },
     true},
    // Every chunk ends with a copy of bytes 2500 back: matches whose offset needs all
    // twelve bits, so tokens with only four length bits.
    {"echo",
     [](std::size_t n) {
       TByteVector out = RandomBytes(n, 256, 3);
       for (std::size_t i = 0; i < n; ++i)
         if (i % Lznt1ChunkSize >= 2500) out[i] = out[i - 2500];
       return out;
     },
     true}};

TEST(Lznt1, RoundTripsThroughAPlainCompressor) {
  for (const TDataKind& kind : DataKinds) {
    for (const std::size_t size : {0u, 1u, 4095u, 4096u, 4097u, 65536u}) {
      const TByteVector data = kind.Make(size);
      const TByteVector marked = CompressLznt1(data);
      // Otherwise the round trip would only prove that raw chunks are copied.
      if (kind.Compresses && size >= Lznt1ChunkSize) {
        EXPECT_LT(marked.size(), size * 3 / 4) << kind.Name << ", " << size << " bytes";
      }
      for (const bool endMarker : {true, false}) {
        SCOPED_TRACE(testing::Message() << kind.Name << ", " << size << " bytes"
                                        << (endMarker ? "" : ", no end marker"));
        const TByteVector packed(marked.begin(), marked.end() - (endMarker ? 0 : 2));

        TByteVector out((size + Lznt1ChunkSize - 1) / Lznt1ChunkSize * Lznt1ChunkSize,
                        std::byte{0xCD});
        const TLznt1Result result = Lznt1Decompress(packed, out);
        EXPECT_TRUE(result.Ok);
        ASSERT_EQ(result.Written, size);
        EXPECT_TRUE(std::equal(data.begin(), data.end(), out.begin()));

        TByteVector unit(UnitSize, std::byte{0xCD});
        EXPECT_TRUE(DecompressNtfsUnit(packed, unit));
        EXPECT_TRUE(std::equal(data.begin(), data.end(), unit.begin()));
        EXPECT_TRUE(AllZero(std::span(unit).subspan(size)));
      }
    }
  }
}

// The worked example of the published format description: 142 bytes in one chunk of 59.
TEST(Lznt1, DecodesThePublishedExample) {
  const TByteVector packed = FromInts(
      {0x38, 0xb0, 0x88, 0x46, 0x23, 0x20, 0x00, 0x20, 0x47, 0x20, 0x41, 0x00, 0x10, 0xa2, 0x47,
       0x01, 0xa0, 0x45, 0x20, 0x44, 0x00, 0x08, 0x45, 0x01, 0x50, 0x79, 0x00, 0xc0, 0x45, 0x20,
       0x05, 0x24, 0x13, 0x88, 0x05, 0xb4, 0x02, 0x4a, 0x44, 0xef, 0x03, 0x58, 0x02, 0x8c, 0x09,
       0x16, 0x01, 0x48, 0x45, 0x00, 0xbe, 0x00, 0x9e, 0x00, 0x04, 0x01, 0x18, 0x90, 0x00});
  TByteVector expected = FromString(
      "F# F# G A A G F# E D D E F# F# E E F# F# G A A G F# E D D E F# E D D E E F# D E F# G "
      "F# D E F# G F# E D E A F# F# G A A G F# E D D E F# E D D");
  expected.push_back(std::byte{0});
  ASSERT_EQ(expected.size(), 142u);

  TByteVector out(Lznt1ChunkSize);
  const TLznt1Result result = Lznt1Decompress(packed, out);
  EXPECT_TRUE(result.Ok);
  ASSERT_EQ(result.Written, expected.size());
  EXPECT_TRUE(std::equal(expected.begin(), expected.end(), out.begin()));
}

TEST(Lznt1, BackReferenceLongerThanItsOffsetRepeatsTheNewBytes) {
  struct Case {
    const char* name;
    TByteVector packed;
    std::string expected;
  };
  const Case cases[] = {
      // At position 3 the token has 4 offset bits: offset 3, length 9.
      {"abc", FromInts({0x05, 0xB0, 0x08, 'a', 'b', 'c', 0x06, 0x20}), "abcabcabcabc"},
      // At position 1 the length field is 12 bits wide: offset 1, the longest length 4098
      // would overrun the chunk, 4095 fills it exactly.
      {"a", FromInts({0x03, 0xB0, 0x02, 'a', 0xFC, 0x0F}), std::string(4096, 'a')},
  };
  for (const Case& c : cases) {
    TByteVector out(Lznt1ChunkSize);
    const TLznt1Result result = Lznt1Decompress(c.packed, out);
    EXPECT_TRUE(result.Ok) << c.name;
    ASSERT_EQ(result.Written, c.expected.size()) << c.name;
    EXPECT_TRUE(
        std::equal(out.begin(), out.begin() + c.expected.size(), FromString(c.expected).begin()))
        << c.name;
  }
}

// A token right at each width change, pointing back to the chunk's first byte. The
// prefix is "ABCDEFGH" then 'H' repeated by offset-1 tokens short enough to read the same
// under any width, so the token under test is the only one a wrong split would misread.
TEST(Lznt1, OffsetFieldWidensWithThePositionInTheChunk) {
  struct Case {
    std::size_t pos;
    unsigned offsetBits;
  };
  const Case cases[] = {{1, 4},     {2, 4},     {16, 4},    {17, 5},   {32, 5},
                        {33, 6},    {64, 6},    {65, 7},    {128, 7},  {129, 8},
                        {256, 8},   {257, 9},   {512, 9},   {513, 10}, {1024, 10},
                        {1025, 11}, {2048, 11}, {2049, 12}, {4093, 12}};
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::Message() << "position " << c.pos);
    std::string expected = std::string("ABCDEFGH").substr(0, std::min<std::size_t>(c.pos, 8));
    TChunkBody body;
    body.Literals(expected);
    while (expected.size() < c.pos) {
      const std::size_t run = std::min<std::size_t>(18, c.pos - expected.size());
      if (run < 3) {
        body.Literal('H');
        expected += 'H';
        continue;
      }
      body.Token(run - 3);
      expected.append(run, 'H');
    }
    const std::size_t lengthBits = 16 - c.offsetBits;
    const std::size_t length =
        std::min<std::size_t>((std::size_t{1} << lengthBits) + 2, Lznt1ChunkSize - c.pos);
    body.Token(((c.pos - 1) << lengthBits) | (length - 3));
    for (std::size_t i = 0; i < length; ++i) expected += expected[i];

    TByteVector out(Lznt1ChunkSize);
    const TLznt1Result result = Lznt1Decompress(Compressed(body), out);
    EXPECT_TRUE(result.Ok);
    ASSERT_EQ(result.Written, expected.size());
    EXPECT_TRUE(
        std::equal(out.begin(), out.begin() + expected.size(), FromString(expected).begin()));
  }
}

// Every chunk owns 4096 bytes of output: a short chunk leaves zeros up to the next one,
// an uncompressed chunk is copied and not read as tokens (its first byte looks like a
// flag byte of eight back-references).
TEST(Lznt1, ChunksLandOnTheirOwnFourKilobytes) {
  const TByteVector raw = Pattern(Lznt1ChunkSize);
  TByteVector packed = Chunk(false, raw);
  Append(packed, Compressed(TChunkBody().Literals("abc")));
  Append(packed, Compressed(TChunkBody().Literals("de")));
  Append(packed, Chunk(false, FromString("tail")));

  TByteVector unit(UnitSize, std::byte{0xEE});
  const TLznt1Result result = Lznt1Decompress(packed, unit);
  EXPECT_TRUE(result.Ok);
  EXPECT_EQ(result.Written, 3 * Lznt1ChunkSize + 4);
  const auto at = [&](std::size_t offset) { return std::span(unit).subspan(offset); };
  EXPECT_TRUE(std::equal(raw.begin(), raw.end(), unit.begin()));
  EXPECT_EQ(at(4096)[0], std::byte{'a'});
  EXPECT_EQ(at(4096)[2], std::byte{'c'});
  EXPECT_TRUE(AllZero(at(4099).first(4096 - 3)));
  EXPECT_EQ(at(8192)[1], std::byte{'e'});
  EXPECT_TRUE(AllZero(at(8194).first(4096 - 2)));
  EXPECT_EQ(at(12288)[3], std::byte{'l'});

  ASSERT_TRUE(DecompressNtfsUnit(packed, unit));
  EXPECT_TRUE(AllZero(at(12292)));
}

TEST(Lznt1, StreamEnds) {
  const TByteVector abc = Compressed(TChunkBody().Literals("abc"));
  const TByteVector de = Compressed(TChunkBody().Literals("de"));
  struct Case {
    const char* name;
    TByteVector packed;
    std::size_t written;
  };
  auto join = [](std::initializer_list<TByteVector> parts) {
    TByteVector out;
    for (const TByteVector& p : parts) Append(out, p);
    return out;
  };
  const Case cases[] = {
      {"no input", {}, 0},
      {"end marker only", FromInts({0, 0}), 0},
      {"at the end marker", join({abc, FromInts({0, 0}), de}), 3},
      {"at the end of the input", abc, 3},
      {"at a lone byte too short for a header", join({abc, FromInts({0x42})}), 3},
  };
  for (const Case& c : cases) {
    TByteVector unit(UnitSize, std::byte{0xEE});
    EXPECT_TRUE(DecompressNtfsUnit(c.packed, unit)) << c.name;
    if (c.written != 0) {
      EXPECT_EQ(unit[0], std::byte{'a'}) << c.name;
    }
    EXPECT_TRUE(AllZero(std::span(unit).subspan(c.written))) << c.name;
  }
}

// The last cluster of a compressed unit is only partly used by chunks; what follows the
// sixteenth chunk is slack and must not be read as a seventeenth.
TEST(Lznt1, StopsOnceTheUnitIsFull) {
  TByteVector packed;
  for (int i = 0; i < 16; ++i) Append(packed, Chunk(false, Pattern(Lznt1ChunkSize)));
  Append(packed, FromInts({0xFF, 0xBF, 0x01}));

  TByteVector unit(UnitSize);
  EXPECT_TRUE(DecompressNtfsUnit(packed, unit));
  EXPECT_EQ(unit[UnitSize - 1], Pattern(Lznt1ChunkSize).back());
}

TEST(Lznt1, CorruptInputFailsWithoutTouchingMemoryOutside) {
  struct Case {
    const char* name;
    TByteVector packed;
    std::size_t outSize;
  };
  TByteVector secondChunkReachesBack = Compressed(TChunkBody().Literals("abc"));
  Append(secondChunkReachesBack, Compressed(TChunkBody().Literal('x').Token(0x1000)));
  TByteVector overflowingLiteral = Compressed(TChunkBody().Literal('a').Token(0x0FFC).Literal('b'));
  TByteVector overflowingToken = Compressed(TChunkBody().Literal('a').Token(0x0FFC).Token(0));
  TByteVector truncatedRaw = Chunk(false, Pattern(100));
  truncatedRaw.resize(60);
  const Case cases[] = {
      {"back-reference at the chunk's first byte", FromInts({0x02, 0xB0, 0x01, 0x00, 0x00}),
       UnitSize},
      {"back-reference one byte before the chunk",
       FromInts({0x04, 0xB0, 0x04, 'a', 'b', 0x00, 0x20}), UnitSize},
      {"back-reference into the previous chunk", secondChunkReachesBack, UnitSize},
      {"chunk size past the input", FromInts({0x63, 0xB0, 0x00, 'a', 'b', 'c', 'd', 'e'}),
       UnitSize},
      {"raw chunk size past the input", truncatedRaw, UnitSize},
      {"token cut in half", FromInts({0x02, 0xB0, 0x02, 'a', 0x00}), UnitSize},
      {"literal past 4096 bytes", overflowingLiteral, UnitSize},
      {"back-reference past 4096 bytes", overflowingToken, UnitSize},
      {"raw chunk larger than the output", Chunk(false, Pattern(Lznt1ChunkSize)), 100},
      {"compressed chunk larger than the output", FromInts({0x03, 0xB0, 0x02, 'a', 0xFC, 0x0F}),
       100},
  };
  for (const Case& c : cases) {
    TByteVector out(c.outSize);
    const TLznt1Result result = Lznt1Decompress(c.packed, out);
    EXPECT_FALSE(result.Ok) << c.name;
    EXPECT_LE(result.Written, out.size()) << c.name;
    if (c.outSize == UnitSize) {
      TByteVector unit(UnitSize, std::byte{0xEE});
      EXPECT_FALSE(DecompressNtfsUnit(c.packed, unit)) << c.name;
      EXPECT_TRUE(AllZero(std::span(unit).subspan(result.Written))) << c.name;
    }
  }
}

TEST(Lznt1, FailedUnitKeepsWhatDecodedBeforeTheFault) {
  const TByteVector raw = Pattern(Lznt1ChunkSize);
  TByteVector packed = Chunk(false, raw);
  Append(packed, Compressed(TChunkBody().Literals("xy").Token(0x7000)));

  TByteVector unit(UnitSize, std::byte{0xEE});
  EXPECT_FALSE(DecompressNtfsUnit(packed, unit));
  EXPECT_TRUE(std::equal(raw.begin(), raw.end(), unit.begin()));
  EXPECT_EQ(unit[4096], std::byte{'x'});
  EXPECT_EQ(unit[4097], std::byte{'y'});
  EXPECT_TRUE(AllZero(std::span(unit).subspan(4098)));
}

TEST(Lznt1, ClassifiesCompressionUnits) {
  constexpr std::int64_t Hole = -1;
  struct Case {
    const char* name;
    std::vector<TUnitPiece> pieces;
    std::uint64_t unitClusters;
    std::optional<TUnitKind> kind;
  };
  const Case cases[] = {
      {"one allocated run", {{100, 16}}, 16, TUnitKind::Raw},
      {"two allocated runs", {{100, 10}, {300, 6}}, 16, TUnitKind::Raw},
      {"allocated then hole", {{100, 11}, {Hole, 5}}, 16, TUnitKind::Compressed},
      {"two runs then hole", {{100, 3}, {300, 8}, {Hole, 5}}, 16, TUnitKind::Compressed},
      {"one cluster short of raw", {{100, 15}, {Hole, 1}}, 16, TUnitKind::Compressed},
      {"all hole", {{Hole, 16}}, 16, TUnitKind::Sparse},
      {"hole in two pieces", {{Hole, 10}, {Hole, 6}}, 16, TUnitKind::Sparse},
      {"empty piece ignored", {{100, 0}, {Hole, 16}}, 16, TUnitKind::Sparse},
      {"small unit", {{7, 1}, {Hole, 1}}, 2, TUnitKind::Compressed},
      {"hole before data", {{Hole, 5}, {100, 11}}, 16, std::nullopt},
      {"data after the hole", {{100, 11}, {Hole, 3}, {200, 2}}, 16, std::nullopt},
      {"short of the unit", {{100, 15}}, 16, std::nullopt},
      {"past the unit", {{100, 16}, {Hole, 1}}, 16, std::nullopt},
      {"no pieces", {}, 16, std::nullopt},
      {"sum wraps around", {{100, UINT64_MAX}, {Hole, 17}}, 16, std::nullopt},
      {"zero-cluster unit", {}, 0, std::nullopt},
  };
  for (const Case& c : cases)
    EXPECT_EQ(ClassifyCompressionUnit(c.pieces, c.unitClusters), c.kind) << c.name;
}

std::optional<std::string> RunCapture(const std::string& command) {
  FILE* pipe = ::popen(command.c_str(), "r");
  if (pipe == nullptr) return std::nullopt;
  std::string out;
  char buffer[65536];
  std::size_t n;
  while ((n = std::fread(buffer, 1, sizeof buffer, pipe)) > 0) out.append(buffer, n);
  if (::pclose(pipe) != 0) return std::nullopt;
  return out;
}

std::string Quote(const std::string& s) {
  std::string out = "'";
  for (const char c : s) out += c == '\'' ? std::string("'\\''") : std::string(1, c);
  return out + "'";
}

struct TStreamLayout {
  std::uint64_t Size = 0;
  std::vector<TUnitPiece> Runs;
};

// The unnamed $DATA attribute from "istat -r": its size and its runs.
std::optional<TStreamLayout> ReadLayout(const std::string& istat) {
  std::istringstream lines(istat);
  std::string line;
  while (std::getline(lines, line))
    if (line.starts_with("Type: $DATA") && line.find("Name: N/A") != std::string::npos) break;
  if (line.find("Compressed") == std::string::npos) return std::nullopt;
  TStreamLayout layout;
  layout.Size = std::stoull(line.substr(line.find(" size: ") + 7));
  const std::string start = "  Starting address: ";
  while (std::getline(lines, line) && line.starts_with(start)) {
    const std::string address = line.substr(start.size(), line.find(',') - start.size());
    const std::uint64_t length = std::stoull(line.substr(line.find("length: ") + 8));
    layout.Runs.push_back({address == "X" ? -1 : std::stoll(address), length});
  }
  return layout;
}

// Clusters of compressed streams written by another implementation, one live and one
// deleted, through the unit classification and the decoder, against the content the
// fixture builder wrote. The runs come from sleuthkit; the expected bytes from the
// builder's own content generator.
TEST(Lznt1, RestoresCompressedFilesOfTheFixtureImage) {
  const std::string image = FixturePath("ntfs.img");
  REQUIRE_FIXTURE(image);
  if (!RunCapture("command -v istat && command -v ifind && command -v python3"))
    GTEST_SKIP() << "needs sleuthkit's istat and ifind, and python3";
  constexpr std::uint64_t ClusterSize = 4096;
  constexpr std::uint64_t UnitClusters = 16;

  for (const std::string path : {"/Compressed/Big Log.txt", "/Compressed/Old Log.txt"}) {
    SCOPED_TRACE(path);
    const auto entry = RunCapture("ifind -n " + Quote(path) + " " + Quote(image));
    ASSERT_TRUE(entry);
    const auto istat =
        RunCapture("istat -r " + Quote(image) + " " + std::to_string(std::stoull(*entry)));
    ASSERT_TRUE(istat);
    std::optional<TStreamLayout> layout = ReadLayout(*istat);
    ASSERT_TRUE(layout) << *istat;
    const auto expected =
        RunCapture("python3 " + Quote(RESTOVO_SOURCE_DIR "/tests/fixtures/gen-content.py") + " " +
                   Quote(path) + " " + std::to_string(layout->Size) + " text");
    ASSERT_TRUE(expected);

    // sleuthkit lists runs only up to the data size; the stream's runs cover whole units.
    std::uint64_t clusters = 0;
    for (const TUnitPiece& run : layout->Runs) clusters += run.Clusters;
    if (clusters % UnitClusters != 0)
      layout->Runs.push_back({-1, UnitClusters - clusters % UnitClusters});

    std::ifstream disk(image, std::ios::binary);
    std::string restored;
    int compressedUnits = 0;
    std::size_t runIndex = 0;
    std::uint64_t usedOfRun = 0;
    while (runIndex < layout->Runs.size()) {
      std::vector<TUnitPiece> pieces;
      for (std::uint64_t need = UnitClusters; need > 0 && runIndex < layout->Runs.size();) {
        const TUnitPiece& run = layout->Runs[runIndex];
        const std::uint64_t take = std::min(need, run.Clusters - usedOfRun);
        pieces.push_back({run.Lcn < 0 ? -1 : run.Lcn + static_cast<std::int64_t>(usedOfRun), take});
        need -= take;
        usedOfRun += take;
        if (usedOfRun == run.Clusters) ++runIndex, usedOfRun = 0;
      }
      const std::optional<TUnitKind> kind = ClassifyCompressionUnit(pieces, UnitClusters);
      ASSERT_TRUE(kind);
      TByteVector stored;
      for (const TUnitPiece& piece : pieces) {
        if (piece.Lcn < 0) continue;
        TByteVector bytes(piece.Clusters * ClusterSize);
        disk.seekg(static_cast<std::streamoff>(piece.Lcn) *
                   static_cast<std::streamoff>(ClusterSize));
        disk.read(reinterpret_cast<char*>(bytes.data()),
                  static_cast<std::streamsize>(bytes.size()));
        ASSERT_TRUE(disk);
        Append(stored, bytes);
      }
      TByteVector unit(UnitClusters * ClusterSize);
      if (*kind == TUnitKind::Raw) unit = stored;
      if (*kind == TUnitKind::Compressed) {
        ++compressedUnits;
        EXPECT_TRUE(DecompressNtfsUnit(stored, unit));
      }
      restored.append(reinterpret_cast<const char*>(unit.data()), unit.size());
    }
    EXPECT_GT(compressedUnits, 0);
    restored.resize(layout->Size);
    EXPECT_TRUE(restored == *expected);
  }
}

}  // namespace
}  // namespace restovo
