// What the content parsers share: the start test by a fixed text, and their results.
#pragma once

#include <algorithm>
#include <cstring>
#include <string>
#include <string_view>
#include <utility>

#include "content/ContentTypes.h"

namespace restovo::content {

inline bool HeadIs(TBytes head, std::string_view text) {
  return head.size() >= text.size() && std::memcmp(head.data(), text.data(), text.size()) == 0;
}

inline TContentMeasure Result(TContentVerdict verdict, std::uint64_t length, std::string reason = {}) {
  TContentMeasure m;
  m.Verdict = verdict;
  m.Length = length;
  m.Reason = std::move(reason);
  return m;
}

// The bytes end before the structure does: all of them, as far as a file of the kind goes.
inline TContentMeasure CutOff(TSourceReader& bytes, std::uint64_t maxBytes, std::string_view kind) {
  return Result(TContentVerdict::Truncated, std::min(bytes.Size(), maxBytes),
                "The " + std::string(kind) + " data ends before the file's end");
}

// Appends a code point as UTF-8; surrogate halves and code points past Unicode's last
// become U+FFFD.
inline void AppendUtf8(std::string& out, char32_t c) {
  if ((c >= 0xD800 && c < 0xE000) || c > 0x10FFFF) c = 0xFFFD;
  if (c < 0x80) {
    out += static_cast<char>(c);
  } else if (c < 0x800) {
    out += static_cast<char>(0xC0 | c >> 6);
    out += static_cast<char>(0x80 | (c & 0x3F));
  } else if (c < 0x10000) {
    out += static_cast<char>(0xE0 | c >> 12);
    out += static_cast<char>(0x80 | (c >> 6 & 0x3F));
    out += static_cast<char>(0x80 | (c & 0x3F));
  } else {
    out += static_cast<char>(0xF0 | c >> 18);
    out += static_cast<char>(0x80 | (c >> 12 & 0x3F));
    out += static_cast<char>(0x80 | (c >> 6 & 0x3F));
    out += static_cast<char>(0x80 | (c & 0x3F));
  }
}

inline std::string Latin1ToUtf8(TBytes text) {
  std::string out;
  for (std::byte b : text) AppendUtf8(out, static_cast<std::uint8_t>(b));
  return out;
}

// UTF-16 text (little- or big-endian) as UTF-8, to its first NUL.
inline std::string Utf16ToUtf8(TBytes text, bool bigEndian) {
  std::string out;
  auto unit = [&](std::size_t at) -> char32_t {
    return bigEndian ? static_cast<char32_t>(ReadU8(text, at) << 8 | ReadU8(text, at + 1)) : ReadU16(text, at);
  };
  for (std::size_t at = 0; at + 1 < text.size(); at += 2) {
    char32_t c = unit(at);
    if (c == 0) break;
    if (c >= 0xD800 && c < 0xDC00 && at + 3 < text.size()) {
      const char32_t low = unit(at + 2);
      if (low >= 0xDC00 && low < 0xE000) {
        c = 0x10000 + ((c - 0xD800) << 10) + (low - 0xDC00);
        at += 2;
      }
    }
    AppendUtf8(out, c);
  }
  return out;
}

// Markup's text as it reads: the character references and the entities of XML (and HTML's
// &nbsp;) replaced, line ends and tabs as spaces.
inline std::string MarkupText(std::string_view text) {
  static constexpr std::pair<std::string_view, char32_t> kEntities[] = {
      {"&amp;", '&'}, {"&lt;", '<'}, {"&gt;", '>'}, {"&quot;", '"'}, {"&apos;", '\''}, {"&nbsp;", 0xA0}};
  std::string out;
  for (std::size_t k = 0; k < text.size();) {
    const char c = text[k];
    if (c == '&') {
      bool replaced = false;
      for (const auto& [entity, value] : kEntities)
        if (text.substr(k, entity.size()) == entity) {
          AppendUtf8(out, value);
          k += entity.size();
          replaced = true;
          break;
        }
      const std::size_t semicolon = text.find(';', k);
      if (!replaced && text.substr(k, 2) == "&#" && semicolon != std::string_view::npos && semicolon - k <= 10) {
        const bool hex = k + 2 < text.size() && (text[k + 2] == 'x' || text[k + 2] == 'X');
        char32_t v = 0;
        bool digits = semicolon > k + (hex ? 3 : 2);
        for (std::size_t d = k + (hex ? 3 : 2); d < semicolon && digits; ++d) {
          const char h = text[d];
          const int n = h >= '0' && h <= '9' ? h - '0' : hex && h >= 'a' && h <= 'f' ? h - 'a' + 10
                                                       : hex && h >= 'A' && h <= 'F' ? h - 'A' + 10 : -1;
          if (n < 0 || v > 0x10FFFF) digits = false;
          else v = v * (hex ? 16 : 10) + static_cast<char32_t>(n);
        }
        if (digits) {
          AppendUtf8(out, v);
          k = semicolon + 1;
          replaced = true;
        }
      }
      if (replaced) continue;
    }
    out += c == '\n' || c == '\r' || c == '\t' ? ' ' : c;
    ++k;
  }
  return out;
}

// A title the content gives, as a name may carry it: to its first NUL, without control
// characters or the spaces around it, at most kMaxTitle bytes (cut at a whole character).
inline constexpr std::size_t kMaxTitle = 120;
inline std::string CleanTitle(std::string_view text) {
  text = text.substr(0, text.find('\0'));
  std::string out;
  for (std::size_t k = 0; k < text.size(); ++k) {
    const auto u = static_cast<unsigned char>(text[k]);
    if (u < 0x20 || u == 0x7F) continue;
    // The C1 controls, U+0080 to U+009F.
    if (u == 0xC2 && k + 1 < text.size() && static_cast<unsigned char>(text[k + 1]) < 0xA0 &&
        static_cast<unsigned char>(text[k + 1]) >= 0x80) {
      ++k;
      continue;
    }
    out += text[k];
  }
  const std::size_t first = out.find_first_not_of(' ');
  if (first == std::string::npos) return {};
  out.erase(0, first);
  out.erase(out.find_last_not_of(' ') + 1);
  if (out.size() > kMaxTitle) {
    std::size_t cut = kMaxTitle;
    while (cut > 0 && (static_cast<unsigned char>(out[cut]) & 0xC0) == 0x80) --cut;
    out.resize(cut);
    out.erase(out.find_last_not_of(' ') + 1);
  }
  return out;
}

}  // namespace restovo::content
