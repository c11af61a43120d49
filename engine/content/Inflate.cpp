#include "content/Inflate.h"

#include <algorithm>
#include <array>

#include "io/Crc32.h"

namespace restovo {

namespace {

constexpr int kMaxCodeBits = 15;

// A canonical Huffman code: how many codes of each length, and the symbols in code order.
struct THuffman {
  std::array<std::uint16_t, kMaxCodeBits + 1> Count{};
  std::array<std::uint16_t, 320> Symbol{};
};

// Builds the code from the code lengths; false when the lengths ask for more codes than
// there are (an incomplete code is allowed: a stream using a code it lacks is broken then).
bool BuildHuffman(THuffman& h, const std::uint8_t* lengths, int n) {
  h.Count.fill(0);
  for (int s = 0; s < n; ++s) ++h.Count[lengths[s]];
  int left = 1;
  for (int len = 1; len <= kMaxCodeBits; ++len) {
    left = left * 2 - h.Count[len];
    if (left < 0) return false;
  }
  std::array<std::uint16_t, kMaxCodeBits + 2> offset{};
  for (int len = 1; len <= kMaxCodeBits; ++len) offset[len + 1] = static_cast<std::uint16_t>(offset[len] + h.Count[len]);
  for (int s = 0; s < n; ++s)
    if (lengths[s]) h.Symbol[offset[lengths[s]]++] = static_cast<std::uint16_t>(s);
  return true;
}

constexpr std::uint16_t kLengthBase[29] = {3,  4,  5,  6,  7,  8,  9,  10, 11,  13,  15,  17,  19,  23, 27,
                                           31, 35, 43, 51, 59, 67, 83, 99, 115, 131, 163, 195, 227, 258};
constexpr std::uint8_t kLengthExtra[29] = {0, 0, 0, 0, 0, 0, 0, 0, 1, 1, 1, 1, 2, 2, 2, 2, 3, 3, 3, 3, 4, 4, 4, 4, 5, 5, 5, 5, 0};
constexpr std::uint16_t kDistanceBase[30] = {1,   2,   3,   4,   5,   7,    9,    13,   17,   25,   33,   49,   65,    97,    129,
                                             193, 257, 385, 513, 769, 1025, 1537, 2049, 3073, 4097, 6145, 8193, 12289, 16385, 24577};
constexpr std::uint8_t kDistanceExtra[30] = {0, 0, 0, 0, 1, 1, 2, 2, 3, 3, 4, 4, 5, 5, 6, 6, 7, 7, 8, 8, 9, 9, 10, 10, 11, 11, 12, 12, 13, 13};
constexpr std::uint8_t kCodeLengthOrder[19] = {16, 17, 18, 0, 8, 7, 9, 6, 10, 5, 11, 4, 12, 3, 13, 2, 14, 1, 15};

class TInflater {
 public:
  TInflater(TSourceReader& bytes, std::uint64_t at, std::uint64_t limit, std::uint64_t maxOutput,
            std::vector<std::byte>* kept, std::size_t keepBytes)
      : Bytes(bytes), At(at), Limit(limit), MaxOutput(maxOutput), Kept(kept), KeepBytes(keepBytes) {}

  TInflateResult Run() {
    for (bool last = false; !last && Ok();) {
      last = Bits(1) == 1;
      const std::uint32_t type = Bits(2);
      if (!Ok()) break;
      if (type == 0) Stored();
      else if (type == 1) Fixed();
      else if (type == 2) Dynamic();
      else Fail("a block of a type there is none of");
    }
    Flush();
    TInflateResult r;
    r.Status = Status;
    r.Reason = Reason;
    r.End = At;  // the bits left in the last byte are its padding
    r.Size = Size;
    r.Crc32 = Crc32Finish(Crc);
    return r;
  }

 private:
  bool Ok() const { return Status == TInflateResult::TStatus::Done; }
  void Fail(const char* why) {
    if (!Ok()) return;
    Status = TInflateResult::TStatus::Broken;
    Reason = why;
  }

  bool NextByte() {
    if (At >= Limit || !Bytes.Has(At, 1)) {
      if (Ok()) Status = TInflateResult::TStatus::Short;
      return false;
    }
    BitBuffer |= static_cast<std::uint32_t>(Bytes.U8(At++)) << BitCount;
    BitCount += 8;
    return true;
  }
  // n bits, least significant first (n up to 16).
  std::uint32_t Bits(int n) {
    while (BitCount < n)
      if (!NextByte()) return 0;
    const std::uint32_t v = BitBuffer & ((1u << n) - 1);
    BitBuffer >>= n;
    BitCount -= n;
    return v;
  }

  int Decode(const THuffman& h) {
    int code = 0, first = 0, index = 0;
    for (int len = 1; len <= kMaxCodeBits; ++len) {
      code |= static_cast<int>(Bits(1));
      if (!Ok()) return -1;
      const int count = h.Count[len];
      if (code - count < first) return h.Symbol[index + (code - first)];
      index += count;
      first = (first + count) << 1;
      code <<= 1;
    }
    Fail("a code its table has none of");
    return -1;
  }

