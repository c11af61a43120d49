// What the content parsers share: the start test by a fixed text, and their results.
#pragma once

#include <algorithm>
#include <cstring>
#include <string>
#include <string_view>

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

}  // namespace restovo::content
