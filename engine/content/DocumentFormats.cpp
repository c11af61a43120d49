#include "content/DocumentFormats.h"

#include <algorithm>
#include <cstring>
#include <optional>
#include <string>
#include <vector>

#include "content/MeasureResults.h"

namespace restovo {

using content::Result;

namespace {

bool IsSpace(std::uint8_t c) { return c == ' ' || c == '\r' || c == '\n' || c == '\t' || c == '\f' || c == 0; }
bool IsDigit(std::uint8_t c) { return c >= '0' && c <= '9'; }

// Whether an object ("12 0 obj") or a cross-reference table ("xref") starts at `at`.
bool RevisionStartsAt(TSourceReader& bytes, std::uint64_t at) {
  if (bytes.Equals(at, "xref")) return true;
  std::uint64_t p = at;
  for (int part = 0; part < 2; ++part) {
    const std::uint64_t digits = p;
    while (p < digits + 10 && IsDigit(bytes.U8(p))) ++p;
    if (p == digits || bytes.U8(p) != ' ') return false;
    ++p;
  }
  return bytes.Equals(p, "obj");
}

// A number in the text at `at`, moving `at` past it; nullopt without a digit there.
std::optional<std::uint64_t> PdfNumber(TSourceReader& bytes, std::uint64_t& at) {
  const std::uint64_t first = at;
  std::uint64_t n = 0;
  while (at < first + 12 && IsDigit(bytes.U8(at))) n = n * 10 + (bytes.U8(at++) - '0');
  if (at == first) return std::nullopt;
  return n;
}

void SkipSpace(TSourceReader& bytes, std::uint64_t& at) {
  for (int k = 0; k < 64 && IsSpace(bytes.U8(at)) && bytes.Has(at, 1); ++k) ++at;
}

// Where object `number` starts, by the cross-reference table at `table` (the last
// revision's), or 0 when it does not list it.
std::uint64_t PdfObjectAt(TSourceReader& bytes, std::uint64_t table, std::uint64_t number) {
  if (!bytes.Equals(table, "xref")) return 0;
  std::uint64_t at = table + 4;
  for (int sections = 0; sections < 1024; ++sections) {
    SkipSpace(bytes, at);
    const auto first = PdfNumber(bytes, at);
    SkipSpace(bytes, at);
    const auto count = PdfNumber(bytes, at);
    if (!first || !count) return 0;
    while (bytes.U8(at) == ' ' || bytes.U8(at) == '\r' || bytes.U8(at) == '\n') ++at;
    if (number >= *first && number - *first < *count) {
      std::uint64_t entry = at + 20 * (number - *first);
      const auto offset = PdfNumber(bytes, entry);
      return offset && bytes.U8(entry + 7) == 'n' ? *offset : 0;
    }
    if (*count > (1u << 24)) return 0;
    at += 20 * *count;
  }
  return 0;
}

// A string object at `at`, literal "(...)" or hex "<...>", as its bytes.
std::string PdfStringAt(TSourceReader& bytes, std::uint64_t at) {
  std::string out;
  const TBytes span = bytes.Span(at, static_cast<std::size_t>(std::min<std::uint64_t>(bytes.Size() - std::min(bytes.Size(), at), 2048)));
  const std::string_view s(reinterpret_cast<const char*>(span.data()), span.size());
  if (s.empty()) return out;
  if (s[0] == '<') {
    int high = -1;
    for (std::size_t k = 1; k < s.size() && s[k] != '>'; ++k) {
      const char c = s[k];
      const int v = c >= '0' && c <= '9' ? c - '0' : c >= 'a' && c <= 'f' ? c - 'a' + 10 : c >= 'A' && c <= 'F' ? c - 'A' + 10 : -1;
      if (v < 0) continue;
      if (high < 0) high = v;
      else out += static_cast<char>(high << 4 | v), high = -1;
    }
    return out;
  }
  if (s[0] != '(') return out;
  int depth = 1;
  for (std::size_t k = 1; k < s.size(); ++k) {
    char c = s[k];
    if (c == '\\' && k + 1 < s.size()) {
      c = s[++k];
      if (c >= '0' && c <= '7') {
        int v = 0;
        for (int d = 0; d < 3 && k < s.size() && s[k] >= '0' && s[k] <= '7'; ++d) v = v * 8 + (s[k++] - '0');
        --k;
        out += static_cast<char>(v);
        continue;
      }
      switch (c) {
        case 'n': out += '\n'; break;
        case 'r': out += '\r'; break;
        case 't': out += '\t'; break;
        case 'b': out += '\b'; break;
        case 'f': out += '\f'; break;
        case '\r': case '\n': break;  // a line continued
        default: out += c;
      }
      continue;
    }
    if (c == '(') ++depth;
    if (c == ')' && --depth == 0) break;
    out += c;
  }
  return out;
}

// The /Title of the document's Info dictionary, where the last revision's trailer points
// at it, its cross-reference table lists it and it is not packed into a stream.
std::string PdfTitle(TSourceReader& bytes, std::uint64_t table, std::uint64_t lastEof) {
  // The last "/Info" of the trailer before the last "%%EOF".
  const std::uint64_t from = lastEof > 4096 ? lastEof - 4096 : 0;
  const auto info = [&]() -> std::optional<std::uint64_t> {
    std::optional<std::uint64_t> last;
    for (auto hit = bytes.Find(from, lastEof, "/Info"); hit; hit = bytes.Find(*hit + 1, lastEof, "/Info")) last = hit;
    return last;
  }();
  if (!info) return {};
  std::uint64_t at = *info + 5;
  SkipSpace(bytes, at);
  const auto number = PdfNumber(bytes, at);
  SkipSpace(bytes, at);
  const auto generation = PdfNumber(bytes, at);
  SkipSpace(bytes, at);
  if (!number || !generation || bytes.U8(at) != 'R') return {};
  const std::uint64_t object = PdfObjectAt(bytes, table, *number);
  const std::string head = std::to_string(*number) + " " + std::to_string(*generation) + " obj";
  if (object == 0 || !bytes.Equals(object, head)) return {};
  const auto title = bytes.Find(object, std::min(lastEof, object + 4096), "/Title");
  const auto close = bytes.Find(object, std::min(lastEof, object + 65536), "endobj");
  if (!title || (close && *close < *title)) return {};
  at = *title + 6;
  SkipSpace(bytes, at);
  const std::string raw = PdfStringAt(bytes, at);
  const TBytes text = AsBytes(raw.data(), raw.size());
  if (raw.size() >= 2 && static_cast<std::uint8_t>(raw[0]) == 0xFE && static_cast<std::uint8_t>(raw[1]) == 0xFF)
    return content::CleanTitle(content::Utf16ToUtf8(text.subspan(2), true));
  if (raw.size() >= 3 && raw.compare(0, 3, "\xEF\xBB\xBF") == 0) return content::CleanTitle(raw.substr(3));
  return content::CleanTitle(content::Latin1ToUtf8(text));
}

}  // namespace

bool PdfStarts(TBytes head) {
  return head.size() >= 8 && std::memcmp(head.data(), "%PDF-", 5) == 0 && (head[5] == std::byte{'1'} || head[5] == std::byte{'2'}) &&
         head[6] == std::byte{'.'} && IsDigit(static_cast<std::uint8_t>(head[7]));
}

TContentMeasure MeasurePdf(TSourceReader& bytes, std::uint64_t maxBytes) {
  if (!PdfStarts(bytes.Span(0, std::min<std::uint64_t>(bytes.Size(), 8)))) return Result(TContentVerdict::NotThisType, 0);
  const std::uint64_t limit = std::min(bytes.Size(), maxBytes);
  const TContentMeasure cutOff = Result(TContentVerdict::Truncated, limit, "The PDF data ends before the file's end");
  std::uint64_t end = 0, lastEof = 0;
  auto eof = bytes.Find(8, limit, "%%EOF");
  if (!eof) return cutOff;
  while (true) {
    end = *eof + 5;
    lastEof = *eof;
    // The end of line after the mark belongs to the file.
    for (int k = 0; k < 2 && end < limit && (bytes.U8(end) == '\r' || bytes.U8(end) == '\n'); ++k) ++end;
    // What follows: space and comment lines (a writer may repeat its header), then an
    // object or a table when a revision was appended.
    std::uint64_t next = end;
    for (int lines = 0; next < limit && lines < 8;) {
      if (IsSpace(bytes.U8(next))) {
        ++next;
      } else if (bytes.U8(next) == '%' && !bytes.Equals(next, "%%EOF")) {
        const auto line = bytes.FindByte(next, std::min(limit, next + 256), '\n');
        if (!line) break;
        next = *line + 1;
        ++lines;
      } else {
        break;
      }
    }
    if (!RevisionStartsAt(bytes, next)) break;
    // An appended revision's trailer points back at the one before (/Prev); a file that
    // merely follows this one on the disk does not.
    const auto following = bytes.Find(next, limit, "%%EOF");
    if (!following) return cutOff;
    const std::uint64_t back = *following > 2048 ? std::max(next, *following - 2048) : next;
    if (!bytes.Find(back, *following, "/Prev")) break;
    eof = following;
  }
  // "startxref", the table's offset and the mark close the revision.
  const std::uint64_t back = lastEof > 64 ? lastEof - 64 : 0;
  const TBytes tail = bytes.Span(back, static_cast<std::size_t>(lastEof - back));
  const std::string_view text(reinterpret_cast<const char*>(tail.data()), tail.size());
  const std::size_t word = text.rfind("startxref");
  if (word == std::string_view::npos) return Result(TContentVerdict::Damaged, end, "The PDF's last revision has no startxref");
  std::uint64_t table = 0;
  std::size_t k = word + 9;
  while (k < text.size() && IsSpace(static_cast<std::uint8_t>(text[k]))) ++k;
  const std::size_t firstDigit = k;
  while (k < text.size() && IsDigit(static_cast<std::uint8_t>(text[k])) && k < firstDigit + 15)
    table = table * 10 + static_cast<std::uint64_t>(text[k++] - '0');
  if (k == firstDigit || table >= end || !RevisionStartsAt(bytes, table))
    return Result(TContentVerdict::Damaged, end, "The PDF's cross-reference table is not where the file says");
  TContentMeasure m = Result(TContentVerdict::Whole, end);
  m.Title = PdfTitle(bytes, table, lastEof);
  return m;
}

// ---- Compound files ----

namespace {

constexpr std::string_view kCompoundSignature("\xD0\xCF\x11\xE0\xA1\xB1\x1A\xE1", 8);
constexpr std::uint32_t kFree = 0xFFFFFFFFu, kEndOfChain = 0xFFFFFFFEu, kMaxRegular = 0xFFFFFFFAu;

struct TCompound {
  explicit TCompound(TSourceReader& bytes) : Bytes(bytes) {}
  TSourceReader& Bytes;
  std::uint32_t SectorSize = 512;
  std::vector<std::uint32_t> Fat, MiniFat;
  std::uint32_t MiniStreamStart = kEndOfChain;
  std::uint64_t MiniStreamSize = 0;

