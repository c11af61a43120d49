#include "recovery/Wildcard.h"

#include <string>

#include "records/TypesDefine.h"

namespace restovo {

namespace {

// Code points with ASCII letters upper-cased, so "?" stands for a whole character.
void FoldInto(std::string_view text, std::u32string& out) {
  out.clear();
  bool ascii = true;
  for (const char c : text) ascii = ascii && static_cast<unsigned char>(c) < 0x80;
  if (ascii) {
    // Most names: no UTF-16 detour.
    out.reserve(text.size());
    for (const char c : text) out.push_back(c >= 'a' && c <= 'z' ? static_cast<char32_t>(c - 32) : static_cast<char32_t>(c));
    return;
  }
  const std::u16string units = Utf8ToUtf16(text);
  out.reserve(units.size());
  for (std::size_t i = 0; i < units.size(); ++i) {
    char32_t c = units[i];
    if (c >= 0xD800 && c <= 0xDBFF && i + 1 < units.size()) {
      c = 0x10000 + ((c - 0xD800) << 10) + (units[++i] - 0xDC00);
    } else if (c >= U'a' && c <= U'z') {
      c -= 32;
    }
    out.push_back(c);
  }
}

std::u32string Folded(std::string_view text) {
  std::u32string out;
  FoldInto(text, out);
  return out;
}

bool MatchFolded(const std::u32string& p, const std::u32string& n) {
  std::size_t i = 0, j = 0;
  std::size_t nameBack = std::u32string::npos, patternBack = std::u32string::npos;
  bool star = false;  // in the star step
  while (true) {
    if (!star) {
      if (j == p.size()) {
        if (i == n.size()) return true;
        if (nameBack == std::u32string::npos || patternBack == std::u32string::npos) return false;
        i = nameBack;
        j = patternBack;
        star = true;
      } else if (p[j] == U'*') {
        patternBack = ++j;
        star = true;
      } else if (p[j] == U'?') {
        if (i == n.size()) return false;
        ++i;
        ++j;
      } else if (i < n.size() && n[i] == p[j]) {
        ++i;
        ++j;
      } else if (i == n.size() || nameBack == std::u32string::npos ||
                 patternBack == std::u32string::npos) {
        return false;
      } else {
        i = nameBack;
        j = patternBack;
        star = true;
      }
    } else {
      if (j == p.size()) return true;
      if (p[j] == U'*') {
        patternBack = ++j;
      } else if (p[j] == U'?') {
        if (i == n.size()) return false;
        ++i;
        ++j;
      } else {
        while (i < n.size() && n[i] != p[j]) ++i;
        if (i == n.size()) return false;
        nameBack = ++i;
        ++j;
        star = false;
      }
    }
  }
}

}  // namespace

bool MatchWildcard(std::string_view pattern, std::string_view name) {
  return MatchFolded(Folded(pattern), Folded(name));
}

TNamePatterns::TNamePatterns(const std::vector<std::string>& patterns) {
  Patterns.reserve(patterns.size());
  for (const std::string& p : patterns) Patterns.push_back(Folded(p));
}

bool TNamePatterns::Matches(std::string_view name) const {
  if (Patterns.empty()) return true;
  // One buffer per thread: a filter over a million names allocates nothing per name.
  thread_local std::u32string folded;
  FoldInto(name, folded);
  for (const std::u32string& p : Patterns)
    if (MatchFolded(p, folded)) return true;
  return false;
}

bool IsFilterTextValid(std::string_view keyword) {
  return keyword.find_first_of("/;:,\"<>\\") == std::string_view::npos;
}

std::vector<std::string> KeywordPatterns(std::string_view keyword) {
  std::vector<std::string> patterns;
  if (keyword.find("*.*") != std::string_view::npos) return patterns;
  auto lower = [](std::string s) {
    for (char& c : s)
      if (c >= 'A' && c <= 'Z') c = static_cast<char>(c + 32);
    return s;
  };
  auto wild = [](std::string_view s) { return s.find_first_of("*?") != std::string_view::npos; };
  std::size_t start = 0;
  while (true) {
    const std::size_t bar = keyword.find('|', start);
    const std::string_view piece = keyword.substr(start, bar == std::string_view::npos ? keyword.npos : bar - start);
    if (bar == std::string_view::npos) {
      patterns.push_back(lower(wild(piece) ? std::string(piece) : "*" + std::string(piece) + "*"));
      return patterns;
    }
    patterns.push_back(lower(std::string(piece)) + (wild(piece) ? "" : "*"));
    start = bar + 1;
  }
}

TFileItems FilterByPatterns(std::string_view keyword, const TFileItems& list) {
  const TNamePatterns patterns(KeywordPatterns(keyword));
  if (patterns.Empty()) return list;
  TFileItems kept;
  for (TFileInfo* record : list)
    if (record && patterns.Matches(record->Name)) kept.push_back(record);
  return kept;
}

}  // namespace restovo
