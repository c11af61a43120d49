#include "recovery/Wildcard.h"

#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

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


TEST(Wildcard, KeywordPatterns) {
  using V = std::vector<std::string>;
  EXPECT_EQ(KeywordPatterns("report"), V{"*report*"});
  EXPECT_EQ(KeywordPatterns("Cat|DOG"), (V{"cat*", "*dog*"}));
  EXPECT_EQ(KeywordPatterns("*.JPG"), V{"*.jpg"});
  EXPECT_EQ(KeywordPatterns("a?c|x"), (V{"a?c", "*x*"}));
  EXPECT_EQ(KeywordPatterns("|"), (V{"*", "**"}));  // empty pieces match every name
  EXPECT_EQ(KeywordPatterns("*.mp3|*.wav|*.wma|*.mid"), (V{"*.mp3", "*.wav", "*.wma", "*.mid"}));
  EXPECT_TRUE(KeywordPatterns("a*.*b").empty());  // "*.*" anywhere: everything
  EXPECT_TRUE(KeywordPatterns("*.*").empty());
}

TEST(Wildcard, FilterTextValidity) {
  for (const char* bad : {"a/b", "a;b", "a:b", "a,b", "a\"b", "a<b", "a>b", "a\\b"})
    EXPECT_FALSE(IsFilterTextValid(bad)) << bad;
  for (const char* good : {"cat", "*.jpg|*.png", "a b-c_d(e)", "日本"})
    EXPECT_TRUE(IsFilterTextValid(good)) << good;
}

TEST(Wildcard, FilterByPatternsKeepsOrderAndListsOnce) {
  std::vector<std::unique_ptr<TFileInfo>> owned;
  TFileItems list;
  for (const char* name : {"Cat.jpg", "dog.txt", "Concatenate.doc", "catalog", "hotdog.png", "bird"}) {
    owned.push_back(NewFileInfo());
    owned.back()->Name = name;
    list.push_back(owned.back().get());
  }
  owned[3]->IsFolder = true;  // folders are matched by name like files
  list.insert(list.begin() + 2, nullptr);
  auto names = [](const TFileItems& items) {
    std::vector<std::string> out;
    for (const TFileInfo* r : items) out.push_back(r ? r->Name : "(null)");
    return out;
  };
  using V = std::vector<std::string>;
  EXPECT_EQ(names(FilterByPatterns("cat", list)), (V{"Cat.jpg", "Concatenate.doc", "catalog"}));
  // "cat*" and "*dog*": "catalog" matches the first only, "hotdog.png" the second; a name
  // matching both patterns would still be listed once.
  EXPECT_EQ(names(FilterByPatterns("cat|dog", list)), (V{"Cat.jpg", "dog.txt", "catalog", "hotdog.png"}));
  EXPECT_EQ(names(FilterByPatterns("c|cat", list)), (V{"Cat.jpg", "Concatenate.doc", "catalog"}));
  EXPECT_EQ(names(FilterByPatterns("*.JPG", list)), V{"Cat.jpg"});
  EXPECT_EQ(FilterByPatterns("x*.*", list).size(), list.size());  // the whole view, nulls included
  EXPECT_TRUE(FilterByPatterns("zebra", list).empty());
}

}  // namespace
}  // namespace restovo
