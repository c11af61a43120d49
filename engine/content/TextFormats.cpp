#include "content/TextFormats.h"

#include <algorithm>
#include <cstring>
#include <string>
#include <vector>

#include "content/MeasureResults.h"

namespace restovo {

using content::CutOff;
using content::HeadIs;
using content::Result;

namespace {

constexpr std::string_view kBom("\xEF\xBB\xBF", 3);

// Whether a byte may stand in a text file: not a NUL or another control than tab, line
// feed, form feed and carriage return.
bool IsTextByte(std::uint8_t c) { return c >= 0x20 || c == '\t' || c == '\n' || c == '\r' || c == '\f'; }

char Lower(char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c; }

bool HeadIsNoCase(TBytes head, std::size_t at, std::string_view text) {
  if (head.size() < at + text.size()) return false;
  for (std::size_t k = 0; k < text.size(); ++k)
    if (Lower(static_cast<char>(head[at + k])) != text[k]) return false;
  return true;
}

bool IsSpace(char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\n' || c == '\f'; }
bool IsNameChar(char c) {
  return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '-' || c == '_' || c == '.' ||
         c == ':' || static_cast<unsigned char>(c) >= 0x80;
}

// Reads the text from the file's first byte, a piece at a time, stopping at the first byte
// that is no text's. Byte(at) is valid for at < End.
class TTextRun {
 public:
  TTextRun(TSourceReader& bytes, std::uint64_t from, std::uint64_t limit)
      : Bytes(bytes), Limit(limit), End(from), PieceAt(from) {}

  // Whether byte `at` is text; false past the run's end (see Ended, Broken).
  bool Has(std::uint64_t at) {
    while (at >= End && !Stopped) Extend();
    return at < End;
  }
  char Byte(std::uint64_t at) { return static_cast<char>(Piece[static_cast<std::size_t>(at - PieceAt)]); }
  // Reads byte `at` when Has(at): in order, from the piece kept.
  char At(std::uint64_t at) {
    if (at < PieceAt || at >= PieceAt + Piece.size()) Load(at);
    return Byte(at);
  }
  // The run ended at a byte that is no text's (not at the end of the bytes).
  bool Broken() const { return Stopped && !ShortOfBytes; }
  std::uint64_t EndOfText() const { return End; }

 private:
  void Extend() {
    const std::uint64_t from = End;
    if (from >= Limit) {
      Stopped = true;
      ShortOfBytes = true;
      return;
    }
    const auto n = static_cast<std::size_t>(std::min<std::uint64_t>(Limit - from, 4096));
    TBytes b = Bytes.Span(from, n);
    if (b.empty()) {
      // Fewer are there: the last bytes one by one.
      if (!Bytes.Has(from, 1)) {
        Stopped = true;
        ShortOfBytes = true;
        return;
      }
      b = Bytes.Span(from, 1);
    }
    std::size_t k = 0;
    while (k < b.size() && IsTextByte(static_cast<std::uint8_t>(b[k]))) ++k;
    End = from + k;
    if (k < b.size()) Stopped = true;
  }
  void Load(std::uint64_t at) {
    PieceAt = at;
    const TBytes b = Bytes.Span(at, static_cast<std::size_t>(std::min<std::uint64_t>(End - at, 4096)));
    Piece.assign(b.begin(), b.end());
  }

  TSourceReader& Bytes;
  const std::uint64_t Limit;
  std::uint64_t End;
  bool Stopped = false, ShortOfBytes = false;
  std::uint64_t PieceAt;
  std::vector<std::byte> Piece;
};

// The verdict where the text stops before its structure closes.
TContentMeasure TextStops(TTextRun& run, TSourceReader& bytes, std::uint64_t maxBytes, std::string_view kind,
                          std::string_view what) {
  if (!run.Broken()) return CutOff(bytes, maxBytes, kind);
  // Text of a few bytes, then other bytes: only the start looked like one.
  if (run.EndOfText() < 64) return Result(TContentVerdict::NotThisType, 0);
  return Result(TContentVerdict::Damaged, run.EndOfText(),
                "The " + std::string(kind) + " text breaks off before " + std::string(what));
}

// The line end after the structure's last character belongs to the file.
std::uint64_t WithLineEnd(TTextRun& run, std::uint64_t end) {
  if (run.Has(end) && run.At(end) == '\r') ++end;
  if (run.Has(end) && run.At(end) == '\n') ++end;
  return end;
}

// Whether `text` (lower case) stands at `at`, in any case.
bool TextAt(TTextRun& run, std::uint64_t at, std::string_view text) {
  for (std::size_t k = 0; k < text.size(); ++k)
    if (!run.Has(at + k) || Lower(run.At(at + k)) != text[k]) return false;
  return true;
}

}  // namespace

// ---- RTF ----

bool RtfStarts(TBytes head) { return HeadIs(head, "{\\rtf"); }

TContentMeasure MeasureRtf(TSourceReader& bytes, std::uint64_t maxBytes) {
  if (!RtfStarts(bytes.Span(0, 5))) return Result(TContentVerdict::NotThisType, 0);
  const std::uint64_t limit = std::min(bytes.Size(), maxBytes);
  std::uint64_t depth = 0, at = 0;
  // The text, and after each "\bin" the data it counts (which need not be text).
  for (bool more = true; more;) {
    more = false;
    TTextRun run(bytes, at, limit);
    while (!more) {
      if (!run.Has(at)) return TextStops(run, bytes, maxBytes, "RTF", "its last brace");
      const char c = run.At(at);
      if (c == '{') {
        ++depth;
        ++at;
      } else if (c == '}') {
        ++at;
        if (--depth == 0) return Result(TContentVerdict::Whole, WithLineEnd(run, at));
      } else if (c == '\\' && TextAt(run, at + 1, "bin") && run.Has(at + 4) && run.At(at + 4) >= '0' && run.At(at + 4) <= '9') {
        std::uint64_t n = 0, p = at + 4;
        for (; run.Has(p) && run.At(p) >= '0' && run.At(p) <= '9' && p < at + 14; ++p)
          n = n * 10 + static_cast<std::uint64_t>(run.At(p) - '0');
        if (run.Has(p) && run.At(p) == ' ') ++p;
        if (n > limit - std::min(limit, p) || !bytes.Has(p, n)) return CutOff(bytes, maxBytes, "RTF");
        at = p + n;
        more = true;
      } else {
        at += c == '\\' ? 2 : 1;  // an escaped character ("\{") is no brace
      }
    }
  }
  return CutOff(bytes, maxBytes, "RTF");
}

// ---- XML and HTML ----

namespace {

constexpr std::uint64_t kNone = ~std::uint64_t{0};

// The first place from `from` where `text` (lower case) stands, in any case; kNone when the
// text ends first.
std::uint64_t FindText(TTextRun& run, std::uint64_t from, std::string_view text) {
  for (std::uint64_t at = from; run.Has(at); ++at)
    if (Lower(run.At(at)) == text[0] && TextAt(run, at, text)) return at;
  return kNone;
}

// The end of the tag whose '<' is at `at`: after its '>', over quoted attribute values.
// Sets selfClosing when it ends in "/>".
std::uint64_t TagEnd(TTextRun& run, std::uint64_t at, bool& selfClosing) {
  char quote = 0;
  for (std::uint64_t p = at + 1; run.Has(p); ++p) {
    const char c = run.At(p);
    if (quote) {
      if (c == quote) quote = 0;
    } else if (c == '"' || c == '\'') {
      quote = c;
    } else if (c == '>') {
      selfClosing = run.At(p - 1) == '/';
      return p + 1;
    } else if (c == '<') {
      return kNone;
    }
  }
  return kNone;
}

// Whether the tag at `at` ("<name" or "</name") names `name`: the name ends there.
bool TagNames(TTextRun& run, std::uint64_t at, std::string_view name) {
  for (std::size_t k = 0; k < name.size(); ++k)
    if (!run.Has(at + k) || run.At(at + k) != name[k]) return false;
  if (!run.Has(at + name.size())) return false;
  const char after = run.At(at + name.size());
  return IsSpace(after) || after == '>' || after == '/';
}

std::string_view RootExtension(std::string_view root) {
  const std::size_t colon = root.find(':');
  const std::string_view local = colon == std::string_view::npos ? root : root.substr(colon + 1);
  if (local == "svg") return "svg";
  if (local == "rss") return "rss";
  if (local == "plist") return "plist";
  if (local == "gpx") return "gpx";
  if (local == "kml") return "kml";
  if (local == "html") return "html";
  return {};
}

}  // namespace

bool XmlStarts(TBytes head) {
  const std::size_t at = HeadIs(head, kBom) ? 3 : 0;
  return head.size() >= at + 6 && HeadIs(head.subspan(at), "<?xml") && IsSpace(static_cast<char>(head[at + 5]));
}

TContentMeasure MeasureXml(TSourceReader& bytes, std::uint64_t maxBytes) {
  const TBytes head = bytes.Span(0, static_cast<std::size_t>(std::min<std::uint64_t>(bytes.Size(), 9)));
  if (!XmlStarts(head)) return Result(TContentVerdict::NotThisType, 0);
  TTextRun run(bytes, 0, std::min(bytes.Size(), maxBytes));
  std::uint64_t at = HeadIs(head, kBom) ? 3 : 0;
  // The prolog: the declaration, processing instructions, comments, the document type.
  std::string root;
  for (int parts = 0; root.empty(); ++parts) {
    while (run.Has(at) && IsSpace(run.At(at))) ++at;
    if (!run.Has(at)) return TextStops(run, bytes, maxBytes, "XML", "its root element");
    if (run.At(at) != '<' || parts > 1000) return Result(TContentVerdict::NotThisType, 0);
    std::uint64_t next = kNone;
    if (TextAt(run, at, "<?")) {
      next = FindText(run, at + 2, "?>");
      if (next != kNone) next += 2;
    } else if (TextAt(run, at, "<!--")) {
      next = FindText(run, at + 4, "-->");
      if (next != kNone) next += 3;
    } else if (TextAt(run, at, "<!doctype")) {
      // To its '>', over an internal subset in brackets.
      int brackets = 0;
      for (std::uint64_t p = at + 9; run.Has(p); ++p) {
        const char c = run.At(p);
        if (c == '[') ++brackets;
        else if (c == ']') --brackets;
        else if (c == '>' && brackets <= 0) {
          next = p + 1;
          break;
        }
      }
    } else {
      for (std::uint64_t p = at + 1; run.Has(p) && IsNameChar(run.At(p)) && root.size() < 256; ++p) root += run.At(p);
      if (root.empty()) return Result(TContentVerdict::NotThisType, 0);
      break;
    }
    if (next == kNone) return TextStops(run, bytes, maxBytes, "XML", "its root element");
    at = next;
  }
  // The root element, to its closing tag: elements of the same name inside it are counted.
  std::uint64_t depth = 0;
  while (true) {
    if (!run.Has(at)) return TextStops(run, bytes, maxBytes, "XML", "its root element closes");
    if (run.At(at) != '<') {
      ++at;
      continue;
    }
    std::uint64_t next = kNone;
    if (TextAt(run, at, "<!--")) {
      next = FindText(run, at + 4, "-->");
      if (next != kNone) next += 3;
    } else if (TextAt(run, at, "<![cdata[")) {
      next = FindText(run, at + 9, "]]>");
      if (next != kNone) next += 3;
    } else if (run.Has(at + 1) && run.At(at + 1) == '/' && TagNames(run, at + 2, root)) {
      bool selfClosing = false;
      next = TagEnd(run, at, selfClosing);
      if (next != kNone && --depth == 0) {
        TContentMeasure m = Result(TContentVerdict::Whole, WithLineEnd(run, next));
        m.Extension = RootExtension(root);
        return m;
      }
    } else if (TagNames(run, at + 1, root)) {
      bool selfClosing = false;
      next = TagEnd(run, at, selfClosing);
      if (next != kNone && !selfClosing) ++depth;
      if (next != kNone && selfClosing && depth == 0) {
        TContentMeasure m = Result(TContentVerdict::Whole, WithLineEnd(run, next));
        m.Extension = RootExtension(root);
        return m;
      }
    } else {
      next = at + 1;
    }
    if (next == kNone) return TextStops(run, bytes, maxBytes, "XML", "its root element closes");
    at = next;
  }
}

bool HtmlStarts(TBytes head) {
  const std::size_t at = HeadIs(head, kBom) ? 3 : 0;
  if (HeadIsNoCase(head, at, "<!doctype html")) return true;
  return HeadIsNoCase(head, at, "<html") && head.size() > at + 5 &&
         (IsSpace(static_cast<char>(head[at + 5])) || head[at + 5] == std::byte{'>'});
}

TContentMeasure MeasureHtml(TSourceReader& bytes, std::uint64_t maxBytes) {
  const TBytes head = bytes.Span(0, static_cast<std::size_t>(std::min<std::uint64_t>(bytes.Size(), 17)));
  if (!HtmlStarts(head)) return Result(TContentVerdict::NotThisType, 0);
  TTextRun run(bytes, 0, std::min(bytes.Size(), maxBytes));
  std::string title;
  for (std::uint64_t at = 0;;) {
    const std::uint64_t tag = FindText(run, at, "</html");
    if (tag == kNone) return TextStops(run, bytes, maxBytes, "HTML", "its closing </html>");
    bool selfClosing = false;
    const std::uint64_t end = TagEnd(run, tag, selfClosing);
    if (end == kNone) return TextStops(run, bytes, maxBytes, "HTML", "its closing </html>");
    if (!IsSpace(run.At(tag + 6)) && run.At(tag + 6) != '>') {  // "</htmlfoo>"
      at = tag + 1;
      continue;
    }
    // The page's title, in its head.
    const std::uint64_t open = FindText(run, 0, "<title");
    if (open != kNone && open < tag) {
      const std::uint64_t text = TagEnd(run, open, selfClosing);
      const std::uint64_t close = text == kNone ? kNone : FindText(run, text, "</title");
      if (close != kNone && close < tag) {
        std::string raw;
        for (std::uint64_t p = text; p < std::min(close, text + 512); ++p) raw += run.At(p);
        title = content::CleanTitle(content::MarkupText(raw));
      }
    }
    TContentMeasure m = Result(TContentVerdict::Whole, WithLineEnd(run, end));
    m.Title = std::move(title);
    return m;
  }
}

}  // namespace restovo
