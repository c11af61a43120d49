#include "recovery/RecycleBin.h"

#include <algorithm>
#include <unordered_map>

#include "io/ByteOrder.h"
#include "records/TypesDefine.h"

namespace restovo {

std::string ReadRecycleInfoName(std::span<const std::byte> content) {
  std::size_t at = 24;
  std::size_t limit = 512;
  // Version 2 records start with the number 2 and give the path's length in characters
  // (with its NUL) before the path.
  if (content.size() >= 28 && ReadU64(content, 0) == 2) {
    at = 28;
    limit = std::min<std::size_t>(std::size_t{ReadU32(content, 24)} * 2, 65536);
  }
  if (content.size() <= at) return {};
  std::u16string path;
  for (std::size_t i = at; i + 1 < content.size() && i < at + limit; i += 2) {
    const char16_t unit = ReadU16(content, i);
    if (unit == 0) break;
    path.push_back(unit);
  }
  const std::size_t cut = path.find_last_of(u"\\:");
  return MakeSafeName(Utf16ToUtf8(cut == std::u16string::npos ? path : path.substr(cut + 1)));
}

std::size_t NameRecycledFiles(TFileInfo* root, const TRecordReader& read) {
  if (!root || !read) return 0;
  std::size_t renamed = 0;
  std::vector<std::byte> content;
  // Folders are walked with a list, not by recursion: a deep tree cannot overflow the stack.
  std::vector<TFileInfo*> folders;
  if (root->Children)
    for (TFileInfo* child : *root->Children)
      if (child && child->IsFolder) folders.push_back(child);
  while (!folders.empty()) {
    TFileInfo* folder = folders.back();
    folders.pop_back();
    if (!folder->Children) continue;
    std::unordered_map<std::string, TFileInfo*> infos;
    for (TFileInfo* child : *folder->Children) {
      if (!child) continue;
      if (child->IsFolder) folders.push_back(child);
      else if (child->Name.starts_with("$I")) infos.emplace(child->Name, child);
    }
    if (infos.empty()) continue;
    for (TFileInfo* child : *folder->Children) {
      if (!child || !child->Name.starts_with("$R")) continue;
      const auto info = infos.find("$I" + child->Name.substr(2));
      if (info == infos.end() || !read(info->second, content)) continue;
      const std::string original = ReadRecycleInfoName(content);
      if (original.empty()) continue;
      child->Name = original;
      ++renamed;
    }
  }
  return renamed;
}

}  // namespace restovo
