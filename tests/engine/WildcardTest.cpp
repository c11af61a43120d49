#include "Wildcard.h"

#include <gtest/gtest.h>

namespace restovo {
namespace {

TEST(Wildcard, Matches) {
  struct Case {
    const char* pattern;
    const char* name;
    bool match;
  };
  const Case cases[] = {
      {"*.jpg", "IMG_0001.JPG", true},
      {"*.jpg", "IMG_0001.JPG.txt", false},
      {"img_????.jpg", "IMG_0001.JPG", true},
      {"img_???.jpg", "IMG_0001.JPG", false},
      {"*report*", "Quarterly Report Q1.txt", true},
      {"ab*", "abc", true},
      {"ab*", "xabc", false},
      {"**", "", true},
      {"*", "anything", true},
      {"", "", true},
      {"", "a", false},
      {"a*b*c", "axxbyyc", true},
      {"a*b*c", "axxbyy", false},
      {"*a*a", "banana", true},  // needs the backtrack to the last "a"
      {"*?AB", "ZAAB", false},   // "?" after "*" is taken at once and not retried
      {"*?AB", "ZXAB", true},
      {"?", "é", true},          // one character, not one byte
      {"*.TXT", "Übersicht café.txt", true},
      {"ü*", "Übersicht", false},  // only ASCII letters fold
  };
  for (const Case& c : cases)
    EXPECT_EQ(MatchWildcard(c.pattern, c.name), c.match) << c.pattern << " ~ " << c.name;
}

}  // namespace
}  // namespace restovo
