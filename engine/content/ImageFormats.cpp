#include "content/ImageFormats.h"

#include <algorithm>
#include <cstring>
#include <iterator>
#include <map>
#include <string>
#include <vector>

#include "content/MeasureResults.h"
#include "io/Crc32.h"

namespace restovo {

using content::CutOff;
using content::HeadIs;
using content::Result;

namespace {

// Bytes of one value of each TIFF field type (0: not a type).
std::uint32_t TiffTypeBytes(std::uint16_t type) {
  static constexpr std::uint8_t kBytes[] = {0, 1, 1, 2, 4, 8, 1, 1, 2, 4, 8, 4, 8, 4};
  return type < std::size(kBytes) ? kBytes[type] : 0;
}

struct TTiffReader {
  TSourceReader& Bytes;
  bool Big = false;  // "MM": big-endian
  std::uint16_t U16(std::uint64_t at) { return Big ? Bytes.U16Be(at) : Bytes.U16Le(at); }
  std::uint32_t U32(std::uint64_t at) { return Big ? Bytes.U32Be(at) : Bytes.U32Le(at); }
  // Value k of an entry of type SHORT or LONG, wherever it lies.
  std::uint32_t Value(std::uint64_t entry, std::uint16_t type, std::uint32_t count, std::uint32_t k) {
    const std::uint32_t size = TiffTypeBytes(type);
    const std::uint64_t at = static_cast<std::uint64_t>(size) * count <= 4 ? entry + 8 : U32(entry + 8);
    return type == 3 ? U16(at + 2ull * k) : U32(at + 4ull * k);
  }
};

// The ASCII value of a tag in one directory of an EXIF block, or empty.
std::string TiffText(TTiffReader& t, std::uint64_t ifd, std::uint16_t wanted) {
  const std::uint16_t count = t.U16(ifd);
  for (std::uint16_t i = 0; i < std::min<std::uint16_t>(count, 200); ++i) {
    const std::uint64_t e = ifd + 2 + 12ull * i;
    if (t.U16(e) != wanted || t.U16(e + 2) != 2) continue;
    const std::uint32_t n = std::min<std::uint32_t>(t.U32(e + 4), 64);
    const TBytes text = n <= 4 ? t.Bytes.Span(e + 8, n) : t.Bytes.Span(t.U32(e + 8), n);
    std::string out(reinterpret_cast<const char*>(text.data()), text.size());
    out = out.substr(0, out.find('\0'));
    while (!out.empty() && out.back() == ' ') out.pop_back();
    return out;
  }
  return {};
}

std::uint32_t TiffLong(TTiffReader& t, std::uint64_t ifd, std::uint16_t wanted) {
  const std::uint16_t count = t.U16(ifd);
  for (std::uint16_t i = 0; i < std::min<std::uint16_t>(count, 200); ++i) {
    const std::uint64_t e = ifd + 2 + 12ull * i;
    if (t.U16(e) == wanted && (t.U16(e + 2) == 4 || t.U16(e + 2) == 13)) return t.U32(e + 8);
  }
  return 0;
}

// "2024-06-15 10.00.00 Canon EOS 80D" from an APP1 segment's EXIF block: when the photo
// was taken (else last changed) and the camera's model; empty without either.
std::string ExifTitle(TBytes segment) {
  if (segment.size() < 14 || std::memcmp(segment.data(), "Exif\0\0", 6) != 0) return {};
  TMemorySource tiff(segment.subspan(6));
  TSourceReader bytes(tiff);
  TTiffReader t{bytes, bytes.U8(0) == 'M'};
  const std::uint64_t ifd0 = t.U32(4);
  if (ifd0 < 8 || !bytes.Has(ifd0, 2)) return {};
  std::string taken;
  if (const std::uint32_t exif = TiffLong(t, ifd0, 0x8769); exif >= 8) taken = TiffText(t, exif, 0x9003);
  if (taken.empty()) taken = TiffText(t, ifd0, 0x0132);
  // "YYYY:MM:DD HH:MM:SS", as a name: "YYYY-MM-DD HH.MM.SS".
  if (taken.size() >= 19 && taken[4] == ':' && taken[7] == ':') {
    taken[4] = taken[7] = '-';
    taken[13] = taken[16] = '.';
    taken.resize(19);
  } else {
    taken.clear();
  }
  const std::string model = TiffText(t, ifd0, 0x0110);
  if (taken.empty() && model.empty()) return {};
  return taken.empty() ? model : model.empty() ? taken : taken + " " + model;
}

}  // namespace

// ---- JPEG ----

bool JpegStarts(TBytes head) {
  return head.size() >= 4 && head[0] == std::byte{0xFF} && head[1] == std::byte{0xD8} && head[2] == std::byte{0xFF} &&
         static_cast<std::uint8_t>(head[3]) >= 0xC0 && head[3] != std::byte{0xFF};
}

TContentMeasure MeasureJpeg(TSourceReader& bytes, std::uint64_t maxBytes) {
  if (!JpegStarts(bytes.Span(0, 4))) return Result(TContentVerdict::NotThisType, 0);
  const std::uint64_t limit = std::min(bytes.Size(), maxBytes);
  std::uint64_t at = 2;
  bool frame = false, scan = false;
  std::string title;
  while (true) {
    if (!bytes.Has(at, 2)) return scan ? CutOff(bytes, maxBytes, "JPEG") : Result(TContentVerdict::NotThisType, 0);
    if (bytes.U8(at) != 0xFF) {
      if (scan) return Result(TContentVerdict::Damaged, at, "The JPEG data breaks off after its picture data began");
      return Result(TContentVerdict::NotThisType, 0);
    }
    // Fill bytes may stand before a marker.
    std::uint64_t m = at + 1;
    while (m < limit && bytes.U8(m) == 0xFF) ++m;
    if (m >= limit) return scan ? CutOff(bytes, maxBytes, "JPEG") : Result(TContentVerdict::NotThisType, 0);
    const std::uint8_t marker = bytes.U8(m);
    if (marker == 0xD9) {
      if (!frame || !scan) return Result(TContentVerdict::NotThisType, 0);
      TContentMeasure whole = Result(TContentVerdict::Whole, m + 1);
      whole.Title = std::move(title);
      return whole;
    }
    if (marker == 0x00 || marker == 0xD8) {
      if (scan) return Result(TContentVerdict::Damaged, at, "The JPEG data breaks off after its picture data began");
      return Result(TContentVerdict::NotThisType, 0);
    }
    if ((marker >= 0xD0 && marker <= 0xD7) || marker == 0x01) {  // markers without a segment
      at = m + 1;
      continue;
    }
    const std::uint16_t length = bytes.U16Be(m + 1);
    if (!bytes.Has(m + 1, 2)) return scan ? CutOff(bytes, maxBytes, "JPEG") : Result(TContentVerdict::NotThisType, 0);
    if (length < 2) {
      if (scan) return Result(TContentVerdict::Damaged, at, "The JPEG data breaks off after its picture data began");
      return Result(TContentVerdict::NotThisType, 0);
    }
    // Frame headers: baseline, extended, progressive and the rest, but not the tables that
    // share the range (DHT, JPG, DAC).
    if (marker >= 0xC0 && marker <= 0xCF && marker != 0xC4 && marker != 0xC8 && marker != 0xCC) frame = true;
    if (marker == 0xE1 && title.empty()) title = ExifTitle(bytes.Span(m + 3, static_cast<std::size_t>(length - 2)));
    at = m + 1 + length;
    if (at > limit) return CutOff(bytes, maxBytes, "JPEG");
    if (marker != 0xDA) continue;
    if (!frame) return Result(TContentVerdict::NotThisType, 0);
    scan = true;
    // The entropy-coded data: a 0xFF in it is followed by 0x00 (a data byte) or a restart
    // marker; anything else is the next marker.
    while (true) {
      const auto ff = bytes.FindByte(at, limit, 0xFF);
      if (!ff || *ff + 1 >= limit) return CutOff(bytes, maxBytes, "JPEG");
      const std::uint8_t next = bytes.U8(*ff + 1);
      if (next == 0x00 || (next >= 0xD0 && next <= 0xD7) || next == 0xFF) {
        at = *ff + (next == 0xFF ? 1 : 2);
        continue;
      }
      at = *ff;
      break;
    }
  }
}

// ---- PNG ----

namespace {
constexpr std::string_view kPngSignature("\x89PNG\r\n\x1A\n", 8);

bool ChunkTypeIsLetters(TBytes type) {
  return type.size() == 4 && std::all_of(type.begin(), type.end(), [](std::byte b) {
           const auto c = static_cast<std::uint8_t>(b);
           return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z');
         });
}
}  // namespace

bool PngStarts(TBytes head) { return HeadIs(head, kPngSignature) && HeadIs(head.subspan(12), "IHDR"); }

TContentMeasure MeasurePng(TSourceReader& bytes, std::uint64_t maxBytes) {
  if (!PngStarts(bytes.Span(0, 16))) return Result(TContentVerdict::NotThisType, 0);
  const std::uint64_t limit = std::min(bytes.Size(), maxBytes);
  std::uint64_t at = kPngSignature.size();
  std::string damage;
  for (int chunk = 1;; ++chunk) {
    if (!bytes.Has(at, 8)) return CutOff(bytes, maxBytes, "PNG");
    const std::uint32_t length = bytes.U32Be(at);
    const TBytes typeBytes = bytes.Span(at + 4, 4);
    if (length > 0x7FFFFFFFu || !ChunkTypeIsLetters(typeBytes)) {
      if (chunk == 1) return Result(TContentVerdict::NotThisType, 0);
      return Result(TContentVerdict::Damaged, at, "PNG chunk " + std::to_string(chunk) + " is not a chunk");
    }
    const std::string type(reinterpret_cast<const char*>(typeBytes.data()), 4);
    if (chunk == 1 && (type != "IHDR" || length != 13)) return Result(TContentVerdict::NotThisType, 0);
    const std::uint64_t end = at + 12 + length;
    if (end > limit || !bytes.Has(at, 12 + static_cast<std::uint64_t>(length))) return CutOff(bytes, maxBytes, "PNG");
    // The CRC covers the type and the data.
    std::uint32_t crc = kCrc32Start;
    for (std::uint64_t p = at + 4; p < at + 8 + length;) {
      const auto n = static_cast<std::size_t>(std::min<std::uint64_t>(TSourceReader::kMaxSpan, at + 8 + length - p));
      crc = Crc32Update(crc, bytes.Span(p, n));
      p += n;
    }
    if (Crc32Finish(crc) != bytes.U32Be(at + 8 + length) && damage.empty())
      damage = "PNG chunk " + std::to_string(chunk) + " (" + type + ") fails its CRC";
    at = end;
    if (type == "IEND")
      return damage.empty() ? Result(TContentVerdict::Whole, at) : Result(TContentVerdict::Damaged, at, damage);
  }
}

// ---- GIF ----

bool GifStarts(TBytes head) { return HeadIs(head, "GIF87a") || HeadIs(head, "GIF89a"); }

TContentMeasure MeasureGif(TSourceReader& bytes, std::uint64_t maxBytes) {
  if (!GifStarts(bytes.Span(0, 6))) return Result(TContentVerdict::NotThisType, 0);
  const std::uint64_t limit = std::min(bytes.Size(), maxBytes);
  if (!bytes.Has(0, 13)) return Result(TContentVerdict::NotThisType, 0);
  if (bytes.U16Le(6) == 0 || bytes.U16Le(8) == 0) return Result(TContentVerdict::NotThisType, 0);
  const std::uint8_t flags = bytes.U8(10);
  std::uint64_t at = 13 + ((flags & 0x80) ? 3u << ((flags & 7) + 1) : 0u);
  int images = 0;
  // Data sub-blocks: a length byte and that many bytes, to a zero length.
  auto skipBlocks = [&]() -> bool {
    while (at < limit) {
      const std::uint8_t n = bytes.U8(at);
      if (!bytes.Has(at, 1)) return false;
      at += 1 + n;
      if (n == 0) return true;
    }
    return false;
  };
  while (true) {
    if (at >= limit || !bytes.Has(at, 1)) return CutOff(bytes, maxBytes, "GIF");
    const std::uint8_t block = bytes.U8(at);
    if (block == 0x3B) {
      if (images == 0) return Result(TContentVerdict::NotThisType, 0);
      return Result(TContentVerdict::Whole, at + 1);
    }
    if (block == 0x21) {
      at += 2;
      if (!skipBlocks()) return CutOff(bytes, maxBytes, "GIF");
    } else if (block == 0x2C) {
      if (!bytes.Has(at, 11)) return CutOff(bytes, maxBytes, "GIF");
      const std::uint8_t local = bytes.U8(at + 9);
      at += 10 + ((local & 0x80) ? 3u << ((local & 7) + 1) : 0u);
      const std::uint8_t codeSize = bytes.U8(at);
      if (codeSize < 1 || codeSize > 11) {
        if (images == 0) return Result(TContentVerdict::NotThisType, 0);
        return Result(TContentVerdict::Damaged, at, "GIF image " + std::to_string(images + 1) + " is not an image");
      }
      ++at;
      if (!skipBlocks()) return CutOff(bytes, maxBytes, "GIF");
      ++images;
    } else {
      if (images == 0) return Result(TContentVerdict::NotThisType, 0);
      return Result(TContentVerdict::Damaged, at, "The GIF data breaks off after image " + std::to_string(images));
    }
  }
}

// ---- BMP ----

bool BmpStarts(TBytes head) {
  if (!HeadIs(head, "BM") || head.size() < 30) return false;
  const std::uint32_t info = ReadU32(head, 14);
  return (info == 12 || info == 40 || info == 52 || info == 56 || info == 64 || info == 108 || info == 124) &&
         ReadU32(head, 6) == 0;
}

TContentMeasure MeasureBmp(TSourceReader& bytes, std::uint64_t maxBytes) {
  const TBytes h = bytes.Span(0, std::min<std::uint64_t>(bytes.Size(), 54));
  if (h.size() < 30 || !BmpStarts(h)) return Result(TContentVerdict::NotThisType, 0);
  const std::uint32_t size = ReadU32(h, 2), pixels = ReadU32(h, 10), info = ReadU32(h, 14);
  std::uint64_t width = 0, height = 0;
  std::uint16_t planes = 0, bits = 0;
  std::uint32_t compression = 0;
  if (info == 12) {
    width = ReadU16(h, 18);
    height = ReadU16(h, 20);
    planes = ReadU16(h, 22);
    bits = ReadU16(h, 24);
  } else {
    const auto w = static_cast<std::int32_t>(ReadU32(h, 18)), ht = static_cast<std::int32_t>(ReadU32(h, 22));
    width = w > 0 ? static_cast<std::uint64_t>(w) : 0;
    height = ht == INT32_MIN ? 0 : static_cast<std::uint64_t>(ht < 0 ? -static_cast<std::int64_t>(ht) : ht);
    planes = ReadU16(h, 26);
    bits = ReadU16(h, 28);
    compression = ReadU32(h, 30);
  }
  const bool bitsKnown = bits == 1 || bits == 4 || bits == 8 || bits == 16 || bits == 24 || bits == 32;
  if (planes != 1 || !bitsKnown || width == 0 || height == 0 || pixels < 14 + info || pixels >= size)
    return Result(TContentVerdict::NotThisType, 0);
  // Uncompressed rows are padded to four bytes: the pixel array's size is known, and a
  // file header claiming less is not this picture.
  if (compression == 0 || compression == 3) {
    const std::uint64_t row = (width * bits + 31) / 32 * 4;
    if (height > (std::uint64_t{1} << 40) / std::max<std::uint64_t>(row, 1) || pixels + row * height > size)
      return Result(TContentVerdict::NotThisType, 0);
  }
  if (size > maxBytes) return Result(TContentVerdict::NotThisType, 0);
  if (!bytes.Has(0, size)) return CutOff(bytes, maxBytes, "BMP");
  return Result(TContentVerdict::Whole, size);
}

// ---- TIFF and camera raw ----

bool TiffStarts(TBytes head) {
  if (head.size() < 8) return false;
  const std::string_view h(reinterpret_cast<const char*>(head.data()), 4);
  const bool known = h == std::string_view("II*\0", 4) || h == std::string_view("MM\0*", 4) || h == "IIRO" ||
                     h == "IIRS" || h == std::string_view("IIU\0", 4);
  if (!known) return false;
  const std::uint32_t first = h[0] == 'M' ? static_cast<std::uint32_t>(ReadU8(head, 4)) << 24 |
                                                static_cast<std::uint32_t>(ReadU8(head, 5)) << 16 |
                                                static_cast<std::uint32_t>(ReadU8(head, 6)) << 8 | ReadU8(head, 7)
                                          : ReadU32(head, 4);
  return first >= 8 && first % 2 == 0;
}

TContentMeasure MeasureTiff(TSourceReader& bytes, std::uint64_t maxBytes) {
  if (!TiffStarts(bytes.Span(0, 8))) return Result(TContentVerdict::NotThisType, 0);
  TTiffReader t{bytes, bytes.U8(0) == 'M'};
  const std::uint64_t limit = std::min(bytes.Size(), maxBytes);
  std::uint64_t end = 8;
  std::string make, extension;
  bool dng = false;
  std::vector<std::uint64_t> pending{t.U32(4)}, seen;
  // Offsets and byte counts of strips, tiles and previews come in pairs of tags.
  struct TPair {
    std::uint16_t OffsetTag, CountTag;
  };
  static constexpr TPair kPairs[] = {{0x0111, 0x0117}, {0x0144, 0x0145}, {0x0201, 0x0202}};
  while (!pending.empty() && seen.size() < 64) {
    const std::uint64_t ifd = pending.back();
    pending.pop_back();
    if (ifd < 8 || std::find(seen.begin(), seen.end(), ifd) != seen.end()) continue;
    seen.push_back(ifd);
    // Writers put directories after the data too: one past the bytes there are is cut off.
    if (!bytes.Has(ifd, 2)) return ifd < maxBytes ? CutOff(bytes, maxBytes, "TIFF") : Result(TContentVerdict::NotThisType, 0);
    const std::uint16_t count = t.U16(ifd);
    if (count == 0 || count > 1000) {
      if (seen.size() == 1) return Result(TContentVerdict::NotThisType, 0);
      continue;
    }
    const std::uint64_t entries = ifd + 2, after = entries + 12ull * count;
    end = std::max(end, after + 4);
    if (end > limit) return CutOff(bytes, maxBytes, "TIFF");
    std::map<std::uint16_t, std::uint64_t> at;  // tag -> its entry
    for (std::uint16_t i = 0; i < count; ++i) {
      const std::uint64_t e = entries + 12ull * i;
      const std::uint16_t tag = t.U16(e), type = t.U16(e + 2);
      const std::uint32_t n = t.U32(e + 4), size = TiffTypeBytes(type);
      if (size == 0) continue;
      at[tag] = e;
      const std::uint64_t bytesOfValue = static_cast<std::uint64_t>(size) * n;
      if (bytesOfValue > 4) end = std::max(end, static_cast<std::uint64_t>(t.U32(e + 8)) + bytesOfValue);
      if (tag == 0x010F && type == 2 && make.empty()) {
        const TBytes text = bytesOfValue <= 4 ? bytes.Span(e + 8, n) : bytes.Span(t.U32(e + 8), std::min<std::uint32_t>(n, 64));
        make.assign(reinterpret_cast<const char*>(text.data()), text.size());
      }
      if (tag == 0xC612) dng = true;
      // Directories below this one: sub-images, EXIF, GPS, interoperability.
      if ((tag == 0x014A || tag == 0x8769 || tag == 0x8825 || tag == 0xA005) && (type == 4 || type == 13))
        for (std::uint32_t k = 0; k < std::min<std::uint32_t>(n, 16); ++k) pending.push_back(t.Value(e, 4, n, k));
    }
    for (const TPair& p : kPairs) {
      const auto o = at.find(p.OffsetTag), c = at.find(p.CountTag);
      if (o == at.end() || c == at.end()) continue;
      const std::uint16_t oType = t.U16(o->second + 2), cType = t.U16(c->second + 2);
      const std::uint32_t n = std::min({t.U32(o->second + 4), t.U32(c->second + 4), 1u << 20});
      if ((oType != 3 && oType != 4) || (cType != 3 && cType != 4)) continue;
      for (std::uint32_t k = 0; k < n; ++k)
        end = std::max(end, static_cast<std::uint64_t>(t.Value(o->second, oType, n, k)) + t.Value(c->second, cType, n, k));
    }
    if (const std::uint32_t next = t.U32(after); next != 0) pending.push_back(next);
  }
  if (end > limit) return CutOff(bytes, maxBytes, "TIFF");
  const TBytes head = bytes.Span(0, 10);
  const std::string_view h(reinterpret_cast<const char*>(head.data()), head.size());
  if (h.substr(0, 4) == "IIRO" || h.substr(0, 4) == "IIRS") extension = "orf";
  else if (h.substr(0, 4) == std::string_view("IIU\0", 4)) extension = "rw2";
  else if (h.substr(8, 2) == "CR") extension = "cr2";
  else if (dng) extension = "dng";
  else if (make.rfind("NIKON", 0) == 0) extension = "nef";
  else if (make.rfind("SONY", 0) == 0) extension = "arw";
  TContentMeasure m = Result(TContentVerdict::Whole, end);
  m.Extension = extension;
  return m;
}

}  // namespace restovo