  std::uint64_t SectorAt(std::uint32_t sid) const { return (static_cast<std::uint64_t>(sid) + 1) * SectorSize; }

  // The sectors of a chain, at most `most` of them; empty when it leaves the table or loops
  // (a chain longer than the table has sectors).
  std::vector<std::uint32_t> Chain(std::uint32_t start, std::uint64_t most, const std::vector<std::uint32_t>& table) const {
    std::vector<std::uint32_t> out;
    for (std::uint32_t sid = start; sid != kEndOfChain && out.size() < most;) {
      if (sid >= table.size() || out.size() >= table.size()) return {};
      out.push_back(sid);
      sid = table[sid];
    }
    return out;
  }

  // The first `size` bytes of a stream (at most 64 KiB of them), from the sectors or the
  // mini stream as its size says.
  std::vector<std::byte> Stream(std::uint32_t start, std::uint64_t size, bool mini) {
    size = std::min<std::uint64_t>(size, 65536);
    std::vector<std::byte> out;
    const std::uint64_t unit = mini ? 64 : SectorSize;
    const std::vector<std::uint32_t> chain = Chain(start, (size + unit - 1) / unit, mini ? MiniFat : Fat);
    const std::vector<std::uint32_t> container =
        mini ? Chain(MiniStreamStart, (MiniStreamSize + SectorSize - 1) / SectorSize, Fat) : std::vector<std::uint32_t>{};
    for (const std::uint32_t sid : chain) {
      std::uint64_t at = SectorAt(sid);
      if (mini) {
        const std::uint64_t inStream = static_cast<std::uint64_t>(sid) * 64;
        if (inStream / SectorSize >= container.size()) return {};
        at = SectorAt(container[inStream / SectorSize]) + inStream % SectorSize;
      }
      const TBytes piece = Bytes.Span(at, static_cast<std::size_t>(std::min<std::uint64_t>(unit, size - out.size())));
      if (piece.empty()) return {};
      out.insert(out.end(), piece.begin(), piece.end());
    }
    return out;
  }
};

// The title (property 2) of a SummaryInformation property set, or empty.
std::string SummaryTitle(TBytes set) {
  if (ReadU16(set, 0) != 0xFFFE || ReadU32(set, 24) == 0) return {};
  const std::uint32_t section = ReadU32(set, 44);
  const std::uint32_t count = ReadU32(set, section + 4);
  std::uint32_t codepage = 1252, title = 0;
  for (std::uint32_t k = 0; k < std::min<std::uint32_t>(count, 256); ++k) {
    const std::uint32_t id = ReadU32(set, section + 8 + 8 * k), at = section + ReadU32(set, section + 12 + 8 * k);
    if (id == 1 && ReadU32(set, at) == 2) codepage = ReadU16(set, at + 4);
    if (id == 2) title = at;
  }
  if (title == 0 || title >= set.size()) return {};
  const std::uint32_t type = ReadU32(set, title), n = std::min<std::uint32_t>(ReadU32(set, title + 4), 512);
  const std::size_t text = static_cast<std::size_t>(title) + 8;
  if (text >= set.size()) return {};
  const TBytes value = set.subspan(text, std::min<std::size_t>(set.size() - text, type == 0x1F ? 2ull * n : n));
  if (type == 0x1F) return content::CleanTitle(content::Utf16ToUtf8(value, false));
  if (type != 0x1E) return {};
  const std::string_view raw(reinterpret_cast<const char*>(value.data()), value.size());
  return content::CleanTitle(codepage == 65001 ? std::string(raw) : content::Latin1ToUtf8(value));
}

// Where a writer's tools expect them: the class of an installer database, patch and transform.
std::string_view CompoundClassExtension(TBytes clsid) {
  static constexpr std::uint8_t kMsi[16] = {0x84, 0x10, 0x0C, 0, 0, 0, 0, 0, 0xC0, 0, 0, 0, 0, 0, 0, 0x46};
  if (clsid.size() != 16 || std::memcmp(clsid.data() + 1, kMsi + 1, 15) != 0) return {};
  switch (ReadU8(clsid, 0)) {
    case 0x84: return "msi";
    case 0x86: return "msp";
    case 0x82: return "mst";
    default: return {};
  }
}

}  // namespace

bool CompoundStarts(TBytes head) {
  if (head.size() < 32 || std::memcmp(head.data(), kCompoundSignature.data(), 8) != 0) return false;
  const std::uint16_t major = ReadU16(head, 0x1A), shift = ReadU16(head, 0x1E);
  return ReadU16(head, 0x1C) == 0xFFFE && ((major == 3 && shift == 9) || (major == 4 && shift == 12));
}

TContentMeasure MeasureCompound(TSourceReader& bytes, std::uint64_t maxBytes) {
  if (!CompoundStarts(bytes.Span(0, 32))) return Result(TContentVerdict::NotThisType, 0);
  if (!bytes.Has(0, 512)) return content::CutOff(bytes, maxBytes, "OLE");
  TCompound c(bytes);
  c.SectorSize = 1u << bytes.U16Le(0x1E);
  const std::uint32_t fatSectors = bytes.U32Le(0x2C), firstDirectory = bytes.U32Le(0x30);
  const std::uint32_t firstMiniFat = bytes.U32Le(0x3C), miniFatSectors = bytes.U32Le(0x40);
  std::uint32_t difat = bytes.U32Le(0x44);
  const std::uint32_t perSector = c.SectorSize / 4;
  // More table sectors than the bytes followed could hold is no file's.
  if (fatSectors == 0 || fatSectors > maxBytes / c.SectorSize / perSector + 1 || bytes.U16Le(0x20) != 6)
    return Result(TContentVerdict::NotThisType, 0);
  // The table's sectors: 109 in the header, the rest in the DIFAT chain.
  std::vector<std::uint32_t> tableSectors;
  for (std::uint32_t k = 0; k < 109 && tableSectors.size() < fatSectors; ++k) tableSectors.push_back(bytes.U32Le(0x4C + 4 * k));
  for (std::uint32_t steps = 0; tableSectors.size() < fatSectors; ++steps) {
    if (difat > kMaxRegular || steps > fatSectors) return Result(TContentVerdict::NotThisType, 0);
    const std::uint64_t at = c.SectorAt(difat);
    if (at >= maxBytes) return Result(TContentVerdict::NotThisType, 0);
    if (!bytes.Has(at, c.SectorSize)) return content::CutOff(bytes, maxBytes, "OLE");
    for (std::uint32_t k = 0; k + 1 < perSector && tableSectors.size() < fatSectors; ++k)
      tableSectors.push_back(bytes.U32Le(at + 4 * k));
    difat = bytes.U32Le(at + 4 * (perSector - 1));
  }
  std::uint64_t end = c.SectorSize;  // the header's sector
  for (const std::uint32_t sid : tableSectors) {
    if (sid > kMaxRegular) return Result(TContentVerdict::NotThisType, 0);
    const std::uint64_t at = c.SectorAt(sid);
    if (at >= maxBytes) return Result(TContentVerdict::NotThisType, 0);
    if (!bytes.Has(at, c.SectorSize)) return content::CutOff(bytes, maxBytes, "OLE");
    for (std::uint32_t k = 0; k < perSector; ++k) c.Fat.push_back(bytes.U32Le(at + 4 * k));
  }
  // The file ends with the last sector in use.
  for (std::size_t sid = c.Fat.size(); sid-- > 0;) {
    if (c.Fat[sid] == kFree) continue;
    end = std::max(end, c.SectorAt(static_cast<std::uint32_t>(sid)) + c.SectorSize);
    break;
  }
  if (end > maxBytes) return Result(TContentVerdict::NotThisType, 0);
  if (!bytes.Has(0, end)) return content::CutOff(bytes, maxBytes, "OLE");
  // The directory: its names tell the kind of document.
  const std::vector<std::uint32_t> directory = c.Chain(firstDirectory, c.Fat.size(), c.Fat);
  if (directory.empty())
    return Result(TContentVerdict::Damaged, end, "The OLE file's directory is not where its header says");
  for (const std::uint32_t sid : c.Chain(firstMiniFat, miniFatSectors, c.Fat))
    for (std::uint32_t k = 0; k < perSector; ++k) c.MiniFat.push_back(bytes.U32Le(c.SectorAt(sid) + 4 * k));
  const bool version4 = c.SectorSize == 4096;
  std::string extension, title;
  std::uint32_t summary = kEndOfChain;
  std::uint64_t summarySize = 0;
  const std::uint32_t entriesPerSector = c.SectorSize / 128;
  for (std::size_t s = 0; s < directory.size(); ++s) {
    for (std::uint32_t k = 0; k < entriesPerSector; ++k) {
      const std::uint64_t e = c.SectorAt(directory[s]) + 128ull * k;
      const std::uint8_t type = bytes.U8(e + 0x42);
      const std::uint16_t nameBytes = std::min<std::uint16_t>(bytes.U16Le(e + 0x40), 64);
      const std::string name = content::Utf16ToUtf8(bytes.Span(e, nameBytes), false);
      const std::uint32_t start = bytes.U32Le(e + 0x74);
      const std::uint64_t size = version4 ? bytes.U64Le(e + 0x78) : bytes.U32Le(e + 0x78);
      if (type == 5 && s == 0 && k == 0) {  // the root: its mini stream, and its class
        c.MiniStreamStart = start;
        c.MiniStreamSize = size;
        extension = CompoundClassExtension(bytes.Span(e + 0x50, 16));
      }
      if (type != 2) continue;
      if (extension.empty()) {
        if (name == "WordDocument") extension = "doc";
        else if (name == "Workbook" || name == "Book") extension = "xls";
        else if (name == "PowerPoint Document") extension = "ppt";
        else if (name.rfind("__substg1.0_", 0) == 0) extension = "msg";
      }
      if (name == "\x05SummaryInformation") summary = start, summarySize = size;
    }
  }
  if (summary != kEndOfChain) {
    const std::vector<std::byte> set = c.Stream(summary, summarySize, summarySize < bytes.U32Le(0x38));
    title = SummaryTitle(set);
  }
  TContentMeasure m = Result(TContentVerdict::Whole, end);
  m.Extension = extension;
  m.Title = std::move(title);
  return m;
}

}  // namespace restovo
