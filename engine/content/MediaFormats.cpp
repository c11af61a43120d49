#include "content/MediaFormats.h"

#include <algorithm>
#include <array>
#include <cstring>
#include <string>
#include <vector>

#include "content/MeasureResults.h"

namespace restovo {

using content::CutOff;
using content::HeadIs;
using content::Result;

// ---- ISO base media ----

namespace {

std::string_view Text(TBytes b) { return {reinterpret_cast<const char*>(b.data()), b.size()}; }

bool IsBrandText(TBytes b) {
  return b.size() == 4 && std::all_of(b.begin(), b.end(), [](std::byte x) {
           const auto c = static_cast<std::uint8_t>(x);
           return c >= 0x20 && c < 0x7F;
         });
}

constexpr std::array<std::string_view, 13> kHeifBrands = {"heic", "heix", "heim", "heis", "hevc", "hevx", "hevm",
                                                          "hevs", "mif1", "msf1", "mif2", "avif", "avis"};

bool FtypStarts(TBytes head) {
  if (head.size() < 12 || !HeadIs(head.subspan(4), "ftyp")) return false;
  const std::uint32_t size = static_cast<std::uint32_t>(ReadU8(head, 0)) << 24 | ReadU8(head, 1) << 16 |
                             ReadU8(head, 2) << 8 | ReadU8(head, 3);
  return size >= 16 && size <= 1024 && size % 4 == 0 && IsBrandText(head.subspan(8, 4));
}

bool IsHeifBrand(std::string_view brand) {
  return std::find(kHeifBrands.begin(), kHeifBrands.end(), brand) != kHeifBrands.end();
}

// The extension one brand tells, or empty for a brand shared by many kinds (isom, mp42).
std::string_view BrandExtension(std::string_view brand) {
  if (brand == "qt  ") return "mov";
  if (brand == "M4A " || brand == "M4B " || brand == "M4P ") return "m4a";
  if (brand == "M4V " || brand == "M4VH" || brand == "M4VP") return "m4v";
  if (brand.substr(0, 3) == "3gp" || brand.substr(0, 3) == "3gg" || brand.substr(0, 3) == "3ge" ||
      brand.substr(0, 3) == "3gs")
    return "3gp";
  if (brand.substr(0, 3) == "3g2") return "3g2";
  if (brand == "avif" || brand == "avis") return "avif";
  if (IsHeifBrand(brand) && brand.substr(0, 1) == "h") return "heic";
  return {};
}

// Top-level boxes a writer puts in a file; after the movie and its media, only these are
// taken as the file's own.
bool IsTopLevelBox(std::string_view type) {
  static constexpr std::string_view kTypes[] = {"ftyp", "pdin", "moov", "moof", "mfra", "mdat", "free", "skip",
                                                "wide", "meta", "meco", "uuid", "sidx", "ssix", "styp", "prft",
                                                "emsg", "udta", "pnot", "jumb"};
  return std::find(std::begin(kTypes), std::end(kTypes), type) != std::end(kTypes);
}

std::uint64_t U64Be(TSourceReader& bytes, std::uint64_t at) {
  return static_cast<std::uint64_t>(bytes.U32Be(at)) << 32 | bytes.U32Be(at + 4);
}

}  // namespace

bool HeifStarts(TBytes head) { return FtypStarts(head) && IsHeifBrand(Text(head.subspan(8, 4))); }
bool Mp4Starts(TBytes head) { return FtypStarts(head) && !IsHeifBrand(Text(head.subspan(8, 4))); }

TContentMeasure MeasureIsoMedia(TSourceReader& bytes, std::uint64_t maxBytes) {
  const TBytes head = bytes.Span(0, 12);
  if (!FtypStarts(head)) return Result(TContentVerdict::NotThisType, 0);
  const std::uint64_t limit = std::min(bytes.Size(), maxBytes);
  const std::uint32_t ftypSize = bytes.U32Be(0);
  if (!bytes.Has(0, ftypSize)) return CutOff(bytes, maxBytes, "MP4");
  // The brands: the major one, then the compatible ones, tell the kind.
  const std::string major(Text(bytes.Span(8, 4)));
  const bool heif = IsHeifBrand(major);
  const std::string_view kind = heif ? "HEIF" : "MP4";
  std::string extension(BrandExtension(major));
  for (std::uint64_t b = 16; extension.empty() && b + 4 <= ftypSize; b += 4)
    extension = BrandExtension(Text(bytes.Span(b, 4)));
  if (extension.empty()) extension = heif ? "heif" : "mp4";

  bool header = false, media = false;
  std::string last = "ftyp";
  std::uint64_t at = ftypSize;
  for (int boxes = 1;; ++boxes) {
    const bool complete = header && media;
    auto whole = [&] {
      TContentMeasure m = Result(TContentVerdict::Whole, at);
      m.Extension = extension;
      return m;
    };
    if (at >= limit || !bytes.Has(at, 8)) return complete ? whole() : CutOff(bytes, maxBytes, kind);
    std::uint64_t size = bytes.U32Be(at);
    const std::string type(Text(bytes.Span(at + 4, 4)));
    std::uint64_t headerBytes = 8;
    if (size == 1) {
      if (!bytes.Has(at, 16)) return complete ? whole() : CutOff(bytes, maxBytes, kind);
      size = U64Be(bytes, at + 8);
      headerBytes = 16;
    } else if (size == 0) {
      size = limit - at;  // the last box: it runs to the end of the file
    }
    if (!IsTopLevelBox(type) || size < headerBytes || boxes > (1 << 20)) {
      if (complete) return whole();
      if (boxes == 1) return Result(TContentVerdict::NotThisType, 0);
      return Result(TContentVerdict::Damaged, at,
                    "The " + std::string(kind) + " data breaks off after its " + last + " box, before its " +
                        (header ? "media data" : heif ? "picture's description (meta)" : "movie header (moov)"));
    }
    if (size > limit - at || !bytes.Has(at, size)) return CutOff(bytes, maxBytes, kind);
    if (type == "mdat") media = true;
    if (type == "moov" && !heif) header = true;
    if (type == "meta" && heif) {
      header = true;
      // A picture may keep its data in the meta box itself (idat) instead of in mdat.
      std::uint64_t child = at + headerBytes + 4;
      for (int k = 0; k < 64 && child + 8 <= at + size; ++k) {
        const std::uint32_t childSize = bytes.U32Be(child);
        if (bytes.Equals(child + 4, "idat")) media = true;
        if (childSize < 8) break;
        child += childSize;
      }
    }
    last = type;
    at += size;
  }
}

// ---- MP3 ----

namespace {

struct TMpegFrame {
  std::uint32_t Length = 0;
  // What every frame of one stream shares: version, layer, sample rate.
  std::uint32_t Stream = 0;
  bool Mono = false;
  int Version = 0;  // 3: MPEG-1, 2: MPEG-2, 0: MPEG-2.5
};

// The frame an MPEG audio header starts, or Length 0 for none: free-format bit rates and
// reserved values are no frame's.
TMpegFrame MpegFrame(std::uint32_t h) {
  TMpegFrame f;
  const std::uint32_t version = h >> 19 & 3, layer = h >> 17 & 3, bitrate = h >> 12 & 15, rate = h >> 10 & 3;
  if ((h >> 21) != 0x7FF || version == 1 || layer == 0 || bitrate == 0 || bitrate == 15 || rate == 3 || (h & 3) == 2)
    return f;
  static constexpr std::uint16_t kBitrates[2][3][15] = {
      {{0, 32, 40, 48, 56, 64, 80, 96, 112, 128, 160, 192, 224, 256, 320},     // MPEG-1 layer III
       {0, 32, 48, 56, 64, 80, 96, 112, 128, 160, 192, 224, 256, 320, 384},    // layer II
       {0, 32, 64, 96, 128, 160, 192, 224, 256, 288, 320, 352, 384, 416, 448}},  // layer I
      {{0, 8, 16, 24, 32, 40, 48, 56, 64, 80, 96, 112, 128, 144, 160},  // MPEG-2 and 2.5 layer III
       {0, 8, 16, 24, 32, 40, 48, 56, 64, 80, 96, 112, 128, 144, 160},  // layer II
       {0, 32, 48, 56, 64, 80, 96, 112, 128, 144, 160, 176, 192, 224, 256}}};
  static constexpr std::uint32_t kRates[3] = {44100, 48000, 32000};
  const bool one = version == 3;
  const std::uint32_t kbps = kBitrates[one ? 0 : 1][layer - 1][bitrate];
  const std::uint32_t hz = kRates[rate] >> (version == 3 ? 0 : version == 2 ? 1 : 2);
  const std::uint32_t padding = h >> 9 & 1;
  if (layer == 3) f.Length = (12000 * kbps / hz + padding) * 4;
  else if (layer == 1 && !one) f.Length = 72000 * kbps / hz + padding;
  else f.Length = 144000 * kbps / hz + padding;
  f.Stream = h & 0xFFFE0C00u;
  f.Mono = (h >> 6 & 3) == 3;
  f.Version = static_cast<int>(version);
  return f;
}

// The title of an ID3v2 tag's TIT2 (TT2 in version 2) frame, or empty.
std::string Id3v2Title(TSourceReader& bytes, std::uint64_t end) {
  const std::uint8_t version = bytes.U8(3), flags = bytes.U8(5);
  std::uint64_t at = 10;
  if (version >= 3 && (flags & 0x40)) {  // an extended header
    const std::uint32_t n = bytes.U32Be(10);
    at += version == 3 ? 4 + n : (n & 0x7F) | (n >> 8 & 0x7F) << 7 | (n >> 16 & 0x7F) << 14 | (n >> 24 & 0x7F) << 21;
  }
  const std::uint64_t idBytes = version == 2 ? 3 : 4, headerBytes = version == 2 ? 6 : 10;
  for (int frames = 0; frames < 256 && at + headerBytes <= end; ++frames) {
    const TBytes id = bytes.Span(at, idBytes);
    if (id.empty() || !std::all_of(id.begin(), id.end(), [](std::byte b) {
          return (b >= std::byte{'A'} && b <= std::byte{'Z'}) || (b >= std::byte{'0'} && b <= std::byte{'9'});
        }))
      return {};
    std::uint64_t size = 0;
    if (version == 2) {
      size = bytes.U32Be(at + 2) >> 8;
    } else {
      const std::uint32_t n = bytes.U32Be(at + 4);
      size = version == 4 ? (n & 0x7F) | (n >> 8 & 0x7F) << 7 | (n >> 16 & 0x7F) << 14 | (n >> 24 & 0x7F) << 21 : n;
    }
    const std::uint64_t data = at + headerBytes;
    if (size > end - data) return {};
    if (Text(id) == (version == 2 ? "TT2" : "TIT2") && size >= 1) {
      const TBytes text = bytes.Span(data + 1, static_cast<std::size_t>(std::min<std::uint64_t>(size - 1, 512)));
      switch (bytes.U8(data)) {
        case 0: return content::CleanTitle(content::Latin1ToUtf8(text));
        case 1: {  // UTF-16 after its byte order mark
          const bool big = ReadU8(text, 0) == 0xFE;
          return content::CleanTitle(content::Utf16ToUtf8(text.size() >= 2 ? text.subspan(2) : text, big));
        }
        case 2: return content::CleanTitle(content::Utf16ToUtf8(text, true));
        default: return content::CleanTitle(Text(text));
      }
    }
    at = data + size;
  }
  return {};
}

bool Id3v2Starts(TBytes head) {
  return HeadIs(head, "ID3") && head.size() >= 10 && ReadU8(head, 3) >= 2 && ReadU8(head, 3) <= 4 &&
         ReadU8(head, 4) != 0xFF && (ReadU8(head, 6) | ReadU8(head, 7) | ReadU8(head, 8) | ReadU8(head, 9)) < 0x80;
}

std::uint32_t HeaderAt(TBytes head, std::size_t at) {
  return static_cast<std::uint32_t>(ReadU8(head, at)) << 24 | ReadU8(head, at + 1) << 16 | ReadU8(head, at + 2) << 8 |
         ReadU8(head, at + 3);
}

// A run of fewer frames than this, without a tag or a frame count, is taken for bytes that
// only look like frames.
constexpr int kFewestFrames = 4;

}  // namespace

bool Mp3Starts(TBytes head) { return Id3v2Starts(head) || (head.size() >= 4 && MpegFrame(HeaderAt(head, 0)).Length); }

TContentMeasure MeasureMp3(TSourceReader& bytes, std::uint64_t maxBytes) {
  const TBytes head = bytes.Span(0, static_cast<std::size_t>(std::min<std::uint64_t>(bytes.Size(), 10)));
  if (!Mp3Starts(head)) return Result(TContentVerdict::NotThisType, 0);
  const std::uint64_t limit = std::min(bytes.Size(), maxBytes);
  std::uint64_t at = 0;
  std::string title;
  const bool tagged = Id3v2Starts(head);
  if (tagged) {
    const std::uint32_t size = ReadU8(head, 6) << 21 | ReadU8(head, 7) << 14 | ReadU8(head, 8) << 7 | ReadU8(head, 9);
    at = 10 + static_cast<std::uint64_t>(size) + ((ReadU8(head, 5) & 0x10) ? 10 : 0);
    if (at > limit || !bytes.Has(0, at)) return CutOff(bytes, maxBytes, "MP3");
    title = Id3v2Title(bytes, at);
  }
  const std::uint64_t first = at;
  const TMpegFrame start = MpegFrame(bytes.U32Be(at));
  if (!start.Length) return bytes.Has(at, 4) || !tagged ? Result(TContentVerdict::NotThisType, 0) : CutOff(bytes, maxBytes, "MP3");
  // The encoder's info frame ("Xing", "Info") counts the frames after it and the bytes of
  // all of them.
  std::uint64_t frameCount = 0, streamBytes = 0;
  const std::uint64_t side = start.Version == 3 ? (start.Mono ? 17 : 32) : (start.Mono ? 9 : 17);
  const std::uint64_t info = at + 4 + side + ((bytes.U8(at + 1) & 1) ? 0 : 2);
  if (bytes.Equals(info, "Xing") || bytes.Equals(info, "Info")) {
    const std::uint32_t flags = bytes.U32Be(info + 4);
    std::uint64_t field = info + 8;
    if (flags & 1) frameCount = bytes.U32Be(field), field += 4;
    if (flags & 2) streamBytes = bytes.U32Be(field);
    if (frameCount) ++frameCount;  // the info frame itself
    if (streamBytes < start.Length) streamBytes = 0;
  }
  std::uint64_t frames = 0;
  while (true) {
    if (streamBytes && at - first == streamBytes) break;
    if (frameCount && frames == frameCount) break;
    if (at >= limit || !bytes.Has(at, 4)) {
      if ((streamBytes && at - first < streamBytes) || (frameCount && frames < frameCount))
        return CutOff(bytes, maxBytes, "MP3");
      break;
    }
    const TMpegFrame f = MpegFrame(bytes.U32Be(at));
    if (!f.Length || f.Stream != start.Stream) break;
    if (f.Length > limit - at || !bytes.Has(at, f.Length)) return CutOff(bytes, maxBytes, "MP3");
    at += f.Length;
    ++frames;
  }
  const bool counted = streamBytes || frameCount;
  if (!counted && !tagged && frames < kFewestFrames) return Result(TContentVerdict::NotThisType, 0);
  if (frames == 0) return Result(TContentVerdict::NotThisType, 0);
  if ((streamBytes && at - first < streamBytes) || (frameCount && frames < frameCount)) {
    const std::uint64_t expected = frameCount ? frameCount : 0;
    return Result(TContentVerdict::Damaged, at,
                  "The MP3 data breaks off after frame " + std::to_string(frames) +
                      (expected ? " of " + std::to_string(expected) : std::string()));
  }
  // An ID3v1 tag closes the file.
  if (bytes.Equals(at, "TAG") && bytes.Has(at, 128) && at + 128 <= limit) {
    if (title.empty()) title = content::CleanTitle(content::Latin1ToUtf8(bytes.Span(at + 3, 30)));
    at += 128;
  }
  TContentMeasure m = Result(TContentVerdict::Whole, at);
  m.Title = std::move(title);
  return m;
}

// ---- FLAC ----

namespace {

// The CRCs of FLAC frames: CRC-8 of the header (polynomial 0x07) and CRC-16 of the whole
// frame (0x8005), both unreflected from 0.
constexpr std::array<std::uint16_t, 256> CrcTable(std::uint16_t polynomial, int bits) {
  std::array<std::uint16_t, 256> table{};
  const std::uint32_t top = 1u << (bits - 1), mask = (1u << bits) - 1;
  for (std::uint32_t i = 0; i < 256; ++i) {
    std::uint32_t c = i << (bits - 8);
    for (int k = 0; k < 8; ++k) c = (c & top) ? (c << 1 ^ polynomial) & mask : (c << 1) & mask;
    table[i] = static_cast<std::uint16_t>(c);
  }
  return table;
}
constexpr auto kCrc8 = CrcTable(0x07, 8);
constexpr auto kCrc16 = CrcTable(0x8005, 16);

std::uint8_t Crc8(TBytes b) {
  std::uint8_t c = 0;
  for (std::byte x : b) c = static_cast<std::uint8_t>(kCrc8[c ^ static_cast<std::uint8_t>(x)]);
  return c;
}

// Bits of a frame, most significant first, up to End; a read past it sets Failed, and Short
// as well when the bytes there are end first.
struct TBitReader {
  TSourceReader& Bytes;
  std::uint64_t At, End;
  int Left = 0;  // bits of Byte not yet read
  std::uint8_t Byte = 0;
  bool Failed = false, Short = false;

