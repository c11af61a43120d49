#include "fs/fat/FatScaner.h"

#include <algorithm>
#include <cstring>
#include <new>
#include <unordered_set>

#include "fs/ContentVerdict.h"
#include "fs/SharedClusters.h"
#include "fs/fat/FatLayout.h"
#include "volume/BootSectorLayout.h"

namespace restovo {

namespace {

constexpr std::uint32_t kFatWindow = 64 * 1024;
// Tables up to this size are read whole, once: verdicts then never read the table again.
constexpr std::uint64_t kWholeFat = 64ull << 20;
constexpr std::size_t kEntrySize = fat::kEntryBytes;
// A FAT folder holds at most 65,536 entries: 2 MiB of directory data.
constexpr std::int64_t kMaxFolderBytes = 65536 * 32;

// Directory clusters found on one grid, less those that lie inside a directory cluster found
// on the other grid which `claims` keeps: those bytes were read on the wrong grid. A cluster
// whose own "." names it where it lies is never dropped.
std::vector<TFatDirectoryDetector::TFound> DropOverlapping(
    std::vector<TFatDirectoryDetector::TFound> found, const TFatDataLayout& layout,
    const std::vector<TFatDirectoryDetector::TFound>& other, const TFatDataLayout& otherLayout,
    const std::function<bool(const TFatDirectoryDetector::TFound&)>& claims) {
  std::vector<std::uint64_t> starts;
  for (const auto& c : other)
    if (claims(c)) starts.push_back(otherLayout.Offset(c.Cluster));
  std::sort(starts.begin(), starts.end());
  std::erase_if(found, [&](const TFatDirectoryDetector::TFound& c) {
    if (c.Shape.HasDots && c.Shape.Self == c.Cluster) return false;
    const std::uint64_t at = layout.Offset(c.Cluster);
    // The first cluster of the other grid that ends past `at`; it overlaps when it starts
    // before this one ends.
    const auto it = std::upper_bound(starts.begin(), starts.end(), at, [&](std::uint64_t a, std::uint64_t s) {
      return a < s + otherLayout.ClusterSize;
    });
    return it != starts.end() && *it < at + layout.ClusterSize;
  });
  return found;
}

bool NamesItself(const TFatDirectoryDetector::TFound& c) { return c.Shape.HasDots && c.Shape.Self == c.Cluster; }

// Upper half of code page 437, the OEM code page FAT short names are written in.
constexpr char16_t kCp437High[129] =
    u"ÇüéâäàåçêëèïîìÄÅÉæÆôöòûùÿÖÜ¢£¥₧ƒáíóúñÑªº¿⌐¬½¼¡«»░▒▓│┤╡╢╖╕╣║╗╝╜╛┐"
    u"└┴┬├─┼╞╟╚╔╩╦╠═╬╧╨╤╥╙╘╒╓╫╪┘┌█▄▌▐▀αßΓπΣσµτΦΘΩδ∞φε∩≡±≥≤⌠⌡÷≈°∙·√ⁿ²■\u00A0";

bool IsLongNameEntry(TBytes e) { return (ReadU8(e, fat::kAttributes) & fat::kAttrLongName) == fat::kAttrLongName; }

bool IsRefusedNameByte(std::uint8_t b) {
  if (b <= 0x19) return true;
  switch (b) {
    case 0x22: case 0x2A: case 0x2B: case 0x2C: case 0x2E: case 0x2F: case 0x3A: case 0x3B:
    case 0x3C: case 0x3D: case 0x3E: case 0x3F: case 0x5B: case 0x5C: case 0x5D: case 0x7C:
      return true;
    default:
      return false;
  }
}

// Name bytes with spaces and control characters trimmed at both ends.
std::u16string ShortPart(TBytes e, std::size_t from, std::size_t count, bool lower, bool deleted) {
  std::u16string out;
  for (std::size_t i = from; i < from + count; ++i) {
    std::uint8_t b = ReadU8(e, i);
    if (i == 0 && deleted && b == fat::kDeleted) b = '$';
    else if (i == 0 && b == fat::kEscapedE5) b = fat::kDeleted;
    char16_t c = b < 0x80 ? static_cast<char16_t>(b) : kCp437High[b - 0x80];
    if (lower && c >= u'A' && c <= u'Z') c = static_cast<char16_t>(c + 32);
    out.push_back(c);
  }
  auto trimmed = [](char16_t c) { return c <= 0x20; };
  while (!out.empty() && trimmed(out.back())) out.pop_back();
  std::size_t lead = 0;
  while (lead < out.size() && trimmed(out[lead])) ++lead;
  return out.substr(lead);
}

}  // namespace

std::string ShortEntryName(TBytes entry, bool deleted) {
  const std::uint8_t caseBits = ReadU8(entry, fat::kCaseBits);
  const std::u16string base = ShortPart(entry, 0, 8, caseBits & 0x08, deleted);
  const std::u16string ext = ShortPart(entry, 8, 3, caseBits & 0x10, false);
  return Utf16ToUtf8(ext.empty() ? base : base + u"." + ext);
}

std::string AssembleLongName(const std::vector<std::array<std::byte, 32>>& entries) {
  std::u16string text;
  for (const auto& raw : entries) {
    const TBytes e(raw);
    std::u16string part;
    auto take = [&](std::size_t at, std::size_t units) {
      for (std::size_t i = 0; i < units; ++i) {
        const char16_t u = ReadU16(e, at + 2 * i);
        if (u == 0) return;
        part.push_back(u);
      }
    };
    take(fat::kLongPart1, 5);
    if (ReadU16(e, fat::kLongPart2) != 0xFFFF) take(fat::kLongPart2, 6);
    if (ReadU16(e, fat::kLongPart3) != 0xFFFF) take(fat::kLongPart3, 2);
    text = part + text;
  }
  return Utf16ToUtf8(text);
}

TLongNameFit FitLongName(const std::vector<std::array<std::byte, 32>>& entries, TBytes shortEntry,
                         std::uint8_t* firstByte) {
  if (entries.empty() || entries.size() > fat::kLongMaxParts) return TLongNameFit::None;
  const std::uint8_t checksum = ReadU8(TBytes(entries.front()), fat::kLongChecksum);
  for (const auto& raw : entries)
    if (ReadU8(TBytes(raw), fat::kLongChecksum) != checksum) return TLongNameFit::None;
  std::array<std::byte, fat::kNameBytes> name{};
  std::copy_n(shortEntry.begin(), std::min(shortEntry.size(), name.size()), name.begin());
  const bool deleted = ReadU8(shortEntry, fat::kName) == fat::kDeleted;
  if (deleted) {
    // The checksum runs the first byte through a bijection: exactly one value fits.
    bool found = false;
    for (unsigned b = 1; b < 256 && !found; ++b) {
      name[0] = std::byte(b);
      found = ShortNameChecksum(name) == checksum;
    }
    const std::uint8_t b = std::to_integer<std::uint8_t>(name[0]);
    if (!found || b == fat::kDeleted || b <= 0x20 || (b >= 'a' && b <= 'z')) return TLongNameFit::None;
    if (firstByte) *firstByte = b;
  } else if (ShortNameChecksum(name) != checksum) {
    return TLongNameFit::None;
  }
  const TBytes last(entries.front());  // the name's last part comes first on disk
  const std::uint8_t sequence = ReadU8(last, fat::kLongSequence);
  if (sequence != fat::kDeleted) {
    // A live run numbers its parts from the last (marked) down to 1.
    for (std::size_t i = 0; i < entries.size(); ++i) {
      const std::uint8_t want = static_cast<std::uint8_t>(entries.size() - i) | (i == 0 ? fat::kLongLastPart : 0);
      if (ReadU8(TBytes(entries[i]), fat::kLongSequence) != want) return TLongNameFit::Partial;
    }
    return TLongNameFit::Whole;
  }
  // A deleted run lost its numbers: its last part ends the name (a terminator, or exactly
  // full), and a short name's extension ends the long one unless the name says otherwise.
  bool terminated = false;
  for (std::size_t at : {fat::kLongPart1, fat::kLongPart2, fat::kLongPart3}) {
    const std::size_t units = at == fat::kLongPart1 ? 5 : at == fat::kLongPart2 ? 6 : 2;
    for (std::size_t i = 0; i < units && !terminated; ++i) terminated = ReadU16(last, at + 2 * i) == 0;
  }
  if (terminated) return TLongNameFit::Whole;
  std::string ext;
  for (std::size_t i = 8; i < 11; ++i) {
    const std::uint8_t b = ReadU8(shortEntry, i);
    if (b != ' ') ext.push_back(static_cast<char>(b >= 'A' && b <= 'Z' ? b + 32 : b));
  }
  if (ext.empty()) return TLongNameFit::Whole;
  // The short extension is the long one's start, upper-cased, with what 8.3 names cannot
  // hold replaced: ".docx" gives "DOC".
  const std::string longName = AssembleLongName(entries);
  const std::size_t dot = longName.rfind('.');
  if (dot == std::string::npos || longName.size() - dot - 1 < ext.size()) return TLongNameFit::Partial;
  for (std::size_t i = 0; i < ext.size(); ++i) {
    const char c = longName[dot + 1 + i];
    const char lower = static_cast<char>(c >= 'A' && c <= 'Z' ? c + 32 : c);
    const bool plain = (lower >= 'a' && lower <= 'z') || (lower >= '0' && lower <= '9');
    if (plain && lower != ext[i]) return TLongNameFit::Partial;
  }
  return TLongNameFit::Whole;
}

FILETIME DosDateTimeToFileTime(std::uint16_t date, std::uint16_t time) {
  TDateTime local;
  local.Year = 1980 + (date >> 9);
  local.Month = (date >> 5) & 0x0F;
  local.Day = date & 0x1F;
  local.Hour = time >> 11;
  local.Minute = (time >> 5) & 0x3F;
  local.Second = (time & 0x1F) * 2;
  if (local.Minute > 59 || local.Second > 59) return 0;
  // Converting local time asks the time-zone rules each time; entries share hours, so the
  // start of each hour is converted once. Clocks change on whole hours.
  thread_local std::unordered_map<std::uint32_t, FILETIME> hours;
  const std::uint32_t key = std::uint32_t{date} << 5 | static_cast<std::uint32_t>(local.Hour);
  auto it = hours.find(key);
  if (it == hours.end()) {
    if (hours.size() > 65536) hours.clear();
    TDateTime hour = local;
    hour.Minute = hour.Second = 0;
    it = hours.emplace(key, LocalDateTimeToFileTime(hour)).first;
  }
  if (it->second == 0) return 0;
  return it->second + static_cast<FILETIME>(local.Minute * 60 + local.Second) * 10000000ull;
}

struct TFatScaner::TWorkEntry {
  std::string Name;
  std::int64_t Size = 0;
  std::uint32_t Attributes = 0;
  FILETIME CreationTime = 0;
  FILETIME LastWriteTime = 0;
  FILETIME LastAccessTime = 0;
  std::int32_t State = rsGood;
  TFileInfo* Parent = nullptr;
  TFatEntryInfo Entry;
};

TFatScaner::TFatScaner(TDiskObject* disk) : TDiskScaner(disk) {}

void TFatScaner::Clear() {
  TDiskScaner::Clear();
  Folders.clear();
  ClusterBuf = {};
  FatWindow = {};
  FatWindowStart = 0;
  WholeFatTried = false;
  FatUnreadable.clear();
}

bool TFatScaner::Prepare() {
  if (!TDiskScaner::Prepare()) return false;
  Boot = TBootInfo{};
  ClusterSize = 0;
  std::array<std::byte, boot::kSectorBytes> sector{};
  if (ReadVolumeCopy(Volume, sector.data(), boot::kSectorBytes, 0) < boot::kSectorBytes) return false;
  // The boot-sector parser's rules are the scanner's: a sector it refuses describes no
  // volume whose table or data could be found.
  if (!ParseFatBootSector(sector, Boot)) return false;
  BytesPerSector = Boot.BytesPerSector;
  ClusterSize = Boot.ClusterSize;
  RootDirSectors = Boot.Fat.RootDirSectors;
  return true;
}

bool TFatScaner::PrepareVariant(std::uint32_t eoc, std::uint32_t bad, std::uint32_t eoc2) {
  EocMark = eoc;
  BadMark = bad;
  EocMark2 = eoc2;
  if (!TFatScaner::Prepare()) return false;
  FatBytes = Boot.FatBytes;
  FirstDataSector = Boot.Fat.FirstDataSector;
  DataOffset = static_cast<std::int64_t>(FirstDataSector * BytesPerSector);
  TotalSectors = Boot.TotalSectors;
  // Never more clusters than the table can describe or the variant can number.
  const std::uint64_t tableEntries = FatBytes * 8 / EntryBits();
  const std::uint64_t limit = std::min<std::uint64_t>(tableEntries, MaxClusterNumber() + 1);
  DataClusterCount =
      static_cast<std::uint32_t>(std::min<std::uint64_t>(Boot.TotalClusters, limit > 2 ? limit - 2 : 0));
  ActiveFat = static_cast<std::uint8_t>(Boot.Fat.ActiveFat);
  FatOffset = Boot.FatOffset;
  return true;
}

bool TFat12Scaner::Prepare() { return PrepareVariant(fat::kFat12Marks.Eoc, fat::kFat12Marks.Bad, fat::kFat12Marks.Eoc2); }
bool TFat16Scaner::Prepare() { return PrepareVariant(fat::kFat16Marks.Eoc, fat::kFat16Marks.Bad, fat::kFat16Marks.Eoc2); }
bool TFat32Scaner::Prepare() { return PrepareVariant(fat::kFat32Marks.Eoc, fat::kFat32Marks.Bad, fat::kFat32Marks.Eoc2); }

std::uint64_t TFat12Scaner::LocateFatEntry(std::uint32_t k) const { return k + k / 2; }
std::uint64_t TFat16Scaner::LocateFatEntry(std::uint32_t k) const { return std::uint64_t{k} * 2; }
std::uint64_t TFat32Scaner::LocateFatEntry(std::uint32_t k) const { return std::uint64_t{k} * 4; }

std::uint32_t TFat12Scaner::DecodeFatEntry(std::uint32_t k, TBytes at) const {
  const std::uint16_t w = ReadU16(at, 0);
  return (k & 1) ? (w >> 4) : (w & 0xFFFu);
}
std::uint32_t TFat16Scaner::DecodeFatEntry(std::uint32_t, TBytes at) const { return ReadU16(at, 0); }
std::uint32_t TFat32Scaner::DecodeFatEntry(std::uint32_t, TBytes at) const {
  return ReadU32(at, 0) & fat::kFat32EntryMask;
}

std::uint64_t TFatScaner::TableCopyOffset(std::uint32_t copy) const {
  return (Boot.Fat.ReservedSectors + std::uint64_t{copy} * Boot.Fat.FatSectors) * BytesPerSector;
}

std::uint32_t TFatScaner::ReadTableBytes(std::uint64_t start, std::uint32_t length, std::byte* out) {
  // Copies are tried in turn, the active one first, from where the last read stopped: a
  // sector one copy cannot give may come from another.
  const std::uint32_t copies = std::max<std::uint32_t>(Boot.Fat.FatCount, 1);
  std::uint32_t done = 0;
  while (done < length) {
    std::uint32_t best = 0;
    for (std::uint32_t i = 0; i < copies; ++i) {
      const std::uint32_t copy = (ActiveFat + i) % copies;
      const std::uint32_t got = ReadVolume(Volume, out + done, length - done, TableCopyOffset(copy) + start + done);
      best = std::max(best, got);
      if (got == length - done) break;
    }
    if (best == 0) break;
    done += best;
  }
  return done;
}

bool TFatScaner::ReadFatWindow(std::uint64_t position, std::uint32_t width) {
  const std::uint64_t sector = BytesPerSector == 0 ? 512 : BytesPerSector;
  if (FatUnreadable.count(position / sector) || FatUnreadable.count((position + width - 1) / sector)) return false;
  const bool whole = FatBytes <= kWholeFat && !WholeFatTried;
  WholeFatTried = true;
  const std::uint64_t start = whole ? 0 : position / sector * sector;
  const auto length = static_cast<std::uint32_t>(std::min<std::uint64_t>(whole ? FatBytes : kFatWindow, FatBytes - start));
  const std::uint64_t failedBefore = Volume.FailedReads(), unreadBefore = Volume.UnreadBytes();
  FatWindow.resize(length);
  const std::uint32_t got = ReadTableBytes(start, length, FatWindow.data());
  FatWindow.resize(got);
  FatWindowStart = start;
  // What another copy gave is not lost: only a sector no copy gives counts as unreadable,
  // once, and only where the source has it (what lies past its end is counted apart).
  Volume.SetReadStats(failedBefore, unreadBefore);
  if (got < length) {
    const std::uint64_t bad = (start + got) / sector;
    if (FatUnreadable.insert(bad).second && FatOffset + bad * sector < Volume.Size()) {
      const std::uint64_t bytes = std::min<std::uint64_t>(sector, FatBytes - bad * sector);
      Volume.SetReadStats(failedBefore + 1, unreadBefore + bytes);
    }
  }
  return got >= position - start + width;
}

std::uint32_t TFatScaner::GetFatEntry(std::uint32_t cluster) {
  const std::uint64_t position = LocateFatEntry(cluster);
  const std::uint32_t width = EntryBits() == 32 ? 4 : 2;
  if (BytesPerSector == 0 || position + width > FatBytes) return BadMark;
  // An entry may straddle two sectors (FAT12); the window always holds it whole.
  if (position < FatWindowStart || position + width > FatWindowStart + FatWindow.size()) {
    if (!ReadFatWindow(position, width)) return kUnknownEntry;
  }
  return DecodeFatEntry(cluster, TBytes(FatWindow).subspan(position - FatWindowStart, width));
}

bool TFatScaner::TableReadable() {
  // One copy whole on the source, starting with the media byte the boot sector gives.
  for (std::uint32_t copy = 0; copy < Boot.Fat.FatCount; ++copy) {
    const std::uint64_t at = TableCopyOffset(copy);
    if (at + FatBytes > Volume.Size()) continue;
    std::byte first{};
    if (ReadVolumeExact(Volume, &first, 1, at) == TReadResult::Ok && std::to_integer<std::uint8_t>(first) == Boot.Fat.Media) return true;
  }
  return false;
}

bool TFatScaner::IsClusterFree(std::uint32_t cluster) {
  if (!IsDataCluster(cluster)) return false;
  // The table is this volume's: of an older layout's clusters it knows nothing.
  if (OwnLayout) return true;
  const std::uint32_t entry = GetFatEntry(cluster);
  return entry == 0 || entry == kUnknownEntry;
}

std::uint64_t TFatScaner::MaxFolderClusters() const {
  return ClusterSize == 0 ? 1 : std::max<std::uint64_t>(1, kMaxFolderBytes / ClusterSize);
}

TClusChain TFatScaner::FollowChain(std::uint32_t first, bool checkStop, std::uint64_t limit) {
  TClusChain chain;
  std::uint32_t k = first;
  limit = std::min<std::uint64_t>(limit, std::uint64_t{DataClusterCount} + 1);
  // A chain that meets a cluster it already passed has looped (a damaged entry pointing
  // back, often at itself): it ends before the repeat, so nothing is read twice.
  std::unordered_set<std::uint32_t> visited;
  while (IsDataCluster(k) && chain.size() < limit && visited.insert(k).second) {
    chain.push_back(ClusterOffset(k));
    if (checkStop && StopRequested()) break;
    const std::uint32_t next = GetFatEntry(k);
    if (next == 0 || next == EocMark || next == BadMark || next == EocMark2) break;
    k = next;
  }
  return chain;
}

void TFatScaner::BuildFileChain(TFatEntryInfo& entry, std::int64_t size) {
  entry.Clusters.clear();
  ParseStatus = psOk;
  // An older layout's cluster numbers go past this volume's: they are checked against the
  // volume's size below.
  const bool older = entry.LayoutClusterSize != 0;
  if ((older ? entry.FirstCluster < 2 : !IsDataCluster(entry.FirstCluster)) || ClusterSize == 0) return;
  try {
    if (older) {
      // An older volume's file: no table of it is left, so its data is taken to lie in one
      // piece from its first cluster, as most files were written; read in this volume's
      // cluster size, up to the end of the volume.
      const std::uint64_t start = entry.LayoutStart();
      const std::uint64_t end = DeclaredSize();
      if (start >= end || size <= 0) return;
      const std::uint64_t n = std::min<std::uint64_t>((static_cast<std::uint64_t>(size) + ClusterSize - 1) / ClusterSize,
                                                      (end - start + ClusterSize - 1) / ClusterSize);
      entry.Clusters.reserve(static_cast<std::size_t>(n));
      for (std::uint64_t i = 0; i < n; ++i) entry.Clusters.push_back(static_cast<std::int64_t>(start + i * ClusterSize));
    } else if (entry.Deleted) {
      const std::int64_t n = std::min<std::int64_t>((size + ClusterSize - 1) / ClusterSize, DataClusterCount);
      entry.Clusters.reserve(static_cast<std::size_t>(std::max<std::int64_t>(n, 0)));
      ForEachDeletedRun(entry.FirstCluster, size, [&](std::uint32_t from, std::uint32_t to) {
        for (std::uint32_t k = from; k < to; ++k) entry.Clusters.push_back(ClusterOffset(k));
      });
    } else {
      entry.Clusters = FollowChain(entry.FirstCluster, false);
    }
  } catch (const std::bad_alloc&) {
    ParseStatus = psNoMemory;
  }
}

void TFatScaner::ForEachDeletedRun(std::uint32_t first, std::int64_t size,
                                   const std::function<void(std::uint32_t, std::uint32_t)>& run) {
  if (!IsDataCluster(first) || ClusterSize == 0) return;
  // The file's clusters were free when it was written; where other files' clusters are in
  // use now between them, the file went on after those, so they are skipped. The first
  // cluster is the file's own whatever the table says now. A size field is not trusted to
  // size anything: the chain ends with the volume.
  const std::int64_t n = std::min<std::int64_t>((size + ClusterSize - 1) / ClusterSize, DataClusterCount);
  std::uint64_t k = first, from = first;
  for (std::int64_t i = 0; i < n; ++i, ++k) {
    if (i > 0 && IsDataCluster(k) && !IsClusterFree(static_cast<std::uint32_t>(k))) {
      if (k > from) run(static_cast<std::uint32_t>(from), static_cast<std::uint32_t>(k));
      while (IsDataCluster(k) && !IsClusterFree(static_cast<std::uint32_t>(k))) ++k;
      from = k;
    }
    if (!IsDataCluster(k)) break;
  }
  if (k > from && IsDataCluster(from)) run(static_cast<std::uint32_t>(from), static_cast<std::uint32_t>(std::min<std::uint64_t>(k, std::uint64_t{DataClusterCount} + 2)));
}

void TFatScaner::RateSharedClusters() {
  std::vector<TClaimRun> runs;
  // An older volume's files share this volume's clusters wherever its smaller clusters put
  // two of them in one: among themselves they are compared by the bytes they claim.
  std::vector<TClaimRun> olderBytes;
  const auto volumeEnd = static_cast<std::int64_t>(DeclaredSize());
  for (std::size_t i = 0; i < Items.size(); ++i) {
    const TFileInfo* item = Items[i];
    const auto* entry = item->IsFolder ? nullptr : static_cast<const TFatEntryInfo*>(item->FsData.get());
    if (!entry || !entry->Deleted || item->Size <= 0) continue;
    if (entry->LayoutClusterSize != 0) {
      const auto start = static_cast<std::int64_t>(entry->LayoutStart());
      const std::int64_t end = std::min(volumeEnd, start + item->Size);
      if (start < end) olderBytes.push_back({start, end, static_cast<std::uint32_t>(i)});
      continue;
    }
    ForEachDeletedRun(entry->FirstCluster, item->Size, [&](std::uint32_t from, std::uint32_t to) {
      runs.push_back({from, to, static_cast<std::uint32_t>(i)});
    });
  }
  const std::vector<bool> shared = FindSharedOwners(std::move(runs), Items.size());
  const std::vector<bool> sharedOlder = FindSharedOwners(std::move(olderBytes), Items.size());
  for (std::size_t i = 0; i < Items.size(); ++i)
    if ((shared[i] || sharedOlder[i]) && Items[i]->State == rsGood) Items[i]->State = rsPoor;
}

void TFatScaner::RateByContent() {
  // The table cannot tell whose bytes lie in clusters two deleted files claim, nor whether
  // a file went on past clusters that are in use now; the bytes can, for the kinds a
  // parser knows: read along the clusters a restore reads.
  for (TFileInfo* item : Items) {
    if (StopRequested()) return;
    auto* entry = item->IsFolder ? nullptr : dynamic_cast<TFatEntryInfo*>(item->FsData.get());
    if (!entry || !entry->Deleted || item->State == rsGood || item->Size <= 0 || !ContentTypeForName(item->Name))
      continue;
    TFatEntryInfo pieces = *entry;
    BuildFileChain(pieces, item->Size);
    TPiecesSource bytes(Volume, pieces.Clusters, ClusterSize, static_cast<std::uint64_t>(item->Size));
    restovo::RateByContent(item, bytes);
  }
}

void TFatScaner::BuildFolderChain(TFileInfo* folder) {
  auto* dir = static_cast<TFatDirInfo*>(folder->FsData.get());
  TFatEntryInfo& entry = dir->Entry;
  entry.Clusters.clear();
  ParseStatus = psOk;
  if (!IsDataCluster(entry.FirstCluster) || ClusterSize == 0) return;
  folder->InUse = !entry.Deleted;
  const auto maxClusters = static_cast<std::int64_t>(MaxFolderClusters());
  if (entry.Deleted) {
    if (folder->Size <= 0) folder->Size = ClusterSize;
    // A chain the deep pass put together from the folder's own clusters beats a guess.
    const auto found = FoundFolders.find(entry.FirstCluster);
    if (found != FoundFolders.end() && found->second.Parent != kNoParent) {
      entry.Clusters = found->second.Clusters;
      found->second.Reached = true;
      dir->ChainFound = true;
      return;
    }
    // Guessed clusters stop at the end of the volume and at the largest folder there can be
    // (a size field on a folder entry is garbage).
    const std::int64_t n = std::min({(folder->Size + ClusterSize - 1) / ClusterSize,
                                     static_cast<std::int64_t>(DataClusterCount) + 2 - entry.FirstCluster,
                                     maxClusters});
    for (std::int64_t i = 0; i < n; ++i)
      entry.Clusters.push_back(DataOffset + (entry.FirstCluster - 2 + i) * ClusterSize);
  } else {
    entry.Clusters = FollowChain(entry.FirstCluster, true, MaxFolderClusters());
  }
}

bool TFatScaner::PreviousLayoutRun(const TFatEntryInfo& entry, std::int64_t size, std::uint32_t& from,
                                   std::uint32_t& to) const {
  const TFatDataLayout own = OwnDataLayout();
  if (own.ClusterSize == 0 || size <= 0 || entry.FirstCluster < 2) return false;
  const std::uint64_t start = entry.LayoutStart();
  const std::uint64_t dataEnd = own.Offset(own.MaxCluster + 1);
  const std::uint64_t lo = std::max<std::uint64_t>(start, own.DataOffset);
  const std::uint64_t hi = std::min<std::uint64_t>(start + static_cast<std::uint64_t>(size), dataEnd);
  if (lo >= hi) return false;
  from = static_cast<std::uint32_t>((lo - own.DataOffset) / own.ClusterSize + 2);
  to = static_cast<std::uint32_t>((hi - 1 - own.DataOffset) / own.ClusterSize + 3);
  return true;
}

TRecoverState TFatScaner::RatePreviousLayoutFile(const TFatEntryInfo& entry, std::int64_t size) {
  // The bytes the file held, against this volume's table: those in its clusters that are
  // free now are there still; its boot sector and tables, and its files, wrote over the rest.
  if (size <= 0) return rsGood;
  std::uint32_t from = 0, to = 0;
  if (!PreviousLayoutRun(entry, size, from, to)) return rsLost;
  const TFatDataLayout own = OwnDataLayout();
  const std::uint64_t start = entry.LayoutStart();
  const std::uint64_t end = start + static_cast<std::uint64_t>(size);
  std::uint64_t free = 0;
  bool unknown = false;
  for (std::uint32_t k = from; k < to; ++k) {
    const std::uint32_t value = GetFatEntry(k);
    if (value == kUnknownEntry) unknown = true;
    if (value == 0 || value == kUnknownEntry) {
      const std::uint64_t a = std::max(start, own.Offset(k)), b = std::min(end, own.Offset(k) + own.ClusterSize);
      free += b - a;
    }
    if ((k - from) % 16 == 0 && StopRequested()) break;
  }
  const std::uint64_t g = free * 100 / static_cast<std::uint64_t>(size);
  const TRecoverState state = g == 100 ? rsGood : g >= 80 ? rsPoor : g < 20 ? rsLost : rsVeryPoor;
  return unknown && state == rsGood ? rsPoor : state;
}

TRecoverState TFatScaner::RateDeletedFile(const TFatEntryInfo& entry, std::int64_t size) {
  if (entry.LayoutClusterSize != 0) return RatePreviousLayoutFile(entry, size);
  if (!IsDataCluster(entry.FirstCluster) || ClusterSize == 0) return rsGood;
  const std::int64_t d = (size + ClusterSize - 1) / ClusterSize;
  if (d <= 0) return rsGood;
  std::int64_t free = 0;
  bool unknown = false;
  // Clusters past the end of the volume do not exist and so are not free: only those on it
  // are looked at, however large the size field says the file is.
  const std::int64_t onVolume =
      std::min<std::int64_t>(d, std::int64_t{DataClusterCount} + 2 - std::int64_t{entry.FirstCluster});
  for (std::int64_t i = 0; i < onVolume; ++i) {
    const std::uint64_t k = std::uint64_t{entry.FirstCluster} + static_cast<std::uint64_t>(i);
    const std::uint32_t value = GetFatEntry(static_cast<std::uint32_t>(k));
    // A cluster whose entry no copy of the table gives is not counted as taken; the
    // verdict cannot be better than Poor then.
    if (value == kUnknownEntry) unknown = true;
    if (value == 0 || value == kUnknownEntry) ++free;
    if (i % 16 == 0 && StopRequested()) break;
  }
  const std::int64_t g = free * 100 / d;
  const TRecoverState state = g == 100 ? rsGood : g >= 80 ? rsPoor : g < 20 ? rsLost : rsVeryPoor;
  return unknown && state == rsGood ? rsPoor : state;
}

bool TFatScaner::IsValidEntry(TBytes e) {
  ParseStatus = psInvalidEntry;
  if (ReadU8(e, fat::kName) == fat::kEndOfDirectory) {
    ParseStatus = psEndOfDirectory;
    return false;
  }
  if (ReadU8(e, fat::kAttributes) >= fat::kAttrUnused) return false;
  if (IsLongNameEntry(e)) {
    ParseStatus = psOk;
    return true;
  }
  const std::uint32_t first = (std::uint32_t{ReadU16(e, fat::kClusterHigh)} << 16) | ReadU16(e, fat::kClusterLow);
  if (first == 0 && ReadU32(e, fat::kSize) != 0) return false;
  if (first != 0 && !IsDataCluster(first)) return false;
  for (std::size_t i = 0; i < fat::kNameBytes; ++i) {
    std::uint8_t b = ReadU8(e, fat::kName + i);
    if (i == 0 && b == fat::kEscapedE5) b = fat::kDeleted;
    if (IsRefusedNameByte(b)) return false;
  }
  ParseStatus = psOk;
  return true;
}

void TFatScaner::MakeRootRecord(TClusChain chain, std::uint32_t firstCluster) {
  if (IsDataCluster(firstCluster)) WalkedFolders[firstCluster] = true;
  TFileInfo* root = NewRecord();
  root->Name = GetRootPath();
  root->Size = Disk ? Disk->TotalSize : 0;
  root->IsFolder = true;
  root->InUse = true;
  auto dir = std::make_unique<TFatDirInfo>();
  dir->Entry.Clusters = std::move(chain);
  root->FsData = std::move(dir);
  RootIndex = static_cast<std::int32_t>(Folders.size());
  Folders.push_back(root);
}

void TFat12Scaner::BuildRootFolder() {
  // The fixed root region, in cluster-sized pieces; the last piece ends with the region.
  const std::int64_t start = static_cast<std::int64_t>(
      (Boot.Fat.ReservedSectors + Boot.Fat.FatSectors * Boot.Fat.FatCount) * BytesPerSector);
  RootRegionEnd = start + static_cast<std::int64_t>(RootDirSectors) * BytesPerSector;
  TClusChain chain;
  for (std::int64_t o = start; o < RootRegionEnd; o += ClusterSize) chain.push_back(o);
  MakeRootRecord(std::move(chain));
}

void TFat32Scaner::BuildRootFolder() {
  RootRegionEnd = 0;
  const std::uint32_t first = Boot.Fat.RootCluster;
  MakeRootRecord(FollowChain(first, true, MaxFolderClusters()), first);
}

void TFatScaner::ReportProgress(std::int64_t folder, std::int64_t folders, std::int64_t part,
                                std::int64_t parts) {
  if (!OnProgress || folders <= 0) return;
  // Each root-level folder is a thousandth-divided step, split by its own subfolders, so
  // a card with one folder at the top still shows movement.
  const std::int64_t within = parts > 0 ? part * 1000 / parts : 0;
  if (!Deep) return OnProgress(this, folders * 1000, folder * 1000 + within);
  // After a deep pass the walk is the last stretch of the bar.
  const std::int64_t walked = (folder * 1000 + within) * (kProgressScale - kDeepShare) / (folders * 1000);
  OnProgress(this, kProgressScale, kDeepShare + walked);
}

void TFatScaner::Scan() {
  TDiskScaner::Scan();
  WalkedFolders.clear();
  try {
    if (!Prepare()) {
      Folders.clear();
      Fail("The boot sector cannot be read or does not describe a FAT volume");
      return;
    }
    if (!TableReadable()) {
      Folders.clear();
      Fail("The file allocation table cannot be read");
      return;
    }
    if (Deep) RunDeepPass();
    // A stop in the pass keeps what was found: the live folders are walked and the found
    // ones linked below them all the same (metadata only), so a stopped deep scan lists no
    // fewer files than a quick one.
    StopsHeldOff = Deep && KeepStoppedResults && StopRequested();
    BuildRootFolder();
    RootItem = Folders[static_cast<std::size_t>(RootIndex)];
    AttachRoot = RootItem;
    FolderByCluster[0] = RootItem;
    if (Boot.Fat.RootCluster != 0) FolderByCluster[Boot.Fat.RootCluster] = RootItem;
    WalkFolder(RootItem, nullptr);
    const auto count = static_cast<std::int64_t>(Folders.size());
    for (std::int64_t i = RootIndex + 1; i < count; ++i) {
      ReportProgress(i - RootIndex - 1, count - RootIndex - 1, 0, 1);
      if (StopRequested()) break;
      TFileInfo* p = Folders[static_cast<std::size_t>(i)];
      if (!p->IsFolder || p->Name.empty() || p->Name == "." || p->Name == "..") continue;
      ParseStatus = psOk;
      BuildFolderChain(p);
      WalkTree(p, i - RootIndex - 1, count - RootIndex - 1);
    }
    if (Deep && (!StopRequested() || KeepStoppedResults)) AttachUnreachedFolders();
    if (Deep && PreviousLayout && (!StopRequested() || KeepStoppedResults)) WalkPreviousLayout();
    // A stopped scan whose results are kept shows verdicts too: they must be as true.
    if (!StopRequested() || KeepStoppedResults) RateSharedClusters();
    StopsHeldOff = false;
    if (Deep && !StopRequested()) RateByContent();
    if (Deep && !StopRequested()) {
      MarkOverwrittenByContent([this](const TFileInfo* item) -> std::optional<std::uint64_t> {
        const auto* entry = dynamic_cast<const TFatEntryInfo*>(item->FsData.get());
        if (!entry || !entry->Deleted) return std::nullopt;
        if (entry->LayoutClusterSize != 0) return entry->LayoutStart();
        if (entry->FirstCluster < 2 || entry->FirstCluster > DataClusterCount + 1) return std::nullopt;
        return static_cast<std::uint64_t>(DataOffset) + std::uint64_t{entry->FirstCluster - 2} * ClusterSize;
      });
    }
    // Last: what no file found by structure claims may be a file known by its content.
    if (Deep && !StopRequested()) CarveContent(std::move(ContentCandidates), ClaimedByFoundFiles());
  } catch (const std::bad_alloc&) {
    Fail("There is not enough memory to scan this volume");
  }
  StopsHeldOff = false;
  Folders.clear();
  FoundFolders.clear();
  FoundOrder.clear();
  FolderByCluster.clear();
  PreviousLayout.reset();
  PreviousFound.clear();
  ContentCandidates = {};
  FreeRanges = {};
  ClusterBuf = {};
}

std::vector<TByteRange> TFatScaner::ClaimedByFoundFiles() {
  std::vector<TByteRange> claimed;
  for (const TFileInfo* item : Items) {
    const auto* entry = item->IsFolder ? nullptr : dynamic_cast<const TFatEntryInfo*>(item->FsData.get());
    // A file whose bytes are another file's now claims none of them.
    if (!entry || item->Size <= 0 || (item->Damage & rdContentFailed)) continue;
    if (entry->LayoutClusterSize != 0) {
      claimed.push_back({entry->LayoutStart(), static_cast<std::uint64_t>(item->Size)});
      continue;
    }
    if (!entry->Deleted) continue;
    ForEachDeletedRun(entry->FirstCluster, item->Size, [&](std::uint32_t from, std::uint32_t to) {
      claimed.push_back({static_cast<std::uint64_t>(DataOffset) + std::uint64_t{from - 2} * ClusterSize,
                         std::uint64_t{to - from} * ClusterSize});
    });
  }
  return MergeRanges(std::move(claimed));
}

void TFatScaner::RunDeepPass() {
  // The clusters no live file holds now: deleted folders and files lie there.
  const std::vector<TByteRange> ranges =
      RangesOfUnits(2, DataClusterCount, static_cast<std::uint64_t>(DataOffset), ClusterSize, Volume.Size(),
                    [this](std::uint64_t k) { return IsClusterFree(static_cast<std::uint32_t>(k)); });
  TFatDirectoryDetector directories(static_cast<std::uint64_t>(DataOffset), ClusterSize, DataClusterCount + 1);
  const TFatDataLayout own = OwnDataLayout();
  TFatPreviousLayoutDetector previous(own, DeclaredSize());
  TContentDetector content(ClusterSize);
  TDeepPass pass(Volume, ClusterSize);
  pass.AddDetector(&directories);
  pass.AddDetector(&previous);
  pass.AddDetector(&content);
  pass.StopRequested = [this] { return StopRequested(); };
  pass.OnProgress = [this](std::uint64_t done, std::uint64_t total) {
    if (OnProgress && total > 0)
      OnProgress(this, kProgressScale, static_cast<std::int64_t>(done * kDeepShare / total));
  };
  const TDeepPassReport report = pass.Run(ranges);
  DeepBytesRead = report.BytesRead;
  DeepBytesToRead = report.BytesToRead;
  DeepSeconds = report.Seconds;
  ContentCandidates = content.Take();
  FreeRanges = ranges;
  if (!previous.Layout() || report.Stopped) {
    ChainFoundClusters(directories.Found());
    return;
  }
  // The older layout was told only once two of its folders had been read: what came before
  // is read once more for its clusters.
  TDeepPass again(Volume, ClusterSize);
  again.AddDetector(&previous);
  again.StopRequested = pass.StopRequested;
  previous.BeginRevisit();
  const TDeepPassReport revisit = again.Run(previous.RevisitRanges(ranges));
  DeepBytesRead += revisit.BytesRead;
  DeepBytesToRead += revisit.BytesToRead;
  DeepSeconds += revisit.Seconds;
  PreviousLayout = previous.Layout();
  // Where the two grids read the same bytes as directory clusters, a "." that names its
  // cluster tells whose they are; else the older volume's, as a formatted volume's own
  // folders are few and named by the walk.
  const std::vector<TFatDirectoryDetector::TFound> older = previous.Found();
  PreviousFound = DropOverlapping(older, *PreviousLayout, directories.Found(), own, NamesItself);
  ChainFoundClusters(DropOverlapping(directories.Found(), own, older, *PreviousLayout,
                                     [](const TFatDirectoryDetector::TFound& c) {
                                       return !c.Shape.HasDots || c.Shape.Self == c.Cluster;
                                     }));
}

void TFatScaner::WalkPreviousLayout() {
  const TFatDataLayout old = *PreviousLayout;
  OwnLayout = OwnDataLayout();
  const std::int64_t ownRootEnd = RootRegionEnd;
  // The volume's own layout comes back however the walk ends (out of memory too): records
  // restored later are read with it.
  struct TOwnBack {
    TFatScaner& S;
    std::int64_t RootEnd;
    ~TOwnBack() {
      S.AttachRoot = S.RootItem;
      S.DataOffset = static_cast<std::int64_t>(S.OwnLayout->DataOffset);
      S.ClusterSize = S.OwnLayout->ClusterSize;
      S.DataClusterCount = S.OwnLayout->MaxCluster - 1;
      S.RootRegionEnd = RootEnd;
      S.OwnLayout.reset();
    }
  } back{*this, ownRootEnd};
  DataOffset = static_cast<std::int64_t>(old.DataOffset);
  ClusterSize = old.ClusterSize;
  DataClusterCount = old.MaxCluster - 1;
  RootRegionEnd = 0;
  FoundFolders.clear();
  FoundOrder.clear();
  FolderByCluster.clear();
  WalkedFolders.clear();
  ChainFoundClusters(PreviousFound);

  // The older volume's root: on FAT32 its first cluster is a folder without "." and "..";
  // its folders name it as cluster 0.
  TFileInfo* top = NewRecord();
  top->Name = "Previous file system";
  top->IsFolder = true;
  top->Attributes = fat::kAttrFolder;
  top->Parent = RootItem;
  auto dir = std::make_unique<TFatDirInfo>();
  dir->Entry.IsFolder = true;
  dir->Entry.Deleted = true;
  dir->Entry.ParentDir = RootItem;
  dir->Entry.LayoutDataOffset = old.DataOffset;
  dir->Entry.LayoutClusterSize = old.ClusterSize;
  dir->ChainFound = true;
  const auto root = FoundFolders.find(2);
  if (root != FoundFolders.end() && root->second.Parent == kNoParent) {
    dir->Entry.FirstCluster = 2;
    dir->Entry.Clusters = root->second.Clusters;
    root->second.Reached = true;
  }
  top->FsData = std::move(dir);
  FolderByCluster[0] = top;
  AttachRoot = top;
  WalkTree(top, 0, 1);
  AttachUnreachedFolders();
}

void TFatScaner::ChainFoundClusters(const std::vector<TFatDirectoryDetector::TFound>& found) {
  // A folder's first cluster starts with "." and ".."; a later one was taken from the free
  // clusters when the folder filled up, after the data of the files listed before it. So a
  // later cluster goes to a folder whose last cluster is full and lies before it: the one
  // whose long-name run it finishes; else the one whose files' data ends nearest before it;
  // else the nearest such folder.
  std::vector<std::uint32_t> open;  // folders that go on, by the position of their last cluster
  const std::uint64_t maxClusters = MaxFolderClusters();
  auto extend = [&](std::uint32_t key, const TFatDirectoryDetector::TFound& c) {
    TFoundFolder& f = FoundFolders[key];
    f.Clusters.push_back(ClusterOffset(c.Cluster));
    f.TailOpen = c.Shape.TailOpen;
    f.TailChecksum = c.Shape.TailChecksum;
    f.MaxFirstCluster = std::max(f.MaxFirstCluster, c.Shape.MaxFirstCluster);
    if (!c.Shape.Ended && f.Clusters.size() < maxClusters) open.push_back(key);
  };
  auto start = [&](std::uint32_t key, std::uint32_t parent, const TFatDirectoryDetector::TFound& c) {
    FoundFolders[key].Parent = parent;
    FoundOrder.push_back(key);
    extend(key, c);
  };
  for (const TFatDirectoryDetector::TFound& c : found) {
    if (StopRequested()) return;
    if (c.Shape.HasDots) {
      // A "." naming another cluster is a copy, or from a layout this volume no longer has.
      if (c.Shape.Self == c.Cluster && !FoundFolders.count(c.Cluster)) start(c.Cluster, c.Shape.Parent, c);
      continue;
    }
    std::size_t pick = open.size(), nearestData = open.size();
    std::uint32_t bestData = 0;
    for (std::size_t i = open.size(); i-- > 0;) {
      const TFoundFolder& f = FoundFolders[open[i]];
      if (f.TailOpen && ((c.Shape.HeadIsLong && f.TailChecksum == c.Shape.HeadChecksum) ||
                         (c.Shape.HeadIsShort && f.TailChecksum == c.Shape.HeadShortChecksum))) {
        pick = i;
        break;
      }
      if (f.MaxFirstCluster != 0 && f.MaxFirstCluster < c.Cluster && f.MaxFirstCluster > bestData) {
        bestData = f.MaxFirstCluster;
        nearestData = i;
      }
    }
    if (pick == open.size()) pick = nearestData;
    if (pick == open.size() && !open.empty()) pick = open.size() - 1;
    if (pick == open.size()) {
      // No folder to carry on: its entries are listed under a folder of their own.
      start(c.Cluster, kNoParent, c);
      continue;
    }
    const std::uint32_t key = open[pick];
    open.erase(open.begin() + static_cast<std::ptrdiff_t>(pick));
    extend(key, c);
  }
}

void TFatScaner::AttachUnreachedFolders() {
  // Folders the walk did not reach: their entry is gone, or lies in a folder that is. Each
  // goes under its parent where that was walked, else under the root, as "Directory" and
  // its first cluster; what it lists is walked as any deleted folder's.
  for (std::size_t n = 0; n < FoundOrder.size(); ++n) {
    if (StopRequested()) return;
    std::uint32_t top = FoundOrder[n];
    if (FoundFolders[top].Reached) continue;
    // The highest unreached ancestor the ".." links lead to, so that the tree below it
    // keeps its names.
    std::unordered_set<std::uint32_t> seen{top};
    for (;;) {
      const std::uint32_t parent = FoundFolders[top].Parent;
      const auto it = FoundFolders.find(parent);
      if (parent == kNoParent || it == FoundFolders.end() || it->second.Reached || !seen.insert(parent).second) break;
      top = parent;
    }
    const TFoundFolder& f = FoundFolders[top];
    const auto under = f.Parent == kNoParent ? FolderByCluster.end() : FolderByCluster.find(f.Parent);
    TFileInfo* r = NewRecord();
    r->Name = "Directory" + std::to_string(top);
    r->IsFolder = true;
    r->Attributes = fat::kAttrFolder;
    r->Parent = under != FolderByCluster.end() ? under->second : AttachRoot;
    auto dir = std::make_unique<TFatDirInfo>();
    dir->Entry.IsFolder = true;
    dir->Entry.Deleted = true;
    dir->Entry.FirstCluster = top;
    dir->Entry.ParentDir = r->Parent;
    if (OwnLayout) {
      dir->Entry.LayoutDataOffset = static_cast<std::uint64_t>(DataOffset);
      dir->Entry.LayoutClusterSize = ClusterSize;
    }
    r->FsData = std::move(dir);
    if (f.Parent == kNoParent) {
      // A run of later clusters of a folder whose start is gone: its chain is what was found.
      auto* d = static_cast<TFatDirInfo*>(r->FsData.get());
      d->Entry.Clusters = f.Clusters;
      d->ChainFound = true;
      FoundFolders[top].Reached = true;
    } else {
      BuildFolderChain(r);
    }
    WalkTree(r, 0, 1);
  }
}

void TFatScaner::WalkTree(TFileInfo* top, std::int64_t index, std::int64_t count) {
  struct TFrame {
    TFileItems List;
    std::size_t Next = 0;
  };
  std::vector<TFrame> stack(1);
  WalkFolder(top, &stack.back().List);
  const std::size_t topLevel = stack.back().List.size();
  while (!stack.empty() && !StopRequested()) {
    TFrame& frame = stack.back();
    if (frame.Next >= frame.List.size()) {
      stack.pop_back();
      continue;
    }
    TFileInfo* p = frame.List[frame.Next++];
    if (stack.size() == 1)
      ReportProgress(index, count, static_cast<std::int64_t>(frame.Next), static_cast<std::int64_t>(topLevel));
    if (!p->IsFolder || p->Size > 0 || p->Name.empty() || p->Name == "." || p->Name == "..")
      continue;
    ParseStatus = psOk;
    BuildFolderChain(p);
    TFrame next;
    WalkFolder(p, &next.List);
    if (!next.List.empty()) stack.push_back(std::move(next));
  }
}

void TFatScaner::WalkFolder(TFileInfo* folder, TFileItems* subFolders) {
  auto* dir = static_cast<TFatDirInfo*>(folder->FsData.get());
  dir->FileIndexes.clear();
  dir->Pending = true;
  const bool rootVariant = subFolders == nullptr;
  TClusChain& clusters = dir->Entry.Clusters;
  if (!rootVariant && !clusters.empty()) {
    // Each folder's clusters are walked once; a deleted folder whose guessed cluster is
    // one already walked (often an ancestor) would repeat it or loop.
    const std::uint32_t first = dir->Entry.FirstCluster;
    const auto seen = WalkedFolders.find(first);
    if (seen != WalkedFolders.end() && (dir->Entry.Deleted || seen->second)) return;
    WalkedFolders[first] = seen != WalkedFolders.end() ? (seen->second || !dir->Entry.Deleted)
                                                       : !dir->Entry.Deleted;
  }
  std::vector<std::array<std::byte, 32>> longName;
  const bool guessed = !rootVariant && !folder->InUse && !dir->ChainFound;
  FolderByCluster.emplace(rootVariant ? 0 : dir->Entry.FirstCluster, folder);
  for (std::size_t index = 0; index < clusters.size(); ++index) {
    const std::int64_t offset = clusters[index];
    if (StopRequested()) break;
    const std::int64_t length =
        (folder == RootItem && RootRegionEnd > 0) ? std::min<std::int64_t>(ClusterSize, RootRegionEnd - offset)
                                                  : ClusterSize;
    if (length <= 0) break;
    ClusterBuf.resize(static_cast<std::size_t>(length));
    if (ReadVolumeCopy(Volume, ClusterBuf.data(), static_cast<std::uint32_t>(length),
                       static_cast<std::uint64_t>(offset)) < length) {
      ParseStatus = psReadFailed;
      break;  // the rest of this folder cannot be read
    }
    bool ended = false;
    for (std::size_t at = 0; at + kEntrySize <= ClusterBuf.size(); at += kEntrySize) {
      if (StopRequested()) break;
      const TBytes e = TBytes(ClusterBuf).subspan(at, kEntrySize);
      ended |= ReadU8(e, fat::kName) == fat::kEndOfDirectory;
      if (longName.empty()) {
        if (!IsValidEntry(e)) continue;  // garbage and end-of-directory entries alike
        if (IsLongNameEntry(e)) {
          longName.emplace_back();
          std::memcpy(longName.back().data(), e.data(), kEntrySize);
          continue;
        }
      } else if (IsLongNameEntry(e)) {
        // A run may go on in the folder's next cluster.
        longName.emplace_back();
        std::memcpy(longName.back().data(), e.data(), kEntrySize);
        continue;
      } else if (!IsValidEntry(e)) {
        longName.clear();
        continue;
      }
      TWorkEntry work;
      work.Entry.Deleted = ReadU8(e, fat::kName) == fat::kDeleted;
      work.Name = EntryName(e, work.Entry.Deleted, longName);
      if (work.Name == "." || work.Name == "..") continue;
      work.Attributes = ReadU8(e, fat::kAttributes);
      work.Size = ReadU32(e, fat::kSize);
      work.CreationTime = DosDateTimeToFileTime(ReadU16(e, fat::kCreatedDate), ReadU16(e, fat::kCreatedTime));
      work.LastWriteTime = DosDateTimeToFileTime(ReadU16(e, fat::kWrittenDate), ReadU16(e, fat::kWrittenTime));
      work.LastAccessTime = DosDateTimeToFileTime(ReadU16(e, fat::kAccessedDate), 0);
      work.Entry.IsFolder = (work.Attributes & fat::kAttrFolder) != 0;
      work.Entry.FirstCluster = (std::uint32_t{ReadU16(e, fat::kClusterHigh)} << 16) | ReadU16(e, fat::kClusterLow);
      HandleEntry(folder, subFolders, work);
    }
    // A deleted folder's later clusters are guessed too: a full cluster (no end mark) may go
    // on in the next one when that one is free and holds directory entries.
    if (guessed && !ended && index + 1 == clusters.size() && clusters.size() < MaxFolderClusters() &&
        FollowsAsFolderCluster(offset + ClusterSize)) {
      clusters.push_back(offset + ClusterSize);
    }
  }
}

std::string TFatScaner::EntryName(TBytes e, bool deleted, std::vector<std::array<std::byte, 32>>& longName) {
  std::uint8_t first = 0;
  const TLongNameFit fit = longName.empty() ? TLongNameFit::None : FitLongName(longName, e, &first);
  std::string name = fit == TLongNameFit::Whole ? AssembleLongName(longName) : std::string();
  longName.clear();
  if (!name.empty()) return name;
  if (!deleted || first == 0) return ShortEntryName(e, deleted);
  // The run's checksum gave back the first character the deletion took.
  std::array<std::byte, fat::kEntryBytes> copy{};
  std::copy_n(e.begin(), std::min(e.size(), copy.size()), copy.begin());
  copy[0] = std::byte(first);
  return ShortEntryName(copy, false);
}

bool TFatScaner::FollowsAsFolderCluster(std::int64_t offset) {
  const std::int64_t k = (offset - DataOffset) / ClusterSize + 2;
  if (k < 2 || !IsDataCluster(static_cast<std::uint64_t>(k)) || !IsClusterFree(static_cast<std::uint32_t>(k)))
    return false;
  std::vector<std::byte> next(ClusterSize);
  if (ReadVolume(Volume, next.data(), ClusterSize, static_cast<std::uint64_t>(offset)) < ClusterSize) return false;
  const std::int32_t status = ParseStatus;
  // The first slot must be an entry (a folder's own first cluster starts with ".", which
  // is refused), and most slots up to the end mark must be entries too.
  std::size_t valid = 0, seen = 0;
  bool firstValid = false;
  for (std::size_t at = 0; at + kEntrySize <= next.size(); at += kEntrySize) {
    const TBytes e = TBytes(next).subspan(at, kEntrySize);
    if (ReadU8(e, fat::kName) == fat::kEndOfDirectory) break;
    const bool ok = IsValidEntry(e);
    if (at == 0) firstValid = ok;
    valid += ok;
    ++seen;
  }
  ParseStatus = status;
  return firstValid && valid * 4 >= seen * 3;
}

void TFatScaner::HandleEntry(TFileInfo* folder, TFileItems* subFolders, TWorkEntry& work) {
  const bool rootVariant = subFolders == nullptr;
  work.Parent = folder;
  TFatEntryInfo& entry = work.Entry;
  if (!rootVariant && !folder->InUse) entry.Deleted = true;
  if (!entry.Deleted && !entry.IsFolder) return;  // live files are not listed
  entry.ParentDir = folder;
  if (OwnLayout) {
    entry.LayoutDataOffset = static_cast<std::uint64_t>(DataOffset);
    entry.LayoutClusterSize = ClusterSize;
  }
  if (entry.IsFolder) {
    AddFolderRecord(work, rootVariant ? Folders : *subFolders, rootVariant);
    return;
  }
  for (TFileInfo* f = folder; f != nullptr;) {
    auto* dir = static_cast<TFatDirInfo*>(f->FsData.get());
    if (!dir->Pending) break;
    if (!rootVariant) FolderList.push_back(f);
    dir->Pending = false;
    f = dir->Entry.ParentDir;
  }
  entry.Clusters.clear();
  work.State = RateDeletedFile(entry, work.Size);
  AddFileRecord(work);
}

TFileInfo* TFatScaner::NewRecordFrom(const TWorkEntry& work, std::string name) {
  TFileInfo* r = NewRecord();
  r->Name = MakeSafeName(std::move(name));
  r->Size = work.Size;
  r->Attributes = work.Attributes;
  r->CreationTime = work.CreationTime;
  r->LastWriteTime = work.LastWriteTime;
  r->State = work.State;
  r->Parent = work.Parent;
  return r;
}

void TFatScaner::AddFolderRecord(const TWorkEntry& work, TFileItems& target, bool rootLevel) {
  TFileInfo* r = NewRecordFrom(
      work, rootLevel && !IsValidFileName(work.Name) ? SanitizeFileName(work.Name) : work.Name);
  r->IsFolder = true;
  auto dir = std::make_unique<TFatDirInfo>();
  dir->Entry = work.Entry;  // its chain is built when the folder is walked
  r->FsData = std::move(dir);
  target.push_back(r);
}

void TFatScaner::AddFileRecord(const TWorkEntry& work) {
  TFileInfo* r = NewRecordFrom(work, IsValidFileName(work.Name) ? work.Name : SanitizeFileName(work.Name));
  r->LastAccessTime = work.LastAccessTime;
  r->FsData = std::make_unique<TFatEntryInfo>(work.Entry);
  if (r->Attributes == 0x00 || r->Attributes == 0x08) return;  // neither listed nor linked
  AddItem(r);
  if (r->Parent) LinkToParent(r, LinkStopFlag());
}

}  // namespace restovo
