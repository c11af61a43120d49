#include "recovery/FileCategories.h"

#include <algorithm>
#include <string_view>

namespace restovo {

AFilterResult CreateCategories() {
  return {
      {"*.bmp|*.dib|*.gif|*.jpg|*.jpe|*.ico|*.cur|*.png", {}},
      {"*.mp3|*.wav|*.wma|*.mid", {}},
      {"*.mp4|*.mpeg|*.avi|*.swf|*.flv|*.wmv|*.rm|*.rmvb", {}},
      {"*.doc|*.dot|*.xls|*.xlw|*.ppt|*.docx|*.xlsx|*.pptx", {}},
      {"*.zip|*.rar|*.7z|*.|*.bz2|*.gz|*.tar|*.cab", {}},
      {"*.pst|*.eml|*.mab", {}},
      {"", {}},
  };
}

int CategoryOf(const AFilterResult& categories, const std::string& name) {
  const std::size_t dot = name.rfind('.');
  if (dot == std::string::npos) return -1;
  std::string ext = name.substr(dot);
  std::transform(ext.begin(), ext.end(), ext.begin(),
                 [](char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c; });
  // Short extensions would match inside longer mask items (".gz" is not a ".gzip"), so
  // only the two short ones the masks really list count.
  if (ext.size() < 4 && ext != ".rm" && ext != ".7z") return -1;
  // The extension is looked for without its dot, anywhere in a mask: "ocx" lies inside
  // "*.docx", "mpe" inside "*.mpeg".
  const std::string_view bare = std::string_view(ext).substr(1);
  const int last = std::min<int>(static_cast<int>(categories.size()), catAllFiles);
  for (int i = 0; i < last; ++i)
    if (categories[static_cast<std::size_t>(i)].Mask.find(bare) != std::string::npos) return i;
  return -1;
}

}  // namespace restovo
