// The name matcher and the keyword filter of the search box, shared with
// restovo-cli restore --match.
#pragma once

#include <string>
#include <string_view>
#include <vector>

#include "records/TypesDefine.h"

namespace restovo {

// "*" any run of characters, "?" one character, anything else itself; ASCII letters match
// either case; the whole name must match. A "?" right after a "*" is taken at once and not
// retried, so "*?AB" does not match "ZAAB".
bool MatchWildcard(std::string_view pattern, std::string_view name);

// Patterns prepared once and matched against many names; a name matches when any pattern
// does. With no pattern every name matches.
class TNamePatterns {
 public:
  TNamePatterns() = default;
  explicit TNamePatterns(const std::vector<std::string>& patterns);
  bool Matches(std::string_view name) const;
  bool Empty() const { return Patterns.empty(); }

 private:
  std::vector<std::u32string> Patterns;
};

// A keyword of the search box may not hold any of / ; : , " < > \ .
bool IsFilterTextValid(std::string_view keyword);

// The patterns a keyword stands for: pieces split at "|"; each piece before the last
// without "*" or "?" becomes "piece*" (names starting with it), the last one "*piece*"
// (names containing it). Empty when the keyword holds "*.*": everything matches.
std::vector<std::string> KeywordPatterns(std::string_view keyword);

// The records of list whose names match the keyword's patterns, in list order, each once.
// Folders are matched by their names like files.
TFileItems FilterByPatterns(std::string_view keyword, const TFileItems& list);

}  // namespace restovo
