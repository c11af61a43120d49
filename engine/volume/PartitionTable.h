// MBR (primary, extended and logical) and GPT partition tables of a whole disk or disk
// image. A source whose first sector is itself a volume boot sector has no table.
#pragma once

#include <array>
#include <cstdint>
#include <string>
#include <vector>

#include "io/ByteOrder.h"
#include "io/Crc32.h"
#include "io/VolumeAccess.h"

namespace restovo {

enum class TTableKind : std::uint8_t { None, Mbr, Gpt };

struct TPartition {
  int Number = 0;  // MBR: 1-4 primary, 5 and up logical (as Linux numbers them); GPT: slot + 1
  std::uint64_t Offset = 0;  // bytes from the start of the disk
  std::uint64_t Length = 0;  // bytes
  std::uint8_t MbrType = 0;
  std::string TypeGuid;  // GPT, lower-case text form
  std::string Name;      // GPT partition name
};

struct TPartitionTable {
  TTableKind Kind = TTableKind::None;
  std::vector<TPartition> Partitions;
  // Damage found while reading, one sentence each ("The GPT header checksum is wrong ...").
  std::vector<std::string> Problems;
};

struct TMbrEntry {
  std::uint8_t Status = 0;
  std::uint8_t Type = 0;
  std::uint32_t StartLba = 0;
  std::uint32_t Sectors = 0;
};

struct TGptHeader {
  std::uint64_t MyLba = 0;
  std::uint64_t AlternateLba = 0;
  std::uint64_t FirstUsableLba = 0;
  std::uint64_t LastUsableLba = 0;
  std::uint64_t EntriesLba = 0;
  std::uint32_t EntryCount = 0;
  std::uint32_t EntrySize = 0;
  std::uint32_t EntriesCrc = 0;
};

bool IsExtendedType(std::uint8_t type);
// The four entries of an MBR or EBR sector; false without the 0x55AA signature.
bool ParseMbrSector(TBytes sector, std::array<TMbrEntry, 4>& entries);
// A GPT header with a correct checksum and sane entry array figures.
bool ParseGptHeader(TBytes sector, TGptHeader& header);
// The used entries of a GPT entry array, numbered by slot.
std::vector<TPartition> ParseGptEntries(TBytes entries, const TGptHeader& header,
                                        std::uint32_t sectorSize);

TPartitionTable ReadPartitionTable(const TVolumeHandle& disk);

}  // namespace restovo
