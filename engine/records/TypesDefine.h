// Found-file records and the small helpers every scanner and the restore engine share.
#pragma once

#include <atomic>
#include <cstdint>
#include <ctime>
#include <locale>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

namespace restovo {

// 100 ns intervals since 1601-01-01 UTC.
using FILETIME = std::uint64_t;

enum TRecoverState : std::int32_t {
  rsGood = 0,
  rsPoor = 1,
  rsVeryPoor = 2,
  rsLost = 3,
  rsFolder = 4,
};

// The English text of a verdict; folders have none.
const char* RecoverStateText(std::int32_t state);

// What a scanner found wrong with a record's own fields, as bits: the verdict is lowered for
// it and the reason can be told.
enum TRecordDamage : std::uint8_t {
  rdNone = 0,
  rdSizeBeyondData = 1,  // the size field claimed more than the data can hold; cut to that
  rdRecordBrokenOff = 2,  // the record breaks off at a damaged part: what followed is lost
  rdNameOnly = 4,  // known by its entry in a folder's index only: no record tells its data
  rdContent = 8,   // found by its content, which is damaged or cut short: the file data tells why
  rdContentFailed = 16,  // its bytes are not a whole file of its kind: other data took their place
};

// The English reason for a record's damage bits; empty for none.
std::string RecordDamageText(std::uint8_t damage, std::int64_t claimedSize);

// One run of an NTFS data stream. Lcn -1 marks a sparse run; the run's length is this
// node's NextVcn minus the previous node's (0 before the first).
struct TRunNode {
  std::int64_t Lcn = 0;
  std::int64_t NextVcn = 0;
};

// File-system specific data hung on a record (FAT chains, ...). Owned by the record.
struct TFsRecord {
  virtual ~TFsRecord() = default;
};

struct TFileInfo;
// A list of records it does not own.
using TFileItems = std::vector<TFileInfo*>;

struct TFileInfo {
  std::string Name;  // UTF-8, no path
  std::int64_t Size = 0;
  std::int64_t AllocClusters = 0;
  std::uint32_t Attributes = 0;
  FILETIME CreationTime = 0;
  FILETIME LastWriteTime = 0;
  FILETIME LastAccessTime = 0;
  std::int32_t State = rsGood;
  std::uint8_t Damage = rdNone;
  std::int64_t ClaimedSize = 0;  // the size field as read, when rdSizeBeyondData is set
  std::int64_t AuxRecordNo = 0;
  std::int64_t ParentRecordNo = 0;
  std::int64_t RecordNo = 0;
  bool InUse = false;
  bool Resident = false;
  std::uint32_t ResidentOffset = 0;
  bool HasAttrList = false;
  std::vector<TRunNode> Runs;
  std::unique_ptr<TFsRecord> FsData;
  bool IsFolder = false;
  bool IsAllFilesNode = false;
  bool Linked = false;
  TFileInfo* Parent = nullptr;
  std::unique_ptr<TFileItems> Children;  // made on the first child
};

// A record on its own; scanners keep theirs in a TFileInfoStore instead.
std::unique_ptr<TFileInfo> NewFileInfo();

// Owns every record of one scan. Addresses stay valid until the store is cleared.
class TFileInfoStore {
 public:
  TFileInfo* New();
  void Clear();
  std::size_t Count() const { return Total; }

 private:
  static constexpr std::size_t BlockSize = 1024;
  std::vector<std::unique_ptr<TFileInfo[]>> Blocks;
  std::size_t UsedInBlock = BlockSize;
  std::size_t Total = 0;
};

// Appends Item to its parent's children and walks up, linking each ancestor once.
// Stops at the top, at an ancestor that is already linked, or when *stop becomes true.
void LinkToParent(TFileInfo* item, const std::atomic<bool>* stop = nullptr);

// False when the name holds one of  / * ? " < > | % ^ , ;
bool IsValidFileName(std::string_view name);
// Replaces  \ / : * ? " % < > |  by "_" (caret, comma and semicolon stay).
std::string SanitizeFileName(std::string_view name);
// A name read from a volume made safe to show and to use as one path component, once, when
// its record is made: "/", "\\", NUL and other control characters become "_", "." and ".."
// become "_" and "__", invalid UTF-8 becomes U+FFFD, and a name over 255 bytes is cut at a
// character boundary, keeping a short extension. Names that need none of this come back
// unchanged.
std::string MakeSafeName(std::string name);
// path, then stem(1).ext, stem(2).ext, ... : the first that names no existing file. With
// `next`, numbering starts at *next and *next is left past the number taken, so many
// copies of one name cost one test each instead of one per earlier copy.
std::string MakeUniqueFileName(const std::string& path, std::uint64_t* next = nullptr);

// "1,023 Bytes", "1.0 KB", "1,024.0 MB", "1.0 GB": separators from the locale's numpunct,
// English ones when the locale has no grouping (the "C" locale).
std::string FormatFileSize(std::int64_t size, const std::locale& locale = std::locale());

// A broken-down local date and time.
struct TDateTime {
  int Year = 0, Month = 0, Day = 0, Hour = 0, Minute = 0, Second = 0, Millisecond = 0;
  friend bool operator==(const TDateTime&, const TDateTime&) = default;
};

FILETIME UnixTimeToFileTime(std::int64_t seconds, std::int64_t nanoseconds = 0);
// Seconds since 1970 and the nanoseconds within that second.
void FileTimeToUnixTime(FILETIME ft, std::int64_t& seconds, std::int64_t& nanoseconds);
// UTC FILETIME to local time; the current local time when the value cannot be converted.
TDateTime FileTimeToLocalDateTime(FILETIME ft);
// Local time to UTC FILETIME; 0 when the value is not a valid time.
FILETIME LocalDateTimeToFileTime(const TDateTime& local);
TDateTime NowLocal();

// UTF-16LE code units to UTF-8; unpaired surrogates become U+FFFD.
std::string Utf16ToUtf8(std::u16string_view text);
// UTF-8 to UTF-16 code units; invalid bytes become U+FFFD.
std::u16string Utf8ToUtf16(std::string_view text);

}  // namespace restovo