  void Put(std::uint8_t b) {
    if (Size >= MaxOutput) {
      if (Ok()) Status = TInflateResult::TStatus::TooLong;
      return;
    }
    Window[Size & (kWindow - 1)] = b;
    ++Size;
    Pending[PendingBytes++] = std::byte{b};
    if (PendingBytes == Pending.size()) Flush();
  }
  void Flush() {
    const TBytes piece(Pending.data(), PendingBytes);
    Crc = Crc32Update(Crc, piece);
    if (Kept && Kept->size() < KeepBytes) {
      const std::size_t n = std::min(piece.size(), KeepBytes - Kept->size());
      Kept->insert(Kept->end(), piece.begin(), piece.begin() + static_cast<std::ptrdiff_t>(n));
    }
    PendingBytes = 0;
  }

  void Stored() {
    BitBuffer = 0;  // to the byte's end
    BitCount = 0;
    const std::uint32_t length = Bits(16), check = Bits(16);
    if (!Ok()) return;
    if ((length ^ 0xFFFF) != check) return Fail("a stored block whose length fails its check");
    for (std::uint32_t k = 0; k < length && Ok(); ++k) {
      const std::uint32_t b = Bits(8);
      if (Ok()) Put(static_cast<std::uint8_t>(b));
    }
  }

  void Fixed() {
    static const auto kCodes = [] {
      std::array<THuffman, 2> codes{};
      std::array<std::uint8_t, 288> lengths{};
      for (int s = 0; s < 288; ++s) lengths[s] = s < 144 ? 8 : s < 256 ? 9 : s < 280 ? 7 : 8;
      BuildHuffman(codes[0], lengths.data(), 288);
      lengths.fill(5);
      BuildHuffman(codes[1], lengths.data(), 30);
      return codes;
    }();
    Codes(kCodes[0], kCodes[1]);
  }

  void Dynamic() {
    const int literals = static_cast<int>(Bits(5)) + 257, distances = static_cast<int>(Bits(5)) + 1;
    const int lengthCodes = static_cast<int>(Bits(4)) + 4;
    if (!Ok()) return;
    if (literals > 286 || distances > 30) return Fail("a block with more codes than there are");
    std::array<std::uint8_t, 19> order{};
    for (int k = 0; k < lengthCodes; ++k) order[kCodeLengthOrder[k]] = static_cast<std::uint8_t>(Bits(3));
    THuffman lengthCode;
    if (!BuildHuffman(lengthCode, order.data(), 19)) return Fail("a block whose code-length code is too full");
    std::array<std::uint8_t, 316> lengths{};
    for (int n = 0; n < literals + distances && Ok();) {
      const int symbol = Decode(lengthCode);
      if (symbol < 0) return;
      if (symbol < 16) {
        lengths[n++] = static_cast<std::uint8_t>(symbol);
        continue;
      }
      std::uint8_t value = 0;
      int repeat = 0;
      if (symbol == 16) {
        if (n == 0) return Fail("a repeated code length with none before it");
        value = lengths[n - 1];
        repeat = 3 + static_cast<int>(Bits(2));
      } else if (symbol == 17) {
        repeat = 3 + static_cast<int>(Bits(3));
      } else {
        repeat = 11 + static_cast<int>(Bits(7));
      }
      if (n + repeat > literals + distances) return Fail("code lengths past the block's count");
      while (repeat--) lengths[n++] = value;
    }
    if (!Ok()) return;
    if (lengths[256] == 0) return Fail("a block with no end code");
    THuffman literal, distance;
    if (!BuildHuffman(literal, lengths.data(), literals) || !BuildHuffman(distance, lengths.data() + literals, distances))
      return Fail("a block whose code is too full");
    Codes(literal, distance);
  }

  void Codes(const THuffman& literal, const THuffman& distance) {
    while (Ok()) {
      const int symbol = Decode(literal);
      if (symbol < 0) return;
      if (symbol < 256) {
        Put(static_cast<std::uint8_t>(symbol));
        continue;
      }
      if (symbol == 256) return;
      if (symbol > 285) return Fail("a length code there is none of");
      const std::uint32_t length = kLengthBase[symbol - 257] + Bits(kLengthExtra[symbol - 257]);
      const int d = Decode(distance);
      if (d < 0) return;
      if (d > 29) return Fail("a distance code there is none of");
      const std::uint64_t back = kDistanceBase[d] + Bits(kDistanceExtra[d]);
      if (!Ok()) return;
      if (back > Size) return Fail("a distance back past the start of the data");
      for (std::uint32_t k = 0; k < length && Ok(); ++k) Put(Window[(Size - back) & (kWindow - 1)]);
    }
  }

  static constexpr std::size_t kWindow = 32768;
  TSourceReader& Bytes;
  std::uint64_t At;
  const std::uint64_t Limit, MaxOutput;
  std::vector<std::byte>* Kept;
  const std::size_t KeepBytes;
  std::uint32_t BitBuffer = 0;
  int BitCount = 0;
  TInflateResult::TStatus Status = TInflateResult::TStatus::Done;
  std::string Reason;
  std::uint64_t Size = 0;
  std::uint32_t Crc = kCrc32Start;
  std::vector<std::uint8_t> Window = std::vector<std::uint8_t>(kWindow);
  std::array<std::byte, 4096> Pending{};
  std::size_t PendingBytes = 0;
};

}  // namespace

TInflateResult Inflate(TSourceReader& bytes, std::uint64_t at, std::uint64_t limit, std::uint64_t maxOutput,
                       std::vector<std::byte>* kept, std::size_t keepBytes) {
  return TInflater(bytes, at, limit, maxOutput, kept, keepBytes).Run();
}

}  // namespace restovo
