#include "fs/fat/FatDirectoryDetector.h"

#include <algorithm>

#include "fs/fat/FatLayout.h"

namespace restovo {

namespace {

constexpr std::size_t kSlot = fat::kEntryBytes;

bool IsLong(TBytes e) { return (ReadU8(e, fat::kAttributes) & 0x3F) == fat::kAttrLongName; }

// A short-name byte the FAT tools write: upper-case letters, digits, space and the
// punctuation short names allow; above 0x7F, code-page characters.
bool IsShortNameByte(std::uint8_t b) {
  if (b >= 0x80) return true;
  if (b >= 'A' && b <= 'Z') return true;
  if (b >= '0' && b <= '9') return true;
  switch (b) {
    case ' ': case '!': case '#': case '$': case '%': case '&': case '\'': case '(': case ')':
    case '-': case '@': case '^': case '_': case '`': case '{': case '}': case '~':
      return true;
    default:
      return false;
  }
}

bool PlausibleDate(std::uint16_t date) {
  if (date == 0) return true;
  const unsigned month = (date >> 5) & 0x0F, day = date & 0x1F;
  return month >= 1 && month <= 12 && day >= 1;
}

bool PlausibleTime(std::uint16_t time) { return (time >> 11) < 24 && ((time >> 5) & 0x3F) < 60 && (time & 0x1F) < 30; }

std::uint32_t FirstCluster(TBytes e) {
  return (std::uint32_t{ReadU16(e, fat::kClusterHigh)} << 16) | ReadU16(e, fat::kClusterLow);
}

bool PlausibleLong(TBytes e) {
  const std::uint8_t seq = ReadU8(e, fat::kLongSequence);
  if (seq != fat::kDeleted) {
    const std::uint8_t part = seq & ~fat::kLongLastPart;
    if (part == 0 || part > fat::kLongMaxParts || (seq & 0xA0) != 0) return false;
  }
  return ReadU8(e, fat::kLongType) == 0 && ReadU16(e, fat::kLongCluster) == 0;
}

// A dot entry: "." or ".." padded with spaces, a folder.
bool IsDotEntry(TBytes e, int dots) {
  for (int i = 0; i < 11; ++i) {
    const std::uint8_t want = i < dots ? '.' : ' ';
    if (ReadU8(e, fat::kName + static_cast<std::size_t>(i)) != want) return false;
  }
  return (ReadU8(e, fat::kAttributes) & fat::kAttrFolder) != 0;
}

bool PlausibleShort(TBytes e, std::uint32_t maxCluster) {
  const std::uint8_t attributes = ReadU8(e, fat::kAttributes);
  if (attributes >= fat::kAttrUnused) return false;
  for (std::size_t i = 0; i < fat::kNameBytes; ++i) {
    const std::uint8_t b = ReadU8(e, fat::kName + i);
    if (i == 0 && (b == fat::kDeleted || b == fat::kEscapedE5)) continue;
    if (i == 0 && b == ' ') return false;
    if (!IsShortNameByte(b)) return false;
  }
  if ((ReadU8(e, fat::kCaseBits) & ~0x18) != 0) return false;
  const std::uint32_t first = FirstCluster(e);
  if (first == 1 || first > maxCluster) return false;
  if ((attributes & fat::kAttrFolder) != 0 && ReadU32(e, fat::kSize) != 0) return false;
  return PlausibleDate(ReadU16(e, fat::kWrittenDate)) && PlausibleTime(ReadU16(e, fat::kWrittenTime)) &&
         PlausibleDate(ReadU16(e, fat::kCreatedDate)) && PlausibleDate(ReadU16(e, fat::kAccessedDate));
}

}  // namespace

std::uint8_t ShortNameChecksum(TBytes name11) {
  std::uint8_t sum = 0;
  for (std::size_t i = 0; i < fat::kNameBytes; ++i)
    sum = static_cast<std::uint8_t>(((sum & 1) << 7) + (sum >> 1) + ReadU8(name11, i));
  return sum;
}

TDirClusterShape ClassifyDirectoryCluster(TBytes cluster, std::uint32_t maxCluster) {
  TDirClusterShape shape;
  const std::size_t slots = cluster.size() / kSlot;
  if (slots < 2) return shape;
  // Most clusters are not directories: the first slot alone tells for nearly all of them.
  const TBytes first = cluster.first(kSlot);
  if (ReadU8(first, fat::kName) == fat::kEndOfDirectory) return shape;
  if (IsLong(first) ? !PlausibleLong(first) : (!IsDotEntry(first, 1) && !PlausibleShort(first, maxCluster)))
    return shape;
  std::size_t at = 0;
  if (IsDotEntry(first, 1) && IsDotEntry(cluster.subspan(kSlot, kSlot), 2)) {
    shape.HasDots = true;
    shape.Self = FirstCluster(first);
    shape.Parent = FirstCluster(cluster.subspan(kSlot, kSlot));
    if (shape.Self < 2 || shape.Self > maxCluster || shape.Parent == 1 || shape.Parent > maxCluster) return {};
    at = 2;
  } else if (IsLong(first)) {
    shape.HeadIsLong = true;
    shape.HeadChecksum = ReadU8(first, fat::kLongChecksum);
  } else if (ReadU8(first, fat::kName) != fat::kDeleted) {
    shape.HeadIsShort = true;
    shape.HeadShortChecksum = ShortNameChecksum(first);
  }
  bool inRun = false;
  std::uint8_t runChecksum = 0;
  for (; at < slots; ++at) {
    const TBytes e = cluster.subspan(at * kSlot, kSlot);
    if (ReadU8(e, fat::kName) == fat::kEndOfDirectory) {
      shape.Ended = true;
      break;
    }
    if (IsLong(e)) {
      if (!PlausibleLong(e)) return {};
      inRun = true;
      runChecksum = ReadU8(e, fat::kLongChecksum);
      continue;
    }
    if (!PlausibleShort(e, maxCluster)) return {};
    inRun = false;
    ++shape.Entries;
    shape.MaxFirstCluster = std::max(shape.MaxFirstCluster, FirstCluster(e));
  }
  if (shape.Entries == 0 && !shape.HasDots) return {};
  if (inRun && !shape.Ended) {
    shape.TailOpen = true;
    shape.TailChecksum = runChecksum;
  }
  shape.IsDirectory = true;
  return shape;
}

void TFatDirectoryDetector::Inspect(std::uint64_t offset, TBytes block) {
  if (ClusterSize == 0 || offset < DataOffset) return;
  for (std::size_t at = 0; at + ClusterSize <= block.size(); at += ClusterSize) {
    const std::uint64_t cluster = (offset + at - DataOffset) / ClusterSize + 2;
    if (cluster > MaxCluster) return;
    const TDirClusterShape shape = ClassifyDirectoryCluster(block.subspan(at, ClusterSize), MaxCluster);
    if (shape.IsDirectory) Clusters.push_back({static_cast<std::uint32_t>(cluster), shape});
  }
}

}  // namespace restovo
