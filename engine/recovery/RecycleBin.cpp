#include "recovery/RecycleBin.h"

#include <algorithm>

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

}  // namespace restovo
