#include "volume/PartitionTable.h"

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <set>

#include "volume/BootSector.h"
#include "records/TypesDefine.h"

namespace restovo {

namespace {

constexpr std::uint32_t kSector = 512;
constexpr int kMaxLogical = 128;
constexpr std::uint32_t kMaxGptEntries = 1024;

std::string GuidText(TBytes b, std::size_t at) {
  char text[37];
  std::snprintf(text, sizeof text, "%08x-%04x-%04x-%02x%02x-%02x%02x%02x%02x%02x%02x",
                ReadU32(b, at), ReadU16(b, at + 4), ReadU16(b, at + 6), ReadU8(b, at + 8),
                ReadU8(b, at + 9), ReadU8(b, at + 10), ReadU8(b, at + 11), ReadU8(b, at + 12),
                ReadU8(b, at + 13), ReadU8(b, at + 14), ReadU8(b, at + 15));
  return text;
}

}  // namespace

bool IsExtendedType(std::uint8_t type) { return type == 0x05 || type == 0x0F || type == 0x85; }

bool ParseMbrSector(TBytes sector, std::array<TMbrEntry, 4>& entries) {
  if (sector.size() < kSector || ReadU16(sector, 510) != 0xAA55) return false;
  for (std::size_t i = 0; i < 4; ++i) {
    const std::size_t at = 446 + 16 * i;
    entries[i] = {ReadU8(sector, at), ReadU8(sector, at + 4), ReadU32(sector, at + 8),
                  ReadU32(sector, at + 12)};
  }
  return true;
}

bool ParseGptHeader(TBytes sector, TGptHeader& header) {
  if (sector.size() < 92 || std::memcmp(sector.data(), "EFI PART", 8) != 0) return false;
  const std::uint32_t size = ReadU32(sector, 12);
  if (size < 92 || size > sector.size()) return false;
  std::vector<std::byte> copy(sector.begin(), sector.begin() + size);
  std::memset(copy.data() + 16, 0, 4);
  if (Crc32(copy) != ReadU32(sector, 16)) return false;
  header.MyLba = ReadU64(sector, 24);
  header.AlternateLba = ReadU64(sector, 32);
  header.FirstUsableLba = ReadU64(sector, 40);
  header.LastUsableLba = ReadU64(sector, 48);
  header.EntriesLba = ReadU64(sector, 72);
  header.EntryCount = ReadU32(sector, 80);
  header.EntrySize = ReadU32(sector, 84);
  header.EntriesCrc = ReadU32(sector, 88);
  return header.EntryCount > 0 && header.EntryCount <= kMaxGptEntries &&
         header.EntrySize >= 128 && header.EntrySize <= 4096 && header.EntrySize % 8 == 0;
}

std::vector<TPartition> ParseGptEntries(TBytes entries, const TGptHeader& header,
                                        std::uint32_t sectorSize) {
  std::vector<TPartition> out;
  for (std::uint32_t i = 0; i < header.EntryCount; ++i) {
    const std::size_t at = static_cast<std::size_t>(i) * header.EntrySize;
    if (at + 128 > entries.size()) break;
    bool used = false;
    for (std::size_t k = 0; k < 16; ++k) used |= ReadU8(entries, at + k) != 0;
    const std::uint64_t first = ReadU64(entries, at + 32);
    const std::uint64_t last = ReadU64(entries, at + 40);
    if (!used || first == 0 || last < first) continue;
    TPartition p;
    p.Number = static_cast<int>(i + 1);
    p.Offset = first * sectorSize;
    p.Length = (last - first + 1) * sectorSize;
    if (p.Offset / sectorSize != first) continue;  // overflow: not a real entry
    p.TypeGuid = GuidText(entries, at);
    std::u16string name;
    for (std::size_t k = 0; k < 36; ++k) {
      const char16_t u = ReadU16(entries, at + 56 + 2 * k);
      if (u == 0) break;
      name.push_back(u);
    }
    p.Name = Utf16ToUtf8(name);
    out.push_back(std::move(p));
  }
  return out;
}

namespace {

bool ReadSector(const TVolumeHandle& disk, std::uint64_t lba, std::array<std::byte, kSector>& buf) {
  return lba <= UINT64_MAX / kSector && ReadVolume(disk, buf.data(), kSector, lba * kSector) == kSector;
}

bool ReadGpt(const TVolumeHandle& disk, std::uint64_t headerLba, TPartitionTable& table) {
  std::array<std::byte, kSector> sector{};
  TGptHeader header;
  if (!ReadSector(disk, headerLba, sector) || !ParseGptHeader(sector, header)) return false;
  const std::uint64_t bytes = static_cast<std::uint64_t>(header.EntryCount) * header.EntrySize;
  std::vector<std::byte> entries(bytes);
  if (header.EntriesLba > UINT64_MAX / kSector ||
      ReadVolume(disk, entries.data(), static_cast<std::uint32_t>(bytes),
                 header.EntriesLba * kSector) != bytes) {
    return false;
  }
  if (Crc32(entries) != header.EntriesCrc) return false;
  table.Kind = TTableKind::Gpt;
  table.Partitions = ParseGptEntries(entries, header, kSector);
  return true;
}

void ReadLogicalPartitions(const TVolumeHandle& disk, std::uint64_t extStart,
                           TPartitionTable& table) {
  std::set<std::uint64_t> seen;
  std::uint64_t ebr = extStart;
  int number = 5;
  while (number < 5 + kMaxLogical) {
    if (!seen.insert(ebr).second) {
      table.Problems.push_back("The chain of logical partitions loops; it was read up to the loop.");
      return;
    }
    std::array<std::byte, kSector> sector{};
    std::array<TMbrEntry, 4> entries{};
    if (!ReadSector(disk, ebr, sector) || !ParseMbrSector(sector, entries)) {
      table.Problems.push_back("A logical partition record could not be read.");
      return;
    }
    const TMbrEntry& logical = entries[0];
    if (logical.Type != 0 && logical.Sectors != 0) {
      TPartition p;
      p.Number = number++;
      p.Offset = (ebr + logical.StartLba) * kSector;
      p.Length = static_cast<std::uint64_t>(logical.Sectors) * kSector;
      p.MbrType = logical.Type;
      table.Partitions.push_back(p);
    }
    const TMbrEntry& next = entries[1];
    if (!IsExtendedType(next.Type) || next.StartLba == 0) return;
    ebr = extStart + next.StartLba;
  }
  table.Problems.push_back("More logical partitions than can be real; the rest were skipped.");
}

}  // namespace

TPartitionTable ReadPartitionTable(const TVolumeHandle& disk) {
  TPartitionTable table;
  std::array<std::byte, kSector> sector{};
  if (!ReadSector(disk, 0, sector)) return table;
  TBootInfo boot;
  if (ParseBootSector(sector, boot)) return table;  // a volume without a table

  std::array<TMbrEntry, 4> entries{};
  if (!ParseMbrSector(sector, entries)) return table;
  bool protective = false;
  for (const auto& e : entries) protective |= e.Type == 0xEE;
  if (protective) {
    if (ReadGpt(disk, 1, table)) return table;
    const std::uint64_t lastLba = disk.Size() / kSector;
    if (lastLba > 0 && ReadGpt(disk, lastLba - 1, table)) {
      table.Problems.push_back(
          "The primary GPT is damaged; the partitions were read from the backup copy.");
      return table;
    }
    table.Kind = TTableKind::Gpt;
    table.Problems.push_back("The GPT headers are damaged; no partition could be read.");
    return table;
  }

  // Partition entries must at least start inside the disk and not overlap the table itself,
  // otherwise the sector is boot code with a signature, not a table.
  const std::uint64_t diskSectors = disk.Size() / kSector;
  bool any = false;
  for (const auto& e : entries) {
    if (e.Type == 0 || e.Sectors == 0) continue;
    if ((e.Status != 0 && e.Status != 0x80) || e.StartLba == 0 || e.StartLba >= diskSectors)
      return table;
    any = true;
  }
  if (!any) return table;

  table.Kind = TTableKind::Mbr;
  bool extendedSeen = false;
  for (std::size_t i = 0; i < 4; ++i) {
    const TMbrEntry& e = entries[i];
    if (e.Type == 0 || e.Sectors == 0) continue;
    if (IsExtendedType(e.Type)) {
      if (!extendedSeen) ReadLogicalPartitions(disk, e.StartLba, table);
      extendedSeen = true;
      continue;
    }
    TPartition p;
    p.Number = static_cast<int>(i + 1);
    p.Offset = static_cast<std::uint64_t>(e.StartLba) * kSector;
    p.Length = static_cast<std::uint64_t>(e.Sectors) * kSector;
    p.MbrType = e.Type;
    table.Partitions.push_back(p);
  }
  for (auto& p : table.Partitions) {
    if (p.Offset + p.Length > disk.Size()) {
      table.Problems.push_back("Partition " + std::to_string(p.Number) +
                               " reaches past the end of the disk; it is read up to the end.");
    }
  }
  // Primary partitions come first in the table; list them in number order.
  std::stable_sort(table.Partitions.begin(), table.Partitions.end(),
                   [](const TPartition& a, const TPartition& b) { return a.Number < b.Number; });
  return table;
}

}  // namespace restovo
