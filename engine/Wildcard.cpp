#include "Wildcard.h"

#include <string>

#include "TypesDefine.h"

namespace restovo {

namespace {

// Code points with ASCII letters upper-cased, so "?" stands for a whole character.
std::u32string Folded(std::string_view text) {
  const std::u16string units = Utf8ToUtf16(text);
  std::u32string out;
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
  return out;
}

}  // namespace

bool MatchWildcard(std::string_view pattern, std::string_view name) {
  const std::u32string p = Folded(pattern);
  const std::u32string n = Folded(name);
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

}  // namespace restovo
