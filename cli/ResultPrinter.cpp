#include "ResultPrinter.h"

#include <cinttypes>
#include <ctime>

namespace restovo::cli {

std::vector<const TFileInfo*> CollectTree(const TFileInfo* root) {
  std::vector<const TFileInfo*> out;
  if (root == nullptr || !root->Children) return out;
  // Explicit stack: folder trees of damaged volumes can be deep.
  std::vector<std::pair<const TFileItems*, std::size_t>> stack{{root->Children.get(), 0}};
  while (!stack.empty()) {
    auto& [list, next] = stack.back();
    if (next >= list->size()) {
      stack.pop_back();
      continue;
    }
    const TFileInfo* item = (*list)[next++];
    out.push_back(item);
    if (item->Children && !item->Children->empty()) stack.push_back({item->Children.get(), 0});
  }
  return out;
}

std::string ItemPath(const TFileInfo* item) {
  std::vector<const std::string*> names;
  for (const TFileInfo* p = item; p != nullptr; p = p->Parent) names.push_back(&p->Name);
  std::string path;
  for (auto it = names.rbegin(); it != names.rend(); ++it) {
    path += **it;
    const bool top = it == names.rbegin();
    if (!top && (it + 1 != names.rend() || item->IsFolder)) path += '/';
  }
  return path;
}

std::string LocalTimeText(FILETIME time) {
  if (time == 0) return {};
  const TDateTime t = FileTimeToLocalDateTime(time);
  char text[32];
  std::snprintf(text, sizeof text, "%04d-%02d-%02d %02d:%02d:%02d", t.Year, t.Month, t.Day, t.Hour,
                t.Minute, t.Second);
  return text;
}

namespace {

std::string UtcText(FILETIME time) {
  if (time == 0) return "null";
  std::int64_t seconds = 0, nanoseconds = 0;
  FileTimeToUnixTime(time, seconds, nanoseconds);
  const auto t = static_cast<std::time_t>(seconds);
  std::tm tm{};
  gmtime_r(&t, &tm);
  char text[40];
  std::strftime(text, sizeof text, "\"%Y-%m-%dT%H:%M:%SZ\"", &tm);
  return text;
}

std::string JsonString(const std::string& s) {
  std::string out = "\"";
  for (const char c : s) {
    switch (c) {
      case '"': out += "\\\""; break;
      case '\\': out += "\\\\"; break;
      case '\n': out += "\\n"; break;
      case '\r': out += "\\r"; break;
      case '\t': out += "\\t"; break;
      default:
        if (static_cast<unsigned char>(c) < 0x20) {
          char esc[8];
          std::snprintf(esc, sizeof esc, "\\u%04x", static_cast<unsigned>(c));
          out += esc;
        } else {
          out += c;
        }
    }
  }
  return out + "\"";
}

}  // namespace

void PrintTree(std::FILE* out, const std::vector<const TFileInfo*>& items, const TScanSummary& summary) {
  std::fprintf(out, "%-10s %12s  %-19s  %s\n", "State", "Size", "Modified", "Path");
  std::int64_t files = 0, bytes = 0;
  for (const TFileInfo* item : items) {
    const std::string path = ItemPath(item);
    if (item->IsFolder) {
      std::fprintf(out, "%-10s %12s  %-19s  %s%s\n", "", "", LocalTimeText(item->LastWriteTime).c_str(),
                   path.c_str(), item->InUse ? "" : "  (deleted folder)");
      continue;
    }
    ++files;
    bytes += item->Size;
    std::fprintf(out, "%-10s %12s  %-19s  %s\n", RecoverStateText(item->State),
                 FormatFileSize(item->Size).c_str(), LocalTimeText(item->LastWriteTime).c_str(),
                 path.c_str());
  }
  std::fprintf(out, "\n%s%" PRId64 " deleted file%s (%s) found on %s (%s).\n",
               summary.Complete ? "" : "Stopped early: ", files, files == 1 ? "" : "s",
               FormatFileSize(bytes).c_str(), summary.Volume.c_str(), summary.FileSystem.c_str());
}

void PrintJson(std::FILE* out, const std::vector<const TFileInfo*>& items, const TScanSummary& summary) {
  std::fprintf(out, "{\n  \"volume\": %s,\n  \"file_system\": %s,\n  \"complete\": %s,\n  \"items\": [",
               JsonString(summary.Volume).c_str(), JsonString(summary.FileSystem).c_str(),
               summary.Complete ? "true" : "false");
  bool first = true;
  for (const TFileInfo* item : items) {
    std::fprintf(out,
                 "%s\n    {\"path\": %s, \"name\": %s, \"folder\": %s, \"deleted\": %s, \"size\": %" PRId64
                 ", \"state\": %s, \"created\": %s, \"modified\": %s, \"accessed\": %s}",
                 first ? "" : ",", JsonString(ItemPath(item)).c_str(), JsonString(item->Name).c_str(),
                 item->IsFolder ? "true" : "false", item->InUse ? "false" : "true",
                 item->IsFolder ? std::int64_t{0} : item->Size,
                 item->IsFolder ? "null" : JsonString(RecoverStateText(item->State)).c_str(),
                 UtcText(item->CreationTime).c_str(), UtcText(item->LastWriteTime).c_str(),
                 UtcText(item->LastAccessTime).c_str());
    first = false;
  }
  std::fprintf(out, "\n  ]\n}\n");
}

}  // namespace restovo::cli
