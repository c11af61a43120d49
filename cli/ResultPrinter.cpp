#include "ResultPrinter.h"

#include <cinttypes>
#include <ctime>
#include <string>

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

// "2024-07-01T10:30:15Z" (quoted) or null. Written by hand: strftime per time of a
// million items is a good part of the whole run.
std::string UtcText(FILETIME time) {
  if (time == 0) return "null";
  std::int64_t seconds = 0, nanoseconds = 0;
  FileTimeToUnixTime(time, seconds, nanoseconds);
  std::int64_t days = seconds / 86400, rest = seconds % 86400;
  if (rest < 0) rest += 86400, --days;
  // Civil date from days since 1970-01-01 (proleptic Gregorian).
  days += 719468;
  const std::int64_t era = (days >= 0 ? days : days - 146096) / 146097;
  const std::int64_t doe = days - era * 146097;
  const std::int64_t yoe = (doe - doe / 1460 + doe / 36524 - doe / 146096) / 365;
  const std::int64_t doy = doe - (365 * yoe + yoe / 4 - yoe / 100);
  const std::int64_t mp = (5 * doy + 2) / 153;
  const std::int64_t day = doy - (153 * mp + 2) / 5 + 1;
  const std::int64_t month = mp < 10 ? mp + 3 : mp - 9;
  const std::int64_t year = yoe + era * 400 + (month <= 2);
  char text[96];
  std::snprintf(text, sizeof text, "\"%04d-%02d-%02dT%02d:%02d:%02dZ\"", static_cast<int>(year), static_cast<int>(month),
                static_cast<int>(day), static_cast<int>(rest / 3600), static_cast<int>(rest / 60 % 60),
                static_cast<int>(rest % 60));
  return text;
}

void AppendJsonString(std::string& out, const std::string& s) {
  out += '"';
  std::size_t from = 0;
  for (std::size_t i = 0; i < s.size(); ++i) {
    const auto c = static_cast<unsigned char>(s[i]);
    if (c >= 0x20 && c != '"' && c != '\\') continue;
    out.append(s, from, i - from);
    from = i + 1;
    switch (c) {
      case '"': out += "\\\""; break;
      case '\\': out += "\\\\"; break;
      case '\n': out += "\\n"; break;
      case '\r': out += "\\r"; break;
      case '\t': out += "\\t"; break;
      default: {
        char esc[8];
        std::snprintf(esc, sizeof esc, "\\u%04x", c);
        out += esc;
      }
    }
  }
  out.append(s, from, std::string::npos);
  out += '"';
}

std::string JsonString(const std::string& s) {
  std::string out;
  AppendJsonString(out, s);
  return out;
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
  std::string line;
  bool first = true;
  for (const TFileInfo* item : items) {
    line.assign(first ? "\n    {\"path\": " : ",\n    {\"path\": ");
    AppendJsonString(line, ItemPath(item));
    line += ", \"name\": ";
    AppendJsonString(line, item->Name);
    line += item->IsFolder ? ", \"folder\": true" : ", \"folder\": false";
    line += item->InUse ? ", \"deleted\": false, \"size\": " : ", \"deleted\": true, \"size\": ";
    line += std::to_string(item->IsFolder ? std::int64_t{0} : item->Size);
    line += ", \"state\": ";
    if (item->IsFolder) line += "null";
    else AppendJsonString(line, RecoverStateText(item->State));
    line += ", \"created\": " + UtcText(item->CreationTime);
    line += ", \"modified\": " + UtcText(item->LastWriteTime);
    line += ", \"accessed\": " + UtcText(item->LastAccessTime) + "}";
    std::fwrite(line.data(), 1, line.size(), out);
    first = false;
  }
  std::fprintf(out, "\n  ]\n}\n");
}

}  // namespace restovo::cli
