// The narrowing of a result list by the search box's keyword or by a file category,
// without any view: the window decides when to filter and what to show, this decides
// which records stay.
#pragma once

#include <string_view>

#include "recovery/FileCategories.h"
#include "records/TypesDefine.h"

namespace restovo {

class TResultFilter {
 public:
  // The categories whose masks the category filter reads (their file lists are not used).
  explicit TResultFilter(AFilterResult categories = CreateCategories());

  // Whether a keyword narrows anything: not when it is empty or blank once trimmed, nor
  // the old hint text "File or folder name". Such a keyword shows the whole list.
  static bool KeywordNarrows(std::string_view keyword);

  // The records of list whose names match the keyword (trimmed) as the search box reads
  // it; the whole list for a keyword that narrows nothing, one holding "(" or a character
  // no file name holds, or one whose matching fails.
  static TFileItems ByKeyword(std::string_view keyword, const TFileItems& list);

  // The folders of list (so that the user can still walk down) and the files of the
  // category, in list order; null entries go. The list as it is when category is not one
  // of the six narrowing categories (-1, "All Files" or beyond).
  TFileItems ByCategory(int category, const TFileItems& list) const;

  // Whether category is one of the six that narrow a list.
  static bool IsNarrowingCategory(int category) { return category >= 0 && category < catAllFiles; }

 private:
  AFilterResult Categories;
};

}  // namespace restovo
