#include "records/TypesDefine.h"

#include <sys/stat.h>

#include <chrono>
#include <cmath>
#include <cstdio>

namespace restovo {

const char* RecoverStateText(std::int32_t state) {
  switch (state) {
    case rsGood: return "Good";
    case rsPoor: return "Poor";
    case rsVeryPoor: return "Very Poor";
    case rsLost: return "Lost";
    default: return "";
  }
}

std::string RecordDamageText(std::uint8_t damage, std::int64_t claimedSize) {
  std::string text;
  if (damage & rdRecordBrokenOff)
    text = "The file's record is damaged part-way; what it said after the damage is lost.";
  if (damage & rdNameOnly) {
    if (!text.empty()) text += ' ';
    text += "Only the file's name was found, in its folder's index; where its data lay is not known.";
  }
  if (damage & rdContent) {
    if (!text.empty()) text += ' ';
    text += "The file was found by its content, which is damaged or cut short.";
  }
  if (damage & rdContentFailed) {
    if (!text.empty()) text += ' ';
    text += "The bytes where its data lay are not a whole file of its kind: other data took their place.";
  }
  if (damage & rdSizeBeyondData) {
    if (!text.empty()) text += ' ';
    text += "The recorded size (" + std::to_string(claimedSize) +
            " bytes) is more than its data can hold; the file is restored as far as its data goes.";
  }
  return text;
}

std::unique_ptr<TFileInfo> NewFileInfo() { return std::make_unique<TFileInfo>(); }

TFileInfo* TFileInfoStore::New() {
  if (UsedInBlock == BlockSize) {
    Blocks.push_back(std::make_unique<TFileInfo[]>(BlockSize));
    UsedInBlock = 0;
  }
  ++Total;
  return &Blocks.back()[UsedInBlock++];
}

void TFileInfoStore::Clear() {
  Blocks.clear();
  UsedInBlock = BlockSize;
  Total = 0;
}

void LinkToParent(TFileInfo* item, const std::atomic<bool>* stop) {
  while (item != nullptr && item->Parent != nullptr && !item->Linked) {
    if (stop != nullptr && stop->load(std::memory_order_relaxed)) return;
    TFileInfo* parent = item->Parent;
    if (!parent->Children) parent->Children = std::make_unique<TFileItems>();
    parent->Children->push_back(item);
    item->Linked = true;
    item = parent;
  }
}

bool IsValidFileName(std::string_view name) {
  return name.find_first_of("/*?\"<>|%^,;") == std::string_view::npos;
}

std::string SanitizeFileName(std::string_view name) {
  std::string out(name);
  for (char& c : out) {
    switch (c) {
      case '\\': case '/': case ':': case '*': case '?':
      case '"': case '%': case '<': case '>': case '|':
        c = '_';
        break;
      default:
        break;
    }
  }
  return out;
}

namespace {

bool FileExists(const std::string& path) {
  struct stat st {};
  return ::stat(path.c_str(), &st) == 0 && !S_ISDIR(st.st_mode);
}

}  // namespace

std::string MakeUniqueFileName(const std::string& path, std::uint64_t* next) {
  if (!FileExists(path)) return path;
  const std::size_t slash = path.find_last_of('/');
  const std::size_t nameStart = slash == std::string::npos ? 0 : slash + 1;
  std::size_t dot = path.find_last_of('.');
  if (dot == std::string::npos || dot < nameStart) dot = path.size();
  const std::string stem = path.substr(0, dot);
  const std::string ext = path.substr(dot);
  for (std::uint64_t n = next && *next > 0 ? *next : 1;; ++n) {
    std::string candidate = stem + "(" + std::to_string(n) + ")" + ext;
    if (!FileExists(candidate)) {
      if (next) *next = n + 1;
      return candidate;
    }
  }
}

namespace {

constexpr std::size_t kMaxNameBytes = 255;
// An extension longer than this is part of the name, not a type to keep when cutting.
constexpr std::size_t kMaxKeptExtension = 32;

bool NeedsReplacing(unsigned char c) { return c < 0x20 || c == 0x7F || c == '/' || c == '\\'; }

// Length of the valid UTF-8 sequence starting at text[i], or 0.
std::size_t Utf8SequenceLength(std::string_view text, std::size_t i) {
  const auto b = static_cast<unsigned char>(text[i]);
  std::size_t len = 0;
  if (b >= 0xC2 && b < 0xE0) len = 2;
  else if (b >= 0xE0 && b < 0xF0) len = 3;
  else if (b >= 0xF0 && b < 0xF5) len = 4;
  if (len == 0 || i + len > text.size()) return 0;
  for (std::size_t k = 1; k < len; ++k)
    if ((static_cast<unsigned char>(text[i + k]) & 0xC0) != 0x80) return 0;
  const auto b1 = static_cast<unsigned char>(text[i + 1]);
  if (b == 0xE0 && b1 < 0xA0) return 0;   // overlong
  if (b == 0xED && b1 >= 0xA0) return 0;  // surrogate
  if (b == 0xF0 && b1 < 0x90) return 0;   // overlong
  if (b == 0xF4 && b1 >= 0x90) return 0;  // past U+10FFFF
  return len;
}

// The longest prefix of at most `limit` bytes that ends on a character boundary.
std::size_t CutAtCharacter(std::string_view text, std::size_t limit) {
  if (text.size() <= limit) return text.size();
  std::size_t cut = limit;
  while (cut > 0 && (static_cast<unsigned char>(text[cut]) & 0xC0) == 0x80) --cut;
  return cut;
}

}  // namespace

std::string MakeSafeName(std::string name) {
  if (name == ".") return "_";
  if (name == "..") return "__";
  bool clean = name.size() <= kMaxNameBytes;
  for (std::size_t i = 0; clean && i < name.size();) {
    const auto c = static_cast<unsigned char>(name[i]);
    if (c < 0x80) {
      if (NeedsReplacing(c)) clean = false;
      ++i;
    } else {
      const std::size_t len = Utf8SequenceLength(name, i);
      if (len == 0) clean = false;
      i += len;
    }
  }
  if (clean) return name;

  std::string out;
  out.reserve(name.size());
  for (std::size_t i = 0; i < name.size();) {
    const auto c = static_cast<unsigned char>(name[i]);
    if (c < 0x80) {
      out.push_back(NeedsReplacing(c) ? '_' : static_cast<char>(c));
      ++i;
    } else if (const std::size_t len = Utf8SequenceLength(name, i); len > 0) {
      out.append(name, i, len);
      i += len;
    } else {
      out += "\xEF\xBF\xBD";  // U+FFFD
      ++i;
    }
  }
  if (out.size() > kMaxNameBytes) {
    const std::size_t dot = out.find_last_of('.');
    const std::size_t extLength = dot == std::string::npos || dot == 0 ? 0 : out.size() - dot;
    const std::string ext = extLength > 0 && extLength <= kMaxKeptExtension ? out.substr(dot) : std::string();
    const std::size_t stem = CutAtCharacter(out, kMaxNameBytes - ext.size());
    out = out.substr(0, stem) + ext;
  }
  return out;
}

namespace {

// Digits of a non-negative number with the locale's grouping applied.
std::string GroupDigits(std::uint64_t value, const std::numpunct<char>& punct) {
  std::string digits = std::to_string(value);
  std::string grouping = punct.grouping();
  char sep = punct.thousands_sep();
  if (grouping.empty()) {  // the "C" locale: English separators
    grouping = "\3";
    sep = ',';
  }
  std::string out;
  std::size_t gi = 0;
  int inGroup = 0;
  int groupSize = static_cast<unsigned char>(grouping[0]);
  for (std::size_t i = digits.size(); i-- > 0;) {
    if (groupSize > 0 && groupSize < CHAR_MAX && inGroup == groupSize) {
      out.push_back(sep);
      inGroup = 0;
      if (gi + 1 < grouping.size()) groupSize = static_cast<unsigned char>(grouping[++gi]);
    }
    out.push_back(digits[i]);
    ++inGroup;
  }
  return {out.rbegin(), out.rend()};
}

}  // namespace

std::string FormatFileSize(std::int64_t size, const std::locale& locale) {
  const auto& punct = std::use_facet<std::numpunct<char>>(locale);
  const bool english = punct.grouping().empty();
  const char point = english ? '.' : punct.decimal_point();
  if (size < 1024) {
    const std::uint64_t magnitude =
        size < 0 ? 0 - static_cast<std::uint64_t>(size) : static_cast<std::uint64_t>(size);
    return (size < 0 ? "-" : "") + GroupDigits(magnitude, punct) + " Bytes";
  }
  double value;
  const char* unit;
  if (size < 1048576) {
    value = static_cast<double>(size) / 1024.0;
    unit = " KB";
  } else if (size >= 1073741824) {
    value = static_cast<double>(size) / 1073741824.0;
    unit = " GB";
  } else {
    value = static_cast<double>(size) / 1048576.0;
    unit = " MB";
  }
  const auto tenths = static_cast<std::uint64_t>(std::llround(value * 10.0));
  return GroupDigits(tenths / 10, punct) + point + static_cast<char>('0' + tenths % 10) + unit;
}

namespace {

constexpr std::int64_t kUnixEpochInFileTime = 116444736000000000LL;  // 1970-01-01 in FILETIME

TDateTime FromTm(const std::tm& tm, int millisecond) {
  return {tm.tm_year + 1900, tm.tm_mon + 1, tm.tm_mday, tm.tm_hour, tm.tm_min, tm.tm_sec,
          millisecond};
}

int DaysInMonth(int year, int month) {
  static const int days[] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
  if (month == 2 && ((year % 4 == 0 && year % 100 != 0) || year % 400 == 0)) return 29;
  return days[month - 1];
}

}  // namespace

FILETIME UnixTimeToFileTime(std::int64_t seconds, std::int64_t nanoseconds) {
  const std::int64_t ticks = seconds * 10000000LL + nanoseconds / 100 + kUnixEpochInFileTime;
  return ticks < 0 ? 0 : static_cast<FILETIME>(ticks);
}

void FileTimeToUnixTime(FILETIME ft, std::int64_t& seconds, std::int64_t& nanoseconds) {
  const auto ticks = static_cast<std::int64_t>(ft > INT64_MAX ? INT64_MAX : ft);
  std::int64_t sinceUnix = ticks - kUnixEpochInFileTime;
  seconds = sinceUnix / 10000000LL;
  std::int64_t rest = sinceUnix % 10000000LL;
  if (rest < 0) {
    rest += 10000000LL;
    --seconds;
  }
  nanoseconds = rest * 100;
}

TDateTime NowLocal() {
  const auto now = std::chrono::system_clock::now();
  const std::time_t t = std::chrono::system_clock::to_time_t(now);
  std::tm tm{};
  localtime_r(&t, &tm);
  const auto ms = std::chrono::duration_cast<std::chrono::milliseconds>(now.time_since_epoch()) %
                  1000;
  return FromTm(tm, static_cast<int>(ms.count()));
}

TDateTime FileTimeToLocalDateTime(FILETIME ft) {
  std::int64_t seconds = 0, nanoseconds = 0;
  FileTimeToUnixTime(ft, seconds, nanoseconds);
  const auto t = static_cast<std::time_t>(seconds);
  std::tm tm{};
  if (localtime_r(&t, &tm) == nullptr) return NowLocal();
  return FromTm(tm, static_cast<int>(nanoseconds / 1000000));
}

FILETIME LocalDateTimeToFileTime(const TDateTime& local) {
  if (local.Month < 1 || local.Month > 12 || local.Day < 1 ||
      local.Day > DaysInMonth(local.Year, local.Month) || local.Hour < 0 || local.Hour > 23 ||
      local.Minute < 0 || local.Minute > 59 || local.Second < 0 || local.Second > 59 ||
      local.Millisecond < 0 || local.Millisecond > 999) {
    return 0;
  }
  // Reading the local time as if it were UTC and correcting by the zone's offset there
  // avoids mktime, which stats the zone file on every call (millions of calls on a big FAT
  // volume). Near a clock change the offset is taken again where the first guess lands.
  const std::chrono::year_month_day ymd{std::chrono::year{local.Year},
                                        std::chrono::month{static_cast<unsigned>(local.Month)},
                                        std::chrono::day{static_cast<unsigned>(local.Day)}};
  const std::int64_t asUtc =
      static_cast<std::int64_t>(std::chrono::sys_days{ymd}.time_since_epoch().count()) * 86400 +
      local.Hour * 3600 + local.Minute * 60 + local.Second;
  const auto offsetAt = [](std::int64_t t, long& offset) {
    const auto tt = static_cast<std::time_t>(t);
    std::tm tm{};
    if (localtime_r(&tt, &tm) == nullptr) return false;
    offset = tm.tm_gmtoff;
    return true;
  };
  long first = 0;
  long second = 0;
  if (!offsetAt(asUtc, first) || !offsetAt(asUtc - first, second)) return 0;
  // Equal offsets: the guess holds. Otherwise the time lies in or next to a change, and the
  // offset in force before the change decides, as it does for a clock read in the gap.
  const std::int64_t t = asUtc - (first == second ? first : second);
  return UnixTimeToFileTime(t, static_cast<std::int64_t>(local.Millisecond) * 1000000);
}

namespace {

void AppendUtf8(std::string& out, char32_t cp) {
  if (cp < 0x80) {
    out.push_back(static_cast<char>(cp));
  } else if (cp < 0x800) {
    out.push_back(static_cast<char>(0xC0 | (cp >> 6)));
    out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
  } else if (cp < 0x10000) {
    out.push_back(static_cast<char>(0xE0 | (cp >> 12)));
    out.push_back(static_cast<char>(0x80 | ((cp >> 6) & 0x3F)));
    out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
  } else {
    out.push_back(static_cast<char>(0xF0 | (cp >> 18)));
    out.push_back(static_cast<char>(0x80 | ((cp >> 12) & 0x3F)));
    out.push_back(static_cast<char>(0x80 | ((cp >> 6) & 0x3F)));
    out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
  }
}

}  // namespace

std::string Utf16ToUtf8(std::u16string_view text) {
  std::string out;
  out.reserve(text.size());
  for (std::size_t i = 0; i < text.size(); ++i) {
    const char16_t u = text[i];
    if (u >= 0xD800 && u <= 0xDBFF && i + 1 < text.size() && text[i + 1] >= 0xDC00 &&
        text[i + 1] <= 0xDFFF) {
      AppendUtf8(out, 0x10000 + ((static_cast<char32_t>(u) - 0xD800) << 10) +
                          (static_cast<char32_t>(text[i + 1]) - 0xDC00));
      ++i;
    } else if (u >= 0xD800 && u <= 0xDFFF) {
      AppendUtf8(out, 0xFFFD);
    } else {
      AppendUtf8(out, u);
    }
  }
  return out;
}

std::u16string Utf8ToUtf16(std::string_view text) {
  std::u16string out;
  out.reserve(text.size());
  std::size_t i = 0;
  while (i < text.size()) {
    const auto b = static_cast<unsigned char>(text[i]);
    char32_t cp = 0xFFFD;
    std::size_t len = 1;
    auto cont = [&](std::size_t k) {
      return i + k < text.size() && (static_cast<unsigned char>(text[i + k]) & 0xC0) == 0x80;
    };
    auto bits = [&](std::size_t k) { return static_cast<char32_t>(text[i + k] & 0x3F); };
    if (b < 0x80) {
      cp = b;
    } else if (b >= 0xC2 && b < 0xE0 && cont(1)) {
      cp = ((b & 0x1Fu) << 6) | bits(1);
      len = 2;
    } else if (b >= 0xE0 && b < 0xF0 && cont(1) && cont(2)) {
      cp = ((b & 0x0Fu) << 12) | (bits(1) << 6) | bits(2);
      len = 3;
      if (cp < 0x800 || (cp >= 0xD800 && cp <= 0xDFFF)) cp = 0xFFFD;
    } else if (b >= 0xF0 && b < 0xF5 && cont(1) && cont(2) && cont(3)) {
      cp = ((b & 0x07u) << 18) | (bits(1) << 12) | (bits(2) << 6) | bits(3);
      len = 4;
      if (cp < 0x10000 || cp > 0x10FFFF) cp = 0xFFFD;
    }
    if (cp >= 0x10000) {
      out.push_back(static_cast<char16_t>(0xD800 + ((cp - 0x10000) >> 10)));
      out.push_back(static_cast<char16_t>(0xDC00 + ((cp - 0x10000) & 0x3FF)));
    } else {
      out.push_back(static_cast<char16_t>(cp));
    }
    i += len;
  }
  return out;
}

}  // namespace restovo
