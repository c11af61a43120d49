#include "fs/ntfs/NtfsIndexDetector.h"

#include <algorithm>
#include <bit>
#include <cstring>
#include <functional>

#include "fs/ntfs/MftReader.h"
#include "fs/ntfs/NtfsLayout.h"

namespace restovo {

namespace {

constexpr std::int64_t kMinRecord = 512, kMaxRecord = 65536;
// 1970-01-01 and 2100-01-01 as FILETIME: no volume writes a time outside.
constexpr std::uint64_t kEarliest = 116444736000000000ull;
constexpr std::uint64_t kLatest = 157766880000000000ull;
constexpr std::uint64_t kMaxSize = 1ull << 50;
constexpr std::size_t kKeyFixed = ntfs::kNameChars;  // the $FILE_NAME value before its name

std::size_t RoundUp8(std::size_t n) { return (n + 7) & ~std::size_t{7}; }

bool LegalNameUnit(char16_t c) { return c >= 0x20 && c != u'/'; }

bool TimeFits(std::uint64_t t) { return t >= kEarliest && t < kLatest; }

// The $FILE_NAME key at `key`, of keyLength bytes when that is known (0: from its name),
// when all of it checks out; its end in `keyEnd`.
bool ReadKey(TBytes r, std::size_t key, std::size_t keyLength, std::size_t end, std::int64_t maxRecord,
             TNtfsIndexEntry& out, std::size_t& keyEnd) {
  if (key + kKeyFixed > end) return false;
  const std::size_t chars = ReadU8(r, key + ntfs::kNameLength);
  const std::uint8_t space = ReadU8(r, key + ntfs::kNameSpace);
  if (keyLength == 0) keyLength = kKeyFixed + 2 * chars;
  if (chars == 0 || space > 3 || keyLength != kKeyFixed + 2 * chars || key + keyLength > end) return false;
  out.Parent = ReadU64(r, key + ntfs::kNameParent);
  if (out.ParentRecord() < 5 || out.ParentRecord() >= maxRecord) return false;
  out.Created = ReadU64(r, key + ntfs::kNameCreated);
  out.Written = ReadU64(r, key + ntfs::kNameWritten);
  out.Accessed = ReadU64(r, key + ntfs::kNameAccessed);
  if (!TimeFits(out.Created) || !TimeFits(out.Written)) return false;
  const std::uint64_t size = ReadU64(r, key + ntfs::kNameRealSize);
  if (size > kMaxSize) return false;
  out.Size = static_cast<std::int64_t>(size);
  out.IsDirectory = (ReadU32(r, key + ntfs::kNameFlags) & ntfs::kNameIsDirectory) != 0;
  out.NameSpace = space;
  out.Name.resize(chars);
  for (std::size_t i = 0; i < chars; ++i) {
    out.Name[i] = static_cast<char16_t>(ReadU16(r, key + ntfs::kNameChars + 2 * i));
    if (!LegalNameUnit(out.Name[i])) return false;
  }
  keyEnd = key + keyLength;
  return true;
}

// The entry at `at` when all of it checks out.
bool ReadEntry(TBytes r, std::size_t at, std::size_t end, std::int64_t maxRecord, TNtfsIndexEntry& out) {
  if (at + ntfs::kEntryKey + kKeyFixed > end) return false;
  const std::size_t length = ReadU16(r, at + ntfs::kEntryLength);
  const std::size_t keyLength = ReadU16(r, at + ntfs::kEntryKeyLength);
  const std::uint16_t flags = ReadU16(r, at + ntfs::kEntryFlags);
  if (keyLength <= kKeyFixed || at + length > end) return false;
  // The key is the $FILE_NAME value exactly; the entry is the key rounded up to 8 bytes,
  // and the child node's number when it has one.
  if (length != RoundUp8(ntfs::kEntryKey + keyLength) + ((flags & 1) ? 8 : 0) || (flags & ~0x3u) != 0) return false;
  out.File = ReadU64(r, at + ntfs::kEntryFileRef);
  if (out.Record() < 0 || out.Record() >= maxRecord) return false;
  std::size_t keyEnd = 0;
  if (!ReadKey(r, at + ntfs::kEntryKey, keyLength, end, maxRecord, out, keyEnd)) return false;
  out.Headless = false;
  return true;
}

}  // namespace

std::int64_t TNtfsIndexEntry::Record() const { return static_cast<std::int64_t>(File & ntfs::kReferenceMask); }
std::int64_t TNtfsIndexEntry::ParentRecord() const {
  return static_cast<std::int64_t>(Parent & ntfs::kReferenceMask);
}

std::uint64_t NameInFolderKey(std::int64_t parentRecord, const std::u16string& name) {
  return std::hash<std::u16string>{}(name) ^ (static_cast<std::uint64_t>(parentRecord) * 0x9E3779B97F4A7C15ull);
}

std::vector<TNtfsIndexEntry> ParseIndexRecord(TBytes record, std::int64_t maxRecord) {
  return ParseIndexNode(record, ntfs::kIndexNode, maxRecord);
}

std::vector<TNtfsIndexEntry> ParseIndexNode(TBytes record, std::size_t node, std::int64_t maxRecord) {
  std::vector<TNtfsIndexEntry> out;
  if (record.size() < node + 16) return out;
  const std::size_t first = node + ReadU32(record, node + ntfs::kNodeEntriesOffset);
  const std::size_t used = node + ReadU32(record, node + ntfs::kNodeUsedBytes);
  const std::size_t end = std::min<std::size_t>(node + std::min<std::uint64_t>(ReadU32(record, node + ntfs::kNodeAllocatedBytes),
                                                                               record.size()),
                                                record.size());
  if (first < node + 16 || first % 8 != 0 || first >= end) return out;
  TNtfsIndexEntry e;
  std::size_t inUse = 0;  // entries before the slack
  for (std::size_t at = first; at + kKeyFixed <= end;) {
    if (ReadEntry(record, at, end, maxRecord, e)) {
      e.InSlack = at >= used;
      if (!e.InSlack) ++inUse;
      out.push_back(e);
      at += ReadU16(record, at + ntfs::kEntryLength);
      continue;
    }
    // An entry removed from the end of the entries has its first bytes overwritten by the
    // end mark that moved there: its key still gives name, folder, size and times.
    std::size_t keyEnd = 0;
    if (at >= used && ReadKey(record, at, 0, end, maxRecord, e, keyEnd)) {
      // A copy of an entry still in use, left behind when the entries after a removed one
      // moved up, is not a removed file.
      const bool copy = std::any_of(out.begin(), out.begin() + static_cast<std::ptrdiff_t>(inUse),
                                    [&](const TNtfsIndexEntry& u) { return u.Parent == e.Parent && u.Name == e.Name; });
      if (!copy) {
        e.File = 0;
        e.Headless = true;
        e.InSlack = true;
        out.push_back(e);
      }
      at = RoundUp8(keyEnd);
      continue;
    }
    at += 8;
  }
  return out;
}

TNtfsIndexDetector::TNtfsIndexDetector(const TNtfsGeometry& geometry, std::int64_t maxRecord)
    : Geometry(geometry), MaxRecord(maxRecord) {}

bool TNtfsIndexDetector::TakeRecord(std::vector<std::byte>& record) {
  if (!CheckFixups(Geometry, record.data(), static_cast<std::int64_t>(record.size()), "INDX")) return false;
  for (TNtfsIndexEntry& e : ParseIndexRecord(record, MaxRecord)) {
    if (!Keep || Keep(e)) Entries.push_back(std::move(e));
    else LeftOut.push_back(NameInFolderKey(e.ParentRecord(), e.Name));
  }
  return true;
}

void TNtfsIndexDetector::Inspect(std::uint64_t offset, TBytes block) {
  const auto sector = static_cast<std::size_t>(std::max<std::int64_t>(Geometry.BytesPerSector, 512));
  std::size_t at = 0;
  // A record the last block ended in the middle of goes on here when this block follows it.
  if (!Carry.empty()) {
    const std::size_t need = CarryWanted - Carry.size();
    if (offset == CarryEnd && need <= block.size()) {
      Carry.insert(Carry.end(), block.begin(), block.begin() + static_cast<std::ptrdiff_t>(need));
      TakeRecord(Carry);
      at = (need + sector - 1) / sector * sector;
    }
    Carry.clear();
  }
  while (at + sector <= block.size()) {
    if (std::memcmp(block.data() + at, "INDX", 4) != 0) {
      at += sector;
      continue;
    }
    // The update sequence has an entry per sector: it gives the record's size.
    const std::int64_t usaCount = ReadU16(block, at + ntfs::kRecordUsaCount);
    const std::int64_t bytes = (usaCount - 1) * static_cast<std::int64_t>(sector);
    if (bytes < kMinRecord || bytes > kMaxRecord || !std::has_single_bit(static_cast<std::uint64_t>(bytes))) {
      at += sector;
      continue;
    }
    if (at + static_cast<std::size_t>(bytes) > block.size()) {
      // Read on into the next block (on volumes whose clusters are smaller than a record).
      Carry.assign(block.begin() + static_cast<std::ptrdiff_t>(at), block.end());
      CarryWanted = static_cast<std::size_t>(bytes);
      CarryEnd = offset + block.size();
      return;
    }
    Scratch.assign(block.begin() + static_cast<std::ptrdiff_t>(at),
                   block.begin() + static_cast<std::ptrdiff_t>(at) + bytes);
    at += TakeRecord(Scratch) ? static_cast<std::size_t>(bytes) : sector;
  }
}

}  // namespace restovo
