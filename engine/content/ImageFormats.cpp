#include "content/ImageFormats.h"

#include <algorithm>
#include <cstring>

#include "io/Crc32.h"

namespace restovo {

namespace {

bool HeadIs(TBytes head, std::string_view text) {
  return head.size() >= text.size() && std::memcmp(head.data(), text.data(), text.size()) == 0;
}

TContentMeasure Result(TContentVerdict verdict, std::uint64_t length, std::string reason = {}) {
  TContentMeasure m;
  m.Verdict = verdict;
  m.Length = length;
  m.Reason = std::move(reason);
  return m;
}

TContentMeasure CutOff(TSourceReader& bytes, std::uint64_t maxBytes, std::string_view kind) {
  return Result(TContentVerdict::Truncated, std::min(bytes.Size(), maxBytes),
                "The " + std::string(kind) + " data ends before the file's end");
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
      return Result(TContentVerdict::Whole, m + 1);
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

}  // namespace restovo
