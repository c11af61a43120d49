#include "content/ContainerFormats.h"

#include <algorithm>
#include <bit>
#include <cstring>
#include <vector>

#include "content/Inflate.h"
#include "content/MeasureResults.h"
#include "io/Crc32.h"

namespace restovo {

using content::CutOff;
using content::HeadIs;
using content::Result;

namespace {

constexpr std::string_view kLocal("PK\x03\x04", 4), kCentral("PK\x01\x02", 4), kEnd("PK\x05\x06", 4);
constexpr std::string_view kDescriptor("PK\x07\x08", 4), kEnd64("PK\x06\x06", 4), kLocator64("PK\x06\x07", 4);

// What the first members' names and the ODF/EPUB "mimetype" member say the archive is.
struct TZipKind {
  std::string Extension;
  bool Office = false;  // [Content_Types].xml seen: the folder of the parts decides
  void Note(std::string_view name, TSourceReader& bytes, std::uint64_t data, std::uint32_t size, bool stored) {
    auto starts = [&](std::string_view p) { return name.substr(0, p.size()) == p; };
    if (name == "[Content_Types].xml") Office = true;
    if (Extension.empty() && Office) {
      if (starts("word/")) Extension = "docx";
      else if (starts("xl/")) Extension = "xlsx";
      else if (starts("ppt/")) Extension = "pptx";
    }
    if (Extension.empty() && name == "mimetype" && stored && size < 100) {
      const TBytes t = bytes.Span(data, size);
      const std::string_view type(reinterpret_cast<const char*>(t.data()), t.size());
      if (type == "application/epub+zip") Extension = "epub";
      else if (type == "application/vnd.oasis.opendocument.text") Extension = "odt";
      else if (type == "application/vnd.oasis.opendocument.spreadsheet") Extension = "ods";
      else if (type == "application/vnd.oasis.opendocument.presentation") Extension = "odp";
    }
    if (Extension.empty() && name == "AndroidManifest.xml") Extension = "apk";
    if (Extension.empty() && name == "META-INF/MANIFEST.MF") Extension = "jar";
  }
};

// A member as its local entry (or the descriptor after its data) tells it: where its data
// lies, how it is packed, and the CRC-32 and size of what it unpacks to.
struct TZipMember {
  std::string Name;
  std::uint16_t Flags = 0, Method = 0;
  std::uint64_t Data = 0, Packed = 0, Size = 0;
  std::uint32_t Crc = 0;
};

// How many bytes the members may unpack to, all together, for their CRCs to be checked: a
// bound on work, past which the rest go unchecked.
constexpr std::uint64_t kZipCheckBytes = 1ull << 30;

// Why a member's data does not hold what its entry says, or empty when it does (or cannot
// be checked: encrypted, packed by another method, past the bound).
std::string ZipMemberDamage(TSourceReader& bytes, const TZipMember& m, std::uint64_t& budget) {
  if ((m.Flags & 1) || (m.Method != 0 && m.Method != 8) || m.Size > budget) return {};
  budget -= m.Size;
  const std::string name = content::CleanTitle(m.Name);
  std::uint32_t crc = 0;
  std::uint64_t size = 0;
  if (m.Method == 0) {
    std::uint32_t state = kCrc32Start;
    for (std::uint64_t p = m.Data; p < m.Data + m.Packed;) {
      const auto n = static_cast<std::size_t>(std::min<std::uint64_t>(TSourceReader::kMaxSpan, m.Data + m.Packed - p));
      state = Crc32Update(state, bytes.Span(p, n));
      p += n;
    }
    crc = Crc32Finish(state);
    size = m.Packed;
  } else {
    const TInflateResult r = Inflate(bytes, m.Data, m.Data + m.Packed, m.Size);
    if (r.Status == TInflateResult::TStatus::Broken)
      return "ZIP member " + name + "'s compressed data is broken: " + r.Reason;
    if (r.Status != TInflateResult::TStatus::Done || r.End != m.Data + m.Packed)
      return "ZIP member " + name + "'s compressed data does not end with its entry";
    crc = r.Crc32;
    size = r.Size;
  }
  if (size != m.Size) return "ZIP member " + name + " is not the size its entry says";
  if (crc != m.Crc) return "ZIP member " + name + " fails its CRC";
  return {};
}

// The dc:title of an Office document's docProps/core.xml or an ODF document's meta.xml,
// stored or deflated; empty when there is none.
std::string ZipDocumentTitle(TSourceReader& bytes, const std::vector<TZipMember>& members) {
  for (const TZipMember& m : members) {
    if (m.Name != "docProps/core.xml" && m.Name != "meta.xml") continue;
    if ((m.Flags & 1) || (m.Method != 0 && m.Method != 8)) return {};
    std::vector<std::byte> xml;
    constexpr std::size_t kRead = 64 * 1024;
    if (m.Method == 0) {
      const TBytes b = bytes.Span(m.Data, static_cast<std::size_t>(std::min<std::uint64_t>(m.Packed, kRead)));
      xml.assign(b.begin(), b.end());
    } else {
      Inflate(bytes, m.Data, m.Data + m.Packed, 4 * kRead, &xml, kRead);
    }
    const std::string_view text(reinterpret_cast<const char*>(xml.data()), xml.size());
    std::size_t open = text.find("<dc:title");
    if (open == std::string_view::npos || (open = text.find('>', open)) == std::string_view::npos) return {};
    if (text[open - 1] == '/') return {};  // <dc:title/>
    const std::size_t close = text.find("</dc:title>", open);
    if (close == std::string_view::npos) return {};
    return content::CleanTitle(content::MarkupText(text.substr(open + 1, std::min<std::size_t>(close - open - 1, 1024))));
  }
  return {};
}

}  // namespace

bool ZipStarts(TBytes head) {
  // A local entry of a version, name length and method a writer uses.
  if (!HeadIs(head, kLocal) || head.size() < 30 || ReadU16(head, 4) > 63) return false;
  const std::uint16_t method = ReadU16(head, 8), nameLength = ReadU16(head, 26);
  constexpr std::uint16_t kMethods[] = {0, 8, 9, 12, 14, 93, 95, 98, 99};
  return nameLength > 0 && nameLength <= 1024 && std::find(std::begin(kMethods), std::end(kMethods), method) != std::end(kMethods);
}

TContentMeasure MeasureZip(TSourceReader& bytes, std::uint64_t maxBytes) {
  if (!ZipStarts(bytes.Span(0, std::min<std::uint64_t>(bytes.Size(), 30)))) return Result(TContentVerdict::NotThisType, 0);
  const std::uint64_t limit = std::min(bytes.Size(), maxBytes);
  std::uint64_t at = 0;
  TZipKind kind;
  int members = 0;
  std::vector<TZipMember> listed;
  // The local entries, each followed by its data (and, where the sizes came after the data,
  // a descriptor).
  while (bytes.Equals(at, kLocal)) {
    if (!bytes.Has(at, 30)) return CutOff(bytes, maxBytes, "ZIP");
    const std::uint16_t flags = bytes.U16Le(at + 6), method = bytes.U16Le(at + 8);
    std::uint64_t packed = bytes.U32Le(at + 18), size = bytes.U32Le(at + 22);
    std::uint32_t crc = bytes.U32Le(at + 14);
    const std::uint16_t nameLength = bytes.U16Le(at + 26), extraLength = bytes.U16Le(at + 28);
    const TBytes nameBytes = bytes.Span(at + 30, nameLength);
    const std::string name(reinterpret_cast<const char*>(nameBytes.data()), nameBytes.size());
    // Zip64: the sizes are in the extra field.
    if (packed == 0xFFFFFFFFu) {
      for (std::uint64_t e = at + 30 + nameLength; e + 4 <= at + 30 + nameLength + extraLength;) {
        const std::uint16_t id = bytes.U16Le(e), extraSize = bytes.U16Le(e + 2);
        if (id == 0x0001 && extraSize >= 16) size = bytes.U64Le(e + 4), packed = bytes.U64Le(e + 12);
        e += 4 + extraSize;
      }
    }
    const std::uint64_t data = at + 30 + nameLength + extraLength;
    if (data > limit) return CutOff(bytes, maxBytes, "ZIP");
    kind.Note(name, bytes, data, static_cast<std::uint32_t>(std::min<std::uint64_t>(packed, UINT32_MAX)), method == 0);
    if ((flags & 0x08) && packed == 0) {
      // The sizes follow the data: the descriptor is the first one whose size is the
      // distance from the data.
      std::uint64_t from = data;
      bool found = false;
      while (const auto d = bytes.Find(from, limit, kDescriptor)) {
        if (bytes.U32Le(*d + 8) == *d - data) {
          at = *d + 16;
          packed = *d - data;
          crc = bytes.U32Le(*d + 4);
          size = bytes.U32Le(*d + 12);
          found = true;
          break;
        }
        from = *d + 1;
      }
      if (!found) return CutOff(bytes, maxBytes, "ZIP");
    } else {
      if (packed > limit - data) return CutOff(bytes, maxBytes, "ZIP");
      at = data + packed;
      if (flags & 0x08) {
        const bool signature = bytes.Equals(at, kDescriptor);
        crc = bytes.U32Le(at + (signature ? 4 : 0));
        size = bytes.U32Le(at + (signature ? 12 : 8));
        at += signature ? 16 : 12;
      }
    }
    if (at > limit) return CutOff(bytes, maxBytes, "ZIP");
    if (listed.size() < 65536) listed.push_back({name, flags, method, data, packed, size, crc});
    ++members;
  }
  if (members == 0) return Result(TContentVerdict::NotThisType, 0);
  // The central directory: one entry per member.
  const std::uint64_t central = at;
  int entries = 0;
  while (bytes.Equals(at, kCentral)) {
    if (!bytes.Has(at, 46)) return CutOff(bytes, maxBytes, "ZIP");
    at += 46 + static_cast<std::uint64_t>(bytes.U16Le(at + 28)) + bytes.U16Le(at + 30) + bytes.U16Le(at + 32);
    ++entries;
  }
  if (bytes.Equals(at, kEnd64)) {
    const std::uint64_t size = bytes.U64Le(at + 4);
    if (size > limit - at) return CutOff(bytes, maxBytes, "ZIP");
    at += 12 + size;
  }
  if (bytes.Equals(at, kLocator64)) at += 20;
  if (!bytes.Equals(at, kEnd)) {
    if (!bytes.Has(at, 4)) return CutOff(bytes, maxBytes, "ZIP");
    return Result(TContentVerdict::Damaged, at, "The ZIP archive's directory breaks off after " +
                                                    std::to_string(entries) + " of its members");
  }
  if (!bytes.Has(at, 22)) return CutOff(bytes, maxBytes, "ZIP");
  TContentMeasure m;
  m.Length = at + 22 + bytes.U16Le(at + 20);
  if (m.Length > limit) return CutOff(bytes, maxBytes, "ZIP");
  m.Extension = kind.Extension;
  if (!kind.Extension.empty()) m.Title = ZipDocumentTitle(bytes, listed);
  const std::uint32_t directoryAt = bytes.U32Le(at + 16);
  const std::uint16_t total = bytes.U16Le(at + 10);
  if (entries != members || (total != 0xFFFF && total != entries)) {
    m.Verdict = TContentVerdict::Damaged;
    m.Reason = "The ZIP archive lists " + std::to_string(total) + " members, " + std::to_string(members) + " are there";
  } else if (directoryAt != 0xFFFFFFFFu && directoryAt != central) {
    m.Verdict = TContentVerdict::Damaged;
    m.Reason = "The ZIP archive's directory is not where the archive says";
  } else {
    m.Verdict = TContentVerdict::Whole;
    // Each member's data unpacked and checked against its CRC-32.
    std::uint64_t budget = kZipCheckBytes;
    for (const TZipMember& member : listed) {
      m.Reason = ZipMemberDamage(bytes, member, budget);
      if (m.Reason.empty()) continue;
      m.Verdict = TContentVerdict::Damaged;
      break;
    }
  }
  return m;
}

bool SqliteStarts(TBytes head) { return HeadIs(head, std::string_view("SQLite format 3\0", 16)); }

TContentMeasure MeasureSqlite(TSourceReader& bytes, std::uint64_t maxBytes) {
  if (!bytes.Has(0, 100) || !SqliteStarts(bytes.Span(0, 16))) return Result(TContentVerdict::NotThisType, 0);
  const std::uint16_t field = bytes.U16Be(16);
  const std::uint32_t pageSize = field == 1 ? 65536u : field;
  if (pageSize < 512 || !std::has_single_bit(pageSize)) return Result(TContentVerdict::NotThisType, 0);
  // The page count is kept only while the "valid for" number is the change counter.
  const std::uint32_t pages = bytes.U32Be(28);
  if (pages == 0 || bytes.U32Be(92) != bytes.U32Be(24))
    return Result(TContentVerdict::Damaged, std::min<std::uint64_t>(pageSize, bytes.Size()),
                  "The SQLite database does not record its size");
  const std::uint64_t length = static_cast<std::uint64_t>(pageSize) * pages;
  if (length > maxBytes) return Result(TContentVerdict::NotThisType, 0);
  if (!bytes.Has(0, length)) return CutOff(bytes, maxBytes, "SQLite");
  return Result(TContentVerdict::Whole, length);
}

namespace {
// The forms of RIFF a scan lists, with the chunk each must start with.
struct TRiffForm {
  std::string_view Form, FirstChunk, Extension;
};
constexpr TRiffForm kRiffForms[] = {
    {"WAVE", "fmt ", "wav"}, {"AVI ", "LIST", "avi"}, {"WEBP", "VP8", "webp"}};

const TRiffForm* RiffFormOf(TBytes head) {
  if (head.size() < 16 || std::memcmp(head.data(), "RIFF", 4) != 0) return nullptr;
  for (const TRiffForm& f : kRiffForms)
    if (std::memcmp(head.data() + 8, f.Form.data(), 4) == 0 &&
        std::memcmp(head.data() + 12, f.FirstChunk.data(), f.FirstChunk.size()) == 0)
      return &f;
  return nullptr;
}
}  // namespace

namespace {
bool RiffFormStarts(TBytes head, std::string_view form) {
  const TRiffForm* f = RiffFormOf(head);
  return f && f->Form == form && ReadU32(head, 4) >= 12;
}
}  // namespace

bool WavStarts(TBytes head) { return RiffFormStarts(head, "WAVE"); }
bool AviStarts(TBytes head) { return RiffFormStarts(head, "AVI "); }
bool WebpStarts(TBytes head) { return RiffFormStarts(head, "WEBP"); }

TContentMeasure MeasureRiff(TSourceReader& bytes, std::uint64_t maxBytes) {
  const TBytes head = bytes.Span(0, std::min<std::uint64_t>(bytes.Size(), 16));
  const TRiffForm* form = RiffFormOf(head);
  if (!form || ReadU32(head, 4) < 12) return Result(TContentVerdict::NotThisType, 0);
  // A chunk of odd size is padded to an even one.
  const std::uint64_t size = ReadU32(head, 4), length = 8 + size + (size & 1);
  if (length > maxBytes) return Result(TContentVerdict::NotThisType, 0);
  if (!bytes.Has(0, length)) {
    // A writer that left out the last chunk's pad byte.
    if (size & 1 && bytes.Has(0, length - 1)) return Result(TContentVerdict::Whole, length - 1);
    return CutOff(bytes, maxBytes, "RIFF");
  }
  // The chunks inside must add up to the size.
  for (std::uint64_t at = 12; at < 8 + size;) {
    if (!bytes.Has(at, 8)) break;
    const std::uint64_t chunk = bytes.U32Le(at + 4);
    at += 8 + chunk + (chunk & 1);
    if (at > 8 + size + 1)
      return Result(TContentVerdict::Damaged, length, "A RIFF chunk runs past the file's end");
  }
  TContentMeasure m = Result(TContentVerdict::Whole, length);
  m.Extension = std::string(form->Extension);
  return m;
}

// ---- GZIP ----

namespace {
// What one member may unpack to before the scan stops following it: a bound on work.
constexpr std::uint64_t kMaxGzipOutput = 64ull << 30;
}  // namespace

bool GzipStarts(TBytes head) {
  // Deflate, no reserved flag, the extra flags and the systems a writer sets.
  return head.size() >= 10 && ReadU8(head, 0) == 0x1F && ReadU8(head, 1) == 0x8B && ReadU8(head, 2) == 8 &&
         (ReadU8(head, 3) & 0xE0) == 0 && (ReadU8(head, 8) == 0 || ReadU8(head, 8) == 2 || ReadU8(head, 8) == 4) &&
         (ReadU8(head, 9) <= 13 || ReadU8(head, 9) == 255);
}

TContentMeasure MeasureGzip(TSourceReader& bytes, std::uint64_t maxBytes) {
  const std::uint64_t limit = std::min(bytes.Size(), maxBytes);
  std::uint64_t at = 0;
  std::string title;
  for (int member = 1;; ++member) {
    const TBytes head = bytes.Span(at, 10);
    if (!GzipStarts(head)) {
      if (member == 1) return Result(TContentVerdict::NotThisType, 0);
      break;  // the next bytes are another file's
    }
    const std::uint8_t flags = ReadU8(head, 3);
    std::uint64_t p = at + 10;
    if (flags & 4) {  // extra field
      if (!bytes.Has(p, 2)) return CutOff(bytes, maxBytes, "GZIP");
      p += 2 + bytes.U16Le(p);
    }
    for (const std::uint8_t text : {std::uint8_t{8}, std::uint8_t{16}}) {  // name, comment: to a NUL
      if (!(flags & text)) continue;
      const auto nul = bytes.FindByte(p, std::min(limit, p + 65536), 0);
      if (!nul) {
        if (member == 1 && bytes.Has(p, 65536)) return Result(TContentVerdict::NotThisType, 0);
        return CutOff(bytes, maxBytes, "GZIP");
      }
      if (text == 8 && member == 1) {
        const TBytes name = bytes.Span(p, static_cast<std::size_t>(std::min<std::uint64_t>(*nul - p, 512)));
        title = content::CleanTitle(content::Latin1ToUtf8(name));
      }
      p = *nul + 1;
    }
    if (flags & 2) {  // the header's own CRC: the low half of its CRC-32
      if (!bytes.Has(at, p + 2 - at)) return CutOff(bytes, maxBytes, "GZIP");
      std::uint32_t crc = kCrc32Start;
      for (std::uint64_t q = at; q < p;) {
        const auto n = static_cast<std::size_t>(std::min<std::uint64_t>(TSourceReader::kMaxSpan, p - q));
        crc = Crc32Update(crc, bytes.Span(q, n));
        q += n;
      }
      if ((Crc32Finish(crc) & 0xFFFF) != bytes.U16Le(p)) {
        if (member == 1) return Result(TContentVerdict::NotThisType, 0);
        break;
      }
      p += 2;
    }
    if (p > limit) return CutOff(bytes, maxBytes, "GZIP");
    const TInflateResult data = Inflate(bytes, p, limit, kMaxGzipOutput);
    using TStatus = TInflateResult::TStatus;
    if (data.Status == TStatus::Short) return CutOff(bytes, maxBytes, "GZIP");
    if (data.Status == TStatus::Broken) {
      if (member == 1 && data.End - p < 16) return Result(TContentVerdict::NotThisType, 0);
      return Result(TContentVerdict::Damaged, data.End,
                    "GZIP member " + std::to_string(member) + "'s compressed data is broken: " + data.Reason);
    }
    if (data.Status == TStatus::TooLong)
      return Result(TContentVerdict::Damaged, data.End, "GZIP member " + std::to_string(member) + " unpacks to more than the scan follows");
    if (!bytes.Has(data.End, 8) || data.End + 8 > limit) return CutOff(bytes, maxBytes, "GZIP");
    at = data.End + 8;
    if (bytes.U32Le(data.End) != data.Crc32)
      return Result(TContentVerdict::Damaged, at, "GZIP member " + std::to_string(member) + " fails its CRC");
    if (bytes.U32Le(data.End + 4) != static_cast<std::uint32_t>(data.Size))
      return Result(TContentVerdict::Damaged, at, "GZIP member " + std::to_string(member) + " is not the size it says");
    if (member >= 4096) break;
  }
  TContentMeasure m = Result(TContentVerdict::Whole, at);
  m.Title = std::move(title);
  return m;
}

// ---- 7z ----

namespace {
constexpr std::string_view k7zSignature("7z\xBC\xAF\x27\x1C", 6);

std::uint32_t CrcOf(TSourceReader& bytes, std::uint64_t at, std::uint64_t n) {
  std::uint32_t crc = kCrc32Start;
  for (std::uint64_t p = at; p < at + n;) {
    const auto k = static_cast<std::size_t>(std::min<std::uint64_t>(TSourceReader::kMaxSpan, at + n - p));
    crc = Crc32Update(crc, bytes.Span(p, k));
    p += k;
  }
  return Crc32Finish(crc);
}
}  // namespace

bool SevenZipStarts(TBytes head) { return HeadIs(head, k7zSignature) && head.size() >= 8 && ReadU8(head, 6) == 0; }

TContentMeasure MeasureSevenZip(TSourceReader& bytes, std::uint64_t maxBytes) {
  if (!SevenZipStarts(bytes.Span(0, 8))) return Result(TContentVerdict::NotThisType, 0);
  if (!bytes.Has(0, 32)) return CutOff(bytes, maxBytes, "7z");
  const bool startHolds = CrcOf(bytes, 12, 20) == bytes.U32Le(8);
  const std::uint64_t offset = bytes.U64Le(12), size = bytes.U64Le(20);
  const std::uint32_t crc = bytes.U32Le(28);
  if (offset > maxBytes || size > maxBytes || 32 + offset + size > maxBytes || size > (1u << 30))
    return startHolds ? CutOff(bytes, maxBytes, "7z") : Result(TContentVerdict::NotThisType, 0);
  const std::uint64_t length = 32 + offset + size;
  if (!bytes.Has(0, length)) return startHolds ? CutOff(bytes, maxBytes, "7z") : Result(TContentVerdict::NotThisType, 0);
  // The header: plain (0x01) or itself packed (0x17); an empty archive has none.
  const std::uint8_t kind = bytes.U8(32 + offset);
  const bool headerHolds = size == 0 ? offset == 0 : CrcOf(bytes, 32 + offset, size) == crc && (kind == 0x01 || kind == 0x17);
  if (!startHolds) {
    // Where the header still holds, only the start header's own bytes are wrong.
    if (!headerHolds || size == 0) return Result(TContentVerdict::NotThisType, 0);
    return Result(TContentVerdict::Damaged, length, "The 7z archive's start header fails its CRC");
  }
  if (!headerHolds) return Result(TContentVerdict::Damaged, length, "The 7z archive's header fails its CRC");
  return Result(TContentVerdict::Whole, length);
}

}  // namespace restovo
