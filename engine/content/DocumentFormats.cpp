#include "content/DocumentFormats.h"

#include <algorithm>
#include <cstring>

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
  return Result(TContentVerdict::Whole, end);
}

}  // namespace restovo
