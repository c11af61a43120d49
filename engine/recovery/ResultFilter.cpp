#include "recovery/ResultFilter.h"

#include <exception>
#include <string>
#include <utility>

#include "recovery/Wildcard.h"

namespace restovo {

namespace {

std::string_view Trimmed(std::string_view text) {
  constexpr std::string_view kBlanks = " \t\n\r\v\f";
  const std::size_t first = text.find_first_not_of(kBlanks);
  if (first == std::string_view::npos) return {};
  return text.substr(first, text.find_last_not_of(kBlanks) - first + 1);
}

}  // namespace

TResultFilter::TResultFilter(AFilterResult categories) : Categories(std::move(categories)) {}

bool TResultFilter::KeywordNarrows(std::string_view keyword) {
  const std::string_view k = Trimmed(keyword);
  return !k.empty() && k != "File or folder name";
}

TFileItems TResultFilter::ByKeyword(std::string_view keyword, const TFileItems& list) {
  if (!KeywordNarrows(keyword)) return list;
  const std::string_view k = Trimmed(keyword);
  if (k.find('(') != std::string_view::npos || !IsFilterTextValid(k)) return list;
  try {
    return FilterByPatterns(k, list);
  } catch (const std::exception&) {
    return list;
  }
}

TFileItems TResultFilter::ByCategory(int category, const TFileItems& list) const {
  if (!IsNarrowingCategory(category) || static_cast<std::size_t>(category) >= Categories.size()) return list;
  TFileItems kept;
  kept.reserve(list.size());
  for (TFileInfo* record : list) {
    if (!record) continue;
    if (record->IsFolder || CategoryOf(Categories, record->Name) == category) kept.push_back(record);
  }
  return kept;
}

}  // namespace restovo
