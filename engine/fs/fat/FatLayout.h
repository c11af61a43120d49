// FAT directory entries and allocation-table values.
#pragma once

#include <cstddef>
#include <cstdint>

namespace restovo::fat {

// Short (8.3) directory entry.
inline constexpr std::size_t kEntryBytes = 32;
inline constexpr std::size_t kName = 0x00;         // 8 + 3 bytes
inline constexpr std::size_t kNameBytes = 11;
inline constexpr std::size_t kAttributes = 0x0B;   // u8
inline constexpr std::size_t kCaseBits = 0x0C;     // u8: 0x08 base, 0x10 extension in lower case
inline constexpr std::size_t kCreatedTime = 0x0E;  // u16
inline constexpr std::size_t kCreatedDate = 0x10;  // u16
inline constexpr std::size_t kAccessedDate = 0x12; // u16
inline constexpr std::size_t kClusterHigh = 0x14;  // u16 (FAT32)
inline constexpr std::size_t kWrittenTime = 0x16;  // u16
inline constexpr std::size_t kWrittenDate = 0x18;  // u16
inline constexpr std::size_t kClusterLow = 0x1A;   // u16
inline constexpr std::size_t kSize = 0x1C;         // u32

// Long-name entry: 13 UTF-16 units in three pieces, after its place in the run and
// before the checksum of the short entry it belongs to.
inline constexpr std::size_t kLongSequence = 0x00;  // u8: 1 for the first part; 0x40 marks the last
inline constexpr std::size_t kLongType = 0x0C;      // u8: always 0
inline constexpr std::size_t kLongChecksum = 0x0D;  // u8
inline constexpr std::size_t kLongCluster = 0x1A;   // u16: always 0
inline constexpr std::uint8_t kLongLastPart = 0x40;
inline constexpr std::uint8_t kLongMaxParts = 20;   // 255 characters
inline constexpr std::size_t kLongPart1 = 0x01;  // 5 units
inline constexpr std::size_t kLongPart2 = 0x0E;  // 6 units
inline constexpr std::size_t kLongPart3 = 0x1C;  // 2 units

// First name byte.
inline constexpr std::uint8_t kEndOfDirectory = 0x00;
inline constexpr std::uint8_t kDeleted = 0xE5;
inline constexpr std::uint8_t kEscapedE5 = 0x05;  // a name that really starts with 0xE5

// Attribute bits.
inline constexpr std::uint8_t kAttrLongName = 0x0F;  // all four low bits: a long-name entry
inline constexpr std::uint8_t kAttrFolder = 0x10;
inline constexpr std::uint8_t kAttrUnused = 0x40;   // this bit and above are never set

// Allocation-table values of each variant: end of chain, bad cluster, lowest end mark.
struct TFatMarks {
  std::uint32_t Eoc;
  std::uint32_t Bad;
  std::uint32_t Eoc2;
};
inline constexpr TFatMarks kFat12Marks{0xFFF, 0xFF7, 0xFF8};
inline constexpr TFatMarks kFat16Marks{0xFFFF, 0xFFF7, 0xFFF8};
inline constexpr TFatMarks kFat32Marks{0x0FFFFFFF, 0x0FFFFFF7, 0x0FFFFFF8};
inline constexpr std::uint32_t kFat32EntryMask = 0x0FFFFFFF;  // the top four bits are reserved
inline constexpr std::uint32_t kFat32MaxCluster = 0x0FFFFFF6;  // the highest cluster number there can be

}  // namespace restovo::fat
