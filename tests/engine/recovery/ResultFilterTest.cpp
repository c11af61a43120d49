#include "recovery/ResultFilter.h"

#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

namespace restovo {
namespace {

// A folder's view: files and folders by name ("/" at the end marks a folder), with a
// null entry among them as a damaged list may hold.
struct TView {
  std::vector<std::unique_ptr<TFileInfo>> Owned;
  TFileItems Items;
  explicit TView(std::initializer_list<const char*> names) {
    for (std::string name : names) {
      Owned.push_back(NewFileInfo());
      if (name.ends_with('/')) {
        name.pop_back();
        Owned.back()->IsFolder = true;
      }
      Owned.back()->Name = name;
      Items.push_back(Owned.back().get());
    }
    Items.insert(Items.begin() + 1, nullptr);
  }
};

std::vector<std::string> Names(const TFileItems& items) {
  std::vector<std::string> out;
  for (const TFileInfo* r : items) out.push_back(r ? r->Name : "(null)");
  return out;
}

using V = std::vector<std::string>;

TEST(ResultFilter, KeywordsThatNarrowAndKeywordsThatShowEverything) {
  const TView view{"Cat.jpg", "dog.txt", "song.MP3", "x.mp3/", "catalog/"};
  const V all = Names(view.Items);
  struct Case {
    const char* keyword;
    bool narrows;
    V shown;
  };
  const Case cases[] = {
      {"cat", true, {"Cat.jpg", "catalog"}},
      {"  cat\t", true, {"Cat.jpg", "catalog"}},  // blanks around the keyword do not count
      {"*.mp3", true, {"song.MP3", "x.mp3"}},     // folders are matched by name too
      {"zebra", true, {}},
      {"", false, all},
      {" \t ", false, all},
      {"File or folder name", false, all},  // the old hint text, typed or left in the box
      {"(cat", true, all},                  // "(" or a character no name holds: everything
      {"cat:", true, all},
      {"a\\b", true, all},
      {"*.*", true, all},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(TResultFilter::KeywordNarrows(c.keyword), c.narrows) << '"' << c.keyword << '"';
    EXPECT_EQ(Names(TResultFilter::ByKeyword(c.keyword, view.Items)), c.shown) << '"' << c.keyword << '"';
  }
}

TEST(ResultFilter, CategoriesKeepFoldersAndTheirOwnFiles) {
  const TView view{"song.MP3", "x.mp3/", "photos/", "Cat.jpg", "report.docx", "tune.wav", "noext"};
  const TResultFilter filter;
  EXPECT_EQ(Names(filter.ByCategory(catAudios, view.Items)), (V{"song.MP3", "x.mp3", "photos", "tune.wav"}));
  EXPECT_EQ(Names(filter.ByCategory(catImages, view.Items)), (V{"x.mp3", "photos", "Cat.jpg"}));
  EXPECT_EQ(Names(filter.ByCategory(catDocuments, view.Items)), (V{"x.mp3", "photos", "report.docx"}));
  // No category, "All Files" or a position past the six: the list as it came, nulls too.
  for (int none : {-1, static_cast<int>(catAllFiles), 99})
    EXPECT_EQ(Names(filter.ByCategory(none, view.Items)), Names(view.Items)) << none;
  EXPECT_TRUE(filter.ByCategory(catAudios, {}).empty());
}

}  // namespace
}  // namespace restovo
