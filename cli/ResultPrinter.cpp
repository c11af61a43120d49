#include "ResultPrinter.h"

#include <cinttypes>
#include <ctime>
#include <string>
#include <unordered_map>

#include "fs/ContentCarving.h"

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
// "\"2024-06-15T09:40:00Z\"" or null, appended without a formatting call: the JSON listing
// writes three of these for each of millions of records.
void AppendUtc(std::string& out, FILETIME time) {
  if (time == 0) {
    out += "null";
    return;
  }
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
  const auto digits = [&out](std::int64_t value, int width) {
    char text[20];
    int n = 0;
    do {
      text[n++] = static_cast<char>('0' + value % 10);
      value /= 10;
    } while (value > 0 || n < width);
    while (n > 0) out += text[--n];
  };
  out += '"';
  digits(year, 4);  // FILETIME years stay within 1601..30828
  out += '-';
  digits(month, 2);
  out += '-';
  digits(day, 2);
  out += 'T';
  digits(rest / 3600, 2);
  out += ':';
  digits(rest / 60 % 60, 2);
  out += ':';
  digits(rest % 60, 2);
  out += "Z\"";
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
               summary.Stopped ? "Stopped early: " : "", files, files == 1 ? "" : "s",
               FormatFileSize(bytes).c_str(), summary.Volume.c_str(), summary.FileSystem.c_str());
  if (summary.Deep)
    std::fprintf(out, "Deep scan: %s of free space read.\n", FormatFileSize(static_cast<std::int64_t>(summary.DeepBytesRead)).c_str());
  if (summary.UnreadBytes > 0) {
    std::string why;
    if (summary.FailedReads > 0)
      why = std::to_string(summary.FailedReads) + (summary.FailedReads == 1 ? " read" : " reads") +
            " failed or came back short";
    if (summary.MissingTail > 0)
      why += (why.empty() ? "" : "; ") + std::string("the source ends ") + std::to_string(summary.MissingTail) +
             " bytes before the volume does";
    std::fprintf(out, "%" PRIu64 " bytes of the volume could not be read (%s): files stored there may be missing.\n",
                 summary.UnreadBytes, why.c_str());
  }
}

void PrintJson(std::FILE* out, const std::vector<const TFileInfo*>& items, const TScanSummary& summary) {
  std::fprintf(out,
               "{\n  \"volume\": %s,\n  \"file_system\": %s,\n  \"scan\": \"%s\",\n  \"complete\": %s,\n  \"stopped\": %s,\n"
               "  \"failed_reads\": %" PRIu64 ",\n  \"unreadable_bytes\": %" PRIu64
               ",\n  \"bytes_past_end\": %" PRIu64 ",\n  \"deep_bytes_read\": %" PRIu64 ",\n  \"deep_pass_seconds\": %.3f,\n  \"items\": [",
               JsonString(summary.Volume).c_str(), JsonString(summary.FileSystem).c_str(),
               summary.Deep ? "deep" : "quick", summary.Complete() ? "true" : "false", summary.Stopped ? "true" : "false", summary.FailedReads,
               summary.UnreadBytes, summary.MissingTail, summary.DeepBytesRead, summary.DeepSeconds);
  std::string line;
  bool first = true;
  // Items come folder by folder: each folder's path is made once and its files reuse it.
  std::unordered_map<const TFileInfo*, std::string> folderPaths;
  const auto folderPath = [&folderPaths](const TFileInfo* folder) -> const std::string& {
    auto it = folderPaths.find(folder);
    if (it == folderPaths.end()) it = folderPaths.emplace(folder, ItemPath(folder)).first;
    return it->second;
  };
  std::string path;
  for (const TFileInfo* item : items) {
    line.assign(first ? "\n    {\"path\": " : ",\n    {\"path\": ");
    if (item->IsFolder || !item->Parent) {
      AppendJsonString(line, item->IsFolder ? folderPath(item) : ItemPath(item));
    } else {
      path = folderPath(item->Parent);
      path += item->Name;
      AppendJsonString(line, path);
    }
    line += ", \"name\": ";
    AppendJsonString(line, item->Name);
    line += item->IsFolder ? ", \"folder\": true" : ", \"folder\": false";
    line += item->InUse ? ", \"deleted\": false, \"size\": " : ", \"deleted\": true, \"size\": ";
    line += std::to_string(item->IsFolder ? std::int64_t{0} : item->Size);
    line += ", \"state\": ";
    if (item->IsFolder) line += "null";
    else AppendJsonString(line, RecoverStateText(item->State));
    line += ", \"created\": ";
    AppendUtc(line, item->CreationTime);
    line += ", \"modified\": ";
    AppendUtc(line, item->LastWriteTime);
    line += ", \"accessed\": ";
    AppendUtc(line, item->LastAccessTime);
    if (item->Damage != rdNone) {
      line += ", \"damage\": ";
      AppendJsonString(line, RecordDamageText(item->Damage, item->ClaimedSize));
    }
    // A file found by its content says what the check of its structure found.
    if (const auto* carved = dynamic_cast<const TCarvedDataInfo*>(item->FsData.get())) {
      line += ", \"found_by\": \"content\", \"content_check\": ";
      AppendJsonString(line, ContentVerdictText(carved->Verdict));
      if (!carved->Reason.empty()) {
        line += ", \"reason\": ";
        AppendJsonString(line, carved->Reason);
      }
    }
    line += '}';
    std::fwrite(line.data(), 1, line.size(), out);
    first = false;
  }
  std::fprintf(out, "\n  ]\n}\n");
}

}  // namespace restovo::cli
