#include "volume/BootSector.h"

#include <algorithm>
#include <array>
#include <bit>
#include <cstring>
#include <memory>
#include <vector>

#include "volume/BootSectorLayout.h"

namespace restovo {

namespace {

bool IsSectorSize(std::uint32_t n) { return n == 512 || n == 1024 || n == 2048 || n == 4096; }

std::string TrimmedLabel(TBytes b, std::size_t at) {
  std::string label;
  for (std::size_t i = 0; i < boot::kLabelLength; ++i) label.push_back(static_cast<char>(ReadU8(b, at + i)));
  while (!label.empty() && (label.back() == ' ' || label.back() == '\0')) label.pop_back();
  if (label == "NO NAME") label.clear();
  return label;
}

bool HasOemName(TBytes b, const char* name) {
  return std::memcmp(b.data() + boot::kOemName, name, boot::kOemNameLength) == 0;
}

bool ParseExFat(TBytes b, TBootInfo& info) {
  if (!HasOemName(b, "EXFAT   ")) return false;
  const std::uint32_t sectorShift = ReadU8(b, boot::kExFatSectorShift);
  const std::uint32_t clusterShift = ReadU8(b, boot::kExFatClusterShift);
  if (sectorShift < 9 || sectorShift > 12 || sectorShift + clusterShift > 25) return false;
  info.Kind = fkExFat;
  info.BytesPerSector = 1u << sectorShift;
  info.ClusterSize = 1u << (sectorShift + clusterShift);
  info.TotalSectors = ReadU64(b, boot::kExFatTotalSectors);
  info.TotalClusters = ReadU32(b, boot::kExFatClusterCount);
  info.Serial = ReadU32(b, boot::kExFatSerial);
  return true;
}

}  // namespace

bool ParseFatBootSector(TBytes b, TBootInfo& info) {
  info = TBootInfo{};
  if (b.size() < boot::kSectorBytes) return false;
  const std::uint8_t jump = ReadU8(b, boot::kJump);
  if (jump != 0xEB && jump != 0xE9) return false;
  const std::uint32_t bps = ReadU16(b, boot::kBytesPerSector);
  const std::uint32_t spc = ReadU8(b, boot::kSectorsPerCluster);
  const std::uint32_t reserved = ReadU16(b, boot::kReservedSectors);
  const std::uint32_t fats = ReadU8(b, boot::kFatCount);
  const std::uint32_t rootEntries = ReadU16(b, boot::kRootEntries);
  const std::uint32_t fat16Size = ReadU16(b, boot::kFatSectors16);
  const std::uint32_t fatSize = fat16Size != 0 ? fat16Size : ReadU32(b, boot::kFat32FatSectors);
  const std::uint32_t total =
      ReadU16(b, boot::kTotalSectors16) != 0 ? ReadU16(b, boot::kTotalSectors16) : ReadU32(b, boot::kTotalSectors32);
  if (!IsSectorSize(bps) || spc == 0 || !std::has_single_bit(spc) || reserved == 0 ||
      fats == 0 || fatSize == 0 || total == 0) {
    return false;
  }
  const auto rootSectors = static_cast<std::uint32_t>((rootEntries * std::uint64_t{boot::kDirEntryBytes} + bps - 1) / bps);
  const std::uint64_t firstData = reserved + static_cast<std::uint64_t>(fats) * fatSize + rootSectors;
  if (firstData >= total) return false;
  const std::uint64_t clusters = (total - firstData) / spc;
  if (clusters == 0) return false;

  TFatGeometry& g = info.Fat;
  // FAT32 is told by its 32-bit table size field, as the kernel and libblkid do.
  if (fat16Size == 0) {
    info.Kind = fkFat32;
    info.Serial = ReadU32(b, boot::kFat32Serial);
    if (ReadU8(b, boot::kFat32Signature) == boot::kExtendedSignature) info.Label = TrimmedLabel(b, boot::kFat32Label);
    const std::uint16_t extFlags = ReadU16(b, boot::kFat32ExtFlags);
    g.ActiveFat = (extFlags & boot::kExtFlagsOneTable) ? (extFlags & boot::kExtFlagsActiveMask) : 0;
    if (g.ActiveFat >= fats) return false;
    g.RootCluster = ReadU32(b, boot::kFat32RootCluster);
  } else {
    info.Kind = clusters < 4085 ? fkFat12 : fkFat16;
    info.Serial = ReadU32(b, boot::kFat16Serial);
    if (ReadU8(b, boot::kFat16Signature) == boot::kExtendedSignature) info.Label = TrimmedLabel(b, boot::kFat16Label);
  }
  g.SectorsPerCluster = spc;
  g.ReservedSectors = reserved;
  g.FatCount = fats;
  g.FatSectors = fatSize;
  g.RootEntries = rootEntries;
  g.RootDirSectors = rootSectors;
  g.FirstDataSector = firstData;
  g.Media = ReadU8(b, boot::kMedia);
  info.BytesPerSector = bps;
  info.ClusterSize = bps * spc;
  info.TotalSectors = total;
  info.TotalClusters = clusters;
  info.FatBytes = static_cast<std::uint64_t>(fatSize) * bps;
  info.FatOffset = (reserved + static_cast<std::uint64_t>(g.ActiveFat) * fatSize) * bps;
  return true;
}

bool ParseNtfsBootSector(TBytes b, TNtfsGeometry& g) {
  g = TNtfsGeometry{};
  if (b.size() < boot::kSectorBytes || !HasOemName(b, "NTFS    ")) return false;
  const std::uint32_t bps = ReadU16(b, boot::kBytesPerSector);
  const std::uint32_t rawSpc = ReadU8(b, boot::kSectorsPerCluster);
  // Values above 0x80 give the cluster size as a negative power of two in sectors.
  std::uint32_t spc = rawSpc;
  if (rawSpc > 0x80) spc = 256 - rawSpc < 24 ? 1u << (256 - rawSpc) : 0;
  if (!IsSectorSize(bps) || spc == 0 || !std::has_single_bit(spc)) return false;
  const std::uint64_t clusterBytes = std::uint64_t{bps} * spc;
  if (clusterBytes > (1u << 24)) return false;
  const std::uint64_t total = ReadU64(b, boot::kNtfsTotalSectors);
  // The volume's size in bytes must fit: every offset on it is computed from it.
  if (total == 0 || total > static_cast<std::uint64_t>(INT64_MAX) / bps) return false;
  const auto perRecord = static_cast<std::int8_t>(ReadU8(b, boot::kNtfsRecordSize));
  std::uint64_t recordBytes = 0;
  if (perRecord > 0) recordBytes = static_cast<std::uint64_t>(perRecord) * clusterBytes;
  else if (perRecord < 0 && perRecord > -31) recordBytes = 1ull << -perRecord;
  if (recordBytes < 256 || recordBytes > 65536 || recordBytes % std::min<std::uint32_t>(bps, 512) != 0) return false;
  const std::uint64_t clusters = total / spc;
  const std::uint64_t mftLcn = ReadU64(b, boot::kNtfsMftLcn);
  if (clusters == 0 || mftLcn >= clusters) return false;
  g.BytesPerSector = bps;
  g.SectorsPerCluster = spc;
  g.TotalSectors = static_cast<std::int64_t>(total);
  g.MftLcn = static_cast<std::int64_t>(mftLcn);
  g.MftMirrLcn = static_cast<std::int64_t>(ReadU64(b, boot::kNtfsMftMirrLcn) & 0x7FFFFFFFFFFFFFFFull);
  g.BytesPerRecord = static_cast<std::int64_t>(recordBytes);
  g.ClustersPerIndexRecord = ReadU32(b, boot::kNtfsIndexSize);
  return true;
}

namespace {

bool ParseNtfs(TBytes b, TBootInfo& info) {
  TNtfsGeometry g;
  if (!ParseNtfsBootSector(b, g)) return false;
  info.Kind = fkNtfs;
  info.BytesPerSector = static_cast<std::uint32_t>(g.BytesPerSector);
  info.ClusterSize = static_cast<std::uint32_t>(g.ClusterBytes());
  info.TotalSectors = static_cast<std::uint64_t>(g.TotalSectors);
  info.TotalClusters = static_cast<std::uint64_t>(g.TotalClusters());
  info.MftLcn = static_cast<std::uint64_t>(g.MftLcn);
  info.MftRecordSize = static_cast<std::uint32_t>(g.BytesPerRecord);
  info.Serial = ReadU32(b, boot::kNtfsSerial);
  info.Ntfs = g;
  return true;
}

}  // namespace

bool ParseBootSector(TBytes sector, TBootInfo& info) {
  info = TBootInfo{};
  if (sector.size() < boot::kSectorBytes) return false;
  if (ParseNtfs(sector, info)) return true;
  info = TBootInfo{};
  if (ParseExFat(sector, info)) return true;
  if (ParseFatBootSector(sector, info)) return true;
  info = TBootInfo{};
  return false;
}

bool ReadBootInfo(const TVolumeHandle& volume, TBootInfo& info) {
  std::array<std::byte, boot::kSectorBytes> sector{};
  if (ReadVolume(volume, sector.data(), boot::kSectorBytes, 0) != boot::kSectorBytes) {
    info = TBootInfo{};
    return false;
  }
  return ParseBootSector(sector, info);
}

namespace {

constexpr std::uint32_t kChunk = 1u << 20;

std::int64_t CountFreeFat(const TVolumeHandle& volume, const TBootInfo& info) {
  const std::uint64_t entries = info.TotalClusters + 2;
  const std::uint64_t need = info.Kind == fkFat12 ? (entries * 3 + 1) / 2
                             : info.Kind == fkFat16 ? entries * 2
                                                             : entries * 4;
  if (need > info.FatBytes) return -1;
  std::int64_t free = 0;
  if (info.Kind == fkFat12) {
    std::vector<std::byte> table(need);
    if (ReadVolume(volume, table.data(), static_cast<std::uint32_t>(need), info.FatOffset) != need)
      return -1;
    for (std::uint64_t k = 2; k < entries; ++k) {
      const std::uint16_t w = ReadU16(table, k + k / 2);
      if (((k & 1) ? (w >> 4) : (w & 0xFFF)) == 0) ++free;
    }
    return free;
  }
  const std::uint32_t width = info.Kind == fkFat16 ? 2 : 4;
  const auto chunkBytes = static_cast<std::size_t>(std::min<std::uint64_t>(kChunk, need));
  const auto chunk = std::make_unique_for_overwrite<std::byte[]>(chunkBytes);
  for (std::uint64_t done = 0; done < need;) {
    const auto n = static_cast<std::uint32_t>(std::min<std::uint64_t>(chunkBytes, need - done));
    if (ReadVolume(volume, chunk.get(), n, info.FatOffset + done) != n) return -1;
    const TBytes bytes(chunk.get(), n);
    for (std::uint32_t at = 0; at < n; at += width) {
      const std::uint64_t k = (done + at) / width;
      if (k < 2) continue;
      const std::uint32_t v = width == 2 ? ReadU16(bytes, at) : (ReadU32(bytes, at) & 0x0FFFFFFF);
      if (v == 0) ++free;
    }
    done += n;
  }
  return free;
}

// Undoes the update-sequence protection of a record in place; false when it does not match.
bool ApplyFixups(std::vector<std::byte>& record, std::uint32_t sectorSize) {
  const std::uint16_t at = ReadU16(record, 4);
  const std::uint16_t count = ReadU16(record, 6);
  if (count < 2 || static_cast<std::size_t>(at) + count * 2u > record.size() ||
      static_cast<std::size_t>(count - 1) * sectorSize > record.size()) {
    return false;
  }
  const std::uint16_t usn = ReadU16(record, at);
  for (std::uint32_t i = 1; i < count; ++i) {
    const std::size_t end = static_cast<std::size_t>(i) * sectorSize - 2;
    if (ReadU16(record, end) != usn) return false;
    record[end] = record[at + 2 * i];
    record[end + 1] = record[at + 2 * i + 1];
  }
  return true;
}

std::int64_t CountFreeNtfs(const TVolumeHandle& volume, const TBootInfo& info) {
  // The volume bitmap is the unnamed $DATA of file record 6.
  std::vector<std::byte> record(info.MftRecordSize);
  const std::uint64_t at = info.MftLcn * info.ClusterSize + 6ull * info.MftRecordSize;
  if (ReadVolume(volume, record.data(), info.MftRecordSize, at) != info.MftRecordSize) return -1;
  if (std::memcmp(record.data(), "FILE", 4) != 0 ||
      !ApplyFixups(record, std::min<std::uint32_t>(info.BytesPerSector, 512))) {
    return -1;
  }
  std::size_t attr = ReadU16(record, 20);
  while (attr + 16 <= record.size()) {
    const std::uint32_t type = ReadU32(record, attr);
    const std::uint32_t length = ReadU32(record, attr + 4);
    if (type == 0xFFFFFFFF || length < 16 || attr + length > record.size()) return -1;
    if (type == 0x80 && ReadU8(record, attr + 8) == 1 && ReadU8(record, attr + 9) == 0) break;
    attr += length;
  }
  if (attr + 64 > record.size()) return -1;
  const std::size_t end = attr + ReadU32(record, attr + 4);
  std::size_t run = attr + ReadU16(record, attr + 32);
  const std::uint64_t bits = info.TotalClusters;
  std::uint64_t bitIndex = 0;
  std::int64_t lcn = 0;
  std::int64_t free = 0;
  // Sized to the bitmap and left unzeroed: on a small volume this count is most of the
  // start-up of a scan.
  const auto chunkBytes = static_cast<std::size_t>(std::min<std::uint64_t>(kChunk, (bits + 7) / 8));
  const auto chunk = std::make_unique_for_overwrite<std::byte[]>(chunkBytes);
  while (run < end && bitIndex < bits) {
    const std::uint8_t header = ReadU8(record, run);
    if (header == 0) break;
    const unsigned lenSize = header & 0x0F, offSize = header >> 4;
    if (lenSize == 0 || lenSize > 8 || offSize > 8 || run + 1 + lenSize + offSize > end) return -1;
    std::uint64_t clusters = 0;
    for (unsigned i = 0; i < lenSize; ++i) clusters |= std::uint64_t{ReadU8(record, run + 1 + i)} << (8 * i);
    std::uint64_t delta = 0;
    for (unsigned i = 0; i < offSize; ++i) delta |= std::uint64_t{ReadU8(record, run + 1 + lenSize + i)} << (8 * i);
    if (offSize > 0 && offSize < 8 && (delta >> (8 * offSize - 1)) & 1) delta |= ~0ull << (8 * offSize);
    run += 1 + lenSize + offSize;
    if (offSize == 0) return -1;  // a sparse volume bitmap is not a real one
    lcn += static_cast<std::int64_t>(delta);
    if (lcn < 0 || clusters > info.TotalClusters) return -1;
    std::uint64_t bytes = clusters * info.ClusterSize;
    std::uint64_t pos = static_cast<std::uint64_t>(lcn) * info.ClusterSize;
    while (bytes > 0 && bitIndex < bits) {
      const auto n = static_cast<std::uint32_t>(std::min<std::uint64_t>(chunkBytes, bytes));
      if (ReadVolume(volume, chunk.get(), n, pos) != n) return -1;
      for (std::uint32_t i = 0; i < n && bitIndex < bits; ++i) {
        const auto byte = static_cast<std::uint8_t>(chunk[i]);
        const std::uint64_t take = std::min<std::uint64_t>(8, bits - bitIndex);
        const std::uint8_t mask = static_cast<std::uint8_t>(take == 8 ? 0xFF : (1u << take) - 1);
        free += static_cast<std::int64_t>(take) - std::popcount(static_cast<std::uint8_t>(byte & mask));
        bitIndex += take;
      }
      bytes -= n;
      pos += n;
    }
  }
  return bitIndex == bits ? free : -1;
}

}  // namespace

std::int64_t CountFreeClusters(const TVolumeHandle& volume, const TBootInfo& info) {
  switch (info.Kind) {
    case fkFat12:
    case fkFat16:
    case fkFat32: return CountFreeFat(volume, info);
    case fkNtfs: return CountFreeNtfs(volume, info);
    default: return -1;
  }
}

}  // namespace restovo