  bool Next() {
    if (At >= End || !Bytes.Has(At, 1)) {
      Short = Short || !Bytes.Has(At, 1);
      Failed = true;
      return false;
    }
    Byte = Bytes.U8(At++);
    Left = 8;
    return true;
  }
  std::uint32_t Read(int n) {
    std::uint32_t v = 0;
    for (int k = 0; k < n; ++k) {
      if (Left == 0 && !Next()) return 0;
      --Left;
      v = v << 1 | (Byte >> Left & 1);
    }
    return v;
  }
  // Skips n bits.
  void Skip(std::uint64_t n) {
    const std::uint64_t inByte = std::min<std::uint64_t>(n, static_cast<std::uint64_t>(Left));
    Left -= static_cast<int>(inByte);
    n -= inByte;
    if (n == 0) return;
    const std::uint64_t whole = (n - 1) / 8;
    if (whole > End - At) {
      At = End;
      Next();
      return;
    }
    At += whole;
    if (Next()) Left -= static_cast<int>(n - whole * 8);
  }
  // The zeros before the next 1 bit (a unary number's value).
  void ReadUnary() {
    while (!Failed) {
      if (Left == 0 && !Next()) return;
      if ((Byte & ((1u << Left) - 1)) == 0) {
        Left = 0;
        continue;
      }
      while (!(Byte >> --Left & 1)) {
      }
      return;
    }
  }
};

struct TFlacInfo {
  std::uint32_t Channels = 0, Bits = 0;
  std::uint64_t Samples = 0;  // 0: not known
};

// The header of the frame at `at`: its block size and the bytes of the header, or 0.
struct TFlacHeader {
  std::uint32_t BlockSize = 0, Channels = 0, Assignment = 0, Bits = 0;
  std::uint64_t Length = 0;
};

TFlacHeader FlacHeader(TSourceReader& bytes, std::uint64_t at, const TFlacInfo& info) {
  TFlacHeader h;
  const TBytes b = bytes.Span(at, 16);
  if (b.empty() || ReadU8(b, 0) != 0xFF || (ReadU8(b, 1) & 0xFE) != 0xF8) return {};
  const std::uint32_t sizeCode = ReadU8(b, 2) >> 4, rateCode = ReadU8(b, 2) & 15;
  const std::uint32_t assignment = ReadU8(b, 3) >> 4, bitsCode = ReadU8(b, 3) >> 1 & 7;
  if (sizeCode == 0 || rateCode == 15 || assignment > 10 || bitsCode == 3 || (ReadU8(b, 3) & 1)) return {};
  static constexpr std::uint32_t kBits[8] = {0, 8, 12, 0, 16, 20, 24, 32};
  h.Bits = bitsCode ? kBits[bitsCode] : info.Bits;
  h.Channels = assignment < 8 ? assignment + 1 : 2;
  h.Assignment = assignment;
  if (h.Channels != info.Channels || h.Bits != info.Bits) return {};
  // The frame or sample number, coded as UTF-8 is, up to 7 bytes.
  std::size_t p = 4;
  const std::uint8_t lead = ReadU8(b, p++);
  int more = 0;
  if (lead >= 0xFF) return {};
  if (lead & 0x80) {
    while (more < 7 && (lead << (more + 1) & 0x80)) ++more;
    if (more == 0) return {};
  }
  for (int k = 0; k < more; ++k)
    if ((ReadU8(b, p++) & 0xC0) != 0x80) return {};
  if (sizeCode == 1) h.BlockSize = 192;
  else if (sizeCode <= 5) h.BlockSize = 576u << (sizeCode - 2);
  else if (sizeCode == 6) h.BlockSize = ReadU8(b, p++) + 1u;
  else if (sizeCode == 7) h.BlockSize = (ReadU8(b, p) << 8 | ReadU8(b, p + 1)) + 1u, p += 2;
  else h.BlockSize = 256u << (sizeCode - 8);
  if (rateCode == 12) p += 1;
  else if (rateCode == 13 || rateCode == 14) p += 2;
  if (Crc8(b.first(p)) != ReadU8(b, p)) return {};
  h.Length = p + 1;
  return h;
}

enum class TFrameEnd : std::uint8_t { Ends, Broken, Short };

// Walks the subframes of a frame to the bits' end: the residuals are read, not decoded.
TFrameEnd WalkSubframes(TBitReader& r, const TFlacHeader& h) {
  for (std::uint32_t ch = 0; ch < h.Channels; ++ch) {
    std::uint32_t bits = h.Bits;
    // The side channel carries one bit more.
    if ((h.Assignment == 8 && ch == 1) || (h.Assignment == 9 && ch == 0) || (h.Assignment == 10 && ch == 1)) ++bits;
    if (r.Read(1) != 0) return r.Failed ? TFrameEnd::Short : TFrameEnd::Broken;
    const std::uint32_t type = r.Read(6);
    if (r.Read(1)) {  // wasted bits per sample, in unary
      const std::uint64_t before = r.At * 8 - static_cast<std::uint64_t>(r.Left);
      r.ReadUnary();
      const std::uint64_t wasted = r.At * 8 - static_cast<std::uint64_t>(r.Left) - before;
      if (wasted >= bits) return r.Failed ? TFrameEnd::Short : TFrameEnd::Broken;
      bits -= static_cast<std::uint32_t>(wasted);
    }
    std::uint32_t order = 0;
    if (type == 0) {  // constant
      r.Skip(bits);
      continue;
    }
    if (type == 1) {  // verbatim
      r.Skip(static_cast<std::uint64_t>(bits) * h.BlockSize);
      continue;
    }
    if (type >= 8 && type <= 12) {  // fixed predictor
      order = type - 8;
      r.Skip(static_cast<std::uint64_t>(bits) * order);
    } else if (type >= 32) {  // linear predictor
      order = type - 31;
      r.Skip(static_cast<std::uint64_t>(bits) * order);
      const std::uint32_t precision = r.Read(4);
      if (precision == 15) return r.Failed ? TFrameEnd::Short : TFrameEnd::Broken;
      r.Skip(5 + static_cast<std::uint64_t>(precision + 1) * order);
    } else {
      return r.Failed ? TFrameEnd::Short : TFrameEnd::Broken;
    }
    // The residual: Rice-coded partitions.
    const std::uint32_t method = r.Read(2), partitionOrder = r.Read(4);
    if (method > 1) return r.Failed ? TFrameEnd::Short : TFrameEnd::Broken;
    const int paramBits = method == 0 ? 4 : 5;
    const std::uint32_t escape = method == 0 ? 15 : 31;
    const std::uint32_t perPartition = h.BlockSize >> partitionOrder;
    if ((perPartition << partitionOrder) != h.BlockSize || perPartition < order)
      return r.Failed ? TFrameEnd::Short : TFrameEnd::Broken;
    for (std::uint32_t part = 0; part < (1u << partitionOrder) && !r.Failed; ++part) {
      const std::uint32_t n = part == 0 ? perPartition - order : perPartition;
      const std::uint32_t param = r.Read(paramBits);
      if (param == escape) {
        r.Skip(static_cast<std::uint64_t>(r.Read(5)) * n);
        continue;
      }
      for (std::uint32_t k = 0; k < n && !r.Failed; ++k) {
        r.ReadUnary();
        r.Skip(param);
      }
    }
    if (r.Failed) break;
  }
  if (r.Failed) return r.Short ? TFrameEnd::Short : TFrameEnd::Broken;
  return TFrameEnd::Ends;
}

// "TITLE=" of a Vorbis comment block (FLAC's and Ogg Vorbis's alike), or empty.
std::string VorbisCommentTitle(TSourceReader& bytes, std::uint64_t at, std::uint64_t end) {
  const std::uint64_t vendor = bytes.U32Le(at);
  if (vendor > end - std::min(end, at + 8)) return {};
  at += 4 + vendor;
  const std::uint32_t count = bytes.U32Le(at);
  at += 4;
  for (std::uint32_t k = 0; k < std::min<std::uint32_t>(count, 1024) && at + 4 <= end; ++k) {
    const std::uint64_t n = bytes.U32Le(at);
    if (n > end - at - 4) return {};
    const TBytes field = bytes.Span(at + 4, static_cast<std::size_t>(std::min<std::uint64_t>(n, 512)));
    if (field.size() > 6) {
      std::string key(Text(field.first(6)));
      for (char& c : key) c = static_cast<char>(c >= 'a' && c <= 'z' ? c - 'a' + 'A' : c);
      if (key == "TITLE=") return content::CleanTitle(Text(field.subspan(6)));
    }
    at += 4 + n;
  }
  return {};
}

// A frame is at most this long: every sample of 8 channels of 32 bits, verbatim, and more.
constexpr std::uint64_t kMaxFlacFrame = 65536ull * 8 * 4 + 1024;

}  // namespace

bool FlacStarts(TBytes head) {
  // STREAMINFO comes first and is 34 bytes long.
  return HeadIs(head, "fLaC") && head.size() >= 8 && (ReadU8(head, 4) & 0x7F) == 0 && ReadU8(head, 5) == 0 &&
         ReadU8(head, 6) == 0 && ReadU8(head, 7) == 34;
}

TContentMeasure MeasureFlac(TSourceReader& bytes, std::uint64_t maxBytes) {
  if (!FlacStarts(bytes.Span(0, 8))) return Result(TContentVerdict::NotThisType, 0);
  const std::uint64_t limit = std::min(bytes.Size(), maxBytes);
  if (!bytes.Has(0, 42)) return CutOff(bytes, maxBytes, "FLAC");
  TFlacInfo info;
  const std::uint32_t packed = bytes.U32Be(18);  // rate (20 bits), channels - 1 (3), bits - 1 (5), ...
  info.Channels = (packed >> 9 & 7) + 1;
  info.Bits = (packed >> 4 & 31) + 1;
  info.Samples = static_cast<std::uint64_t>(packed & 15) << 32 | bytes.U32Be(22);
  if ((packed >> 12) == 0 || info.Bits < 4) return Result(TContentVerdict::NotThisType, 0);
  // The metadata blocks, to the one marked last.
  std::uint64_t at = 4;
  std::string title;
  for (int block = 0;; ++block) {
    if (!bytes.Has(at, 4)) return CutOff(bytes, maxBytes, "FLAC");
    const std::uint8_t type = bytes.U8(at);
    const std::uint64_t length = bytes.U32Be(at) & 0xFFFFFF;
    if ((type & 0x7F) == 127 || block > 4096) return Result(TContentVerdict::NotThisType, 0);
    if (at + 4 + length > limit) return CutOff(bytes, maxBytes, "FLAC");
    if ((type & 0x7F) == 4 && title.empty()) title = VorbisCommentTitle(bytes, at + 4, at + 4 + length);
    at += 4 + length;
    if (type & 0x80) break;
  }
  if (!bytes.Has(at, 2)) return CutOff(bytes, maxBytes, "FLAC");
  // The frames, to the stream's last sample.
  std::uint64_t samples = 0;
  std::string damage;
  for (std::uint64_t frame = 1;; ++frame) {
    if (info.Samples && samples >= info.Samples) break;
    if (!bytes.Has(at, 4)) {
      if (!info.Samples && frame > 1) break;
      return CutOff(bytes, maxBytes, "FLAC");
    }
    const TFlacHeader h = FlacHeader(bytes, at, info);
    if (!h.Length) {
      if (!info.Samples && frame > 1) break;  // a stream of unknown length ends at its last frame
      if (frame == 1) return Result(TContentVerdict::NotThisType, 0);
      if (!bytes.Has(at, 16)) return CutOff(bytes, maxBytes, "FLAC");
      return Result(TContentVerdict::Damaged, at,
                    damage.empty() ? "The FLAC data breaks off after frame " + std::to_string(frame - 1) : damage);
    }
    TBitReader r{bytes, at + h.Length, std::min(limit, at + kMaxFlacFrame)};
    const TFrameEnd end = WalkSubframes(r, h);
    if (end == TFrameEnd::Short) return CutOff(bytes, maxBytes, "FLAC");
    if (end == TFrameEnd::Broken || r.At + 2 > r.End) {
      if (!bytes.Has(r.At, 2)) return CutOff(bytes, maxBytes, "FLAC");
      return Result(TContentVerdict::Damaged, at, damage.empty() ? "FLAC frame " + std::to_string(frame) + " is broken" : damage);
    }
    // Padding to the byte, then the CRC-16 of all the frame's bytes before it.
    const std::uint64_t crcAt = r.At;
    if (!bytes.Has(crcAt, 2)) return CutOff(bytes, maxBytes, "FLAC");
    std::uint16_t crc = 0;
    for (std::uint64_t p = at; p < crcAt;) {
      const auto n = static_cast<std::size_t>(std::min<std::uint64_t>(TSourceReader::kMaxSpan, crcAt - p));
      for (std::byte x : bytes.Span(p, n))
        crc = static_cast<std::uint16_t>(crc << 8 ^ kCrc16[(crc >> 8) ^ static_cast<std::uint8_t>(x)]);
      p += n;
    }
    if (crc != bytes.U16Be(crcAt) && damage.empty()) damage = "FLAC frame " + std::to_string(frame) + " fails its CRC";
    at = crcAt + 2;
    samples += h.BlockSize;
  }
  TContentMeasure m = damage.empty() ? Result(TContentVerdict::Whole, at) : Result(TContentVerdict::Damaged, at, damage);
  m.Title = std::move(title);
  return m;
}

// ---- Ogg ----

namespace {

// Ogg's page CRC: polynomial 0x04C11DB7, unreflected, from 0 and not inverted (not the
// CRC-32 of ZIP and PNG).
constexpr std::array<std::uint32_t, 256> kOggCrc = [] {
  std::array<std::uint32_t, 256> table{};
  for (std::uint32_t i = 0; i < 256; ++i) {
    std::uint32_t c = i << 24;
    for (int k = 0; k < 8; ++k) c = (c & 0x80000000u) ? c << 1 ^ 0x04C11DB7u : c << 1;
    table[i] = c;
  }
  return table;
}();

std::uint32_t OggCrc(std::uint32_t crc, TBytes b) {
  for (std::byte x : b) crc = crc << 8 ^ kOggCrc[(crc >> 24) ^ static_cast<std::uint8_t>(x)];
  return crc;
}

bool OggPageStarts(TBytes head) { return HeadIs(head, "OggS") && ReadU8(head, 4) == 0 && (ReadU8(head, 5) & ~7u) == 0; }

}  // namespace

bool OggStarts(TBytes head) {
  // A stream's first page: marked so, page number 0, not a continued packet.
  return head.size() >= 27 && OggPageStarts(head) && (ReadU8(head, 5) & 3) == 2 && ReadU32(head, 18) == 0 &&
         ReadU8(head, 26) > 0;
}

TContentMeasure MeasureOgg(TSourceReader& bytes, std::uint64_t maxBytes) {
  if (!OggStarts(bytes.Span(0, static_cast<std::size_t>(std::min<std::uint64_t>(bytes.Size(), 27)))))
    return Result(TContentVerdict::NotThisType, 0);
  const std::uint64_t limit = std::min(bytes.Size(), maxBytes);
  std::vector<std::uint32_t> open;  // the streams begun and not yet ended
  std::string damage, extension, title;
  std::uint64_t at = 0;
  std::uint32_t firstSerial = 0;
  for (std::uint64_t page = 1;; ++page) {
    if (page > 1 && open.empty()) break;
    if (at >= limit || !bytes.Has(at, 27)) return CutOff(bytes, maxBytes, "Ogg");
    if (!OggPageStarts(bytes.Span(at, 6))) {
      if (page == 1) return Result(TContentVerdict::NotThisType, 0);
      return Result(TContentVerdict::Damaged, at,
                    damage.empty() ? "The Ogg data breaks off after page " + std::to_string(page - 1) : damage);
    }
    const std::uint8_t flags = bytes.U8(at + 5), segments = bytes.U8(at + 26);
    const std::uint32_t serial = bytes.U32Le(at + 14);
    if (!bytes.Has(at, 27 + static_cast<std::uint64_t>(segments))) return CutOff(bytes, maxBytes, "Ogg");
    std::uint64_t body = 0;
    for (std::byte n : bytes.Span(at + 27, segments)) body += static_cast<std::uint8_t>(n);
    const std::uint64_t data = at + 27 + segments, end = data + body;
    if (end > limit || !bytes.Has(at, end - at)) return CutOff(bytes, maxBytes, "Ogg");
    // The CRC covers the whole page with its own field as zeros.
    std::uint32_t crc = OggCrc(0, bytes.Span(at, 22));
    crc = OggCrc(crc, AsBytes("\0\0\0\0", 4));
    crc = OggCrc(crc, bytes.Span(at + 26, static_cast<std::size_t>(1 + segments)));
    crc = OggCrc(crc, bytes.Span(data, static_cast<std::size_t>(body)));
    if (crc != bytes.U32Le(at + 22)) {
      // A first page that fails its CRC is only bytes that look like one.
      if (page == 1) return Result(TContentVerdict::NotThisType, 0);
      if (damage.empty()) damage = "Ogg page " + std::to_string(page) + " fails its CRC";
    }
    if (flags & 2) {
      if (open.size() < 256 && std::find(open.begin(), open.end(), serial) == open.end()) open.push_back(serial);
      if (page == 1) {
        firstSerial = serial;
        if (bytes.Equals(data, "\x01vorbis")) extension = "ogg";
        else if (bytes.Equals(data, "OpusHead")) extension = "opus";
        else if (bytes.Equals(data, "\x80theora")) extension = "ogv";
        else if (bytes.Equals(data, "\x7F" "FLAC")) extension = "oga";
        else if (bytes.Equals(data, "Speex   ")) extension = "spx";
      }
    } else if (serial == firstSerial && title.empty()) {
      // The comment packet follows the first stream's header.
      if (bytes.Equals(data, "\x03vorbis")) title = VorbisCommentTitle(bytes, data + 7, end);
      else if (bytes.Equals(data, "OpusTags")) title = VorbisCommentTitle(bytes, data + 8, end);
    }
    if (flags & 4) open.erase(std::remove(open.begin(), open.end(), serial), open.end());
    at = end;
  }
  TContentMeasure m = damage.empty() ? Result(TContentVerdict::Whole, at) : Result(TContentVerdict::Damaged, at, damage);
  m.Extension = extension;
  m.Title = std::move(title);
  return m;
}

}  // namespace restovo
