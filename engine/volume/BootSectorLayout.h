// Byte offsets of the fields of a volume boot sector: the BIOS parameter block FAT12/16/32
// share, the extended blocks of FAT12/16 and FAT32, and the NTFS and exFAT boot sectors.
#pragma once

#include <cstddef>
#include <cstdint>

namespace restovo::boot {

inline constexpr std::size_t kSectorBytes = 512;  // what is read and parsed
inline constexpr std::size_t kJump = 0x00;
inline constexpr std::size_t kOemName = 0x03;  // 8 bytes: "NTFS    ", "EXFAT   "
inline constexpr std::size_t kOemNameLength = 8;

// The parameter block every FAT variant and NTFS begin with.
inline constexpr std::size_t kBytesPerSector = 0x0B;    // u16
inline constexpr std::size_t kSectorsPerCluster = 0x0D; // u8
inline constexpr std::size_t kReservedSectors = 0x0E;   // u16
inline constexpr std::size_t kFatCount = 0x10;          // u8
inline constexpr std::size_t kRootEntries = 0x11;       // u16, 0 on FAT32
inline constexpr std::size_t kTotalSectors16 = 0x13;    // u16, 0 when kTotalSectors32 holds it
inline constexpr std::size_t kMedia = 0x15;             // u8, repeated in the first FAT entry
inline constexpr std::size_t kFatSectors16 = 0x16;      // u16, 0 on FAT32
inline constexpr std::size_t kTotalSectors32 = 0x20;    // u32

// FAT12/16 extended block.
inline constexpr std::size_t kFat16Signature = 0x26;  // u8, 0x29 when serial and label follow
inline constexpr std::size_t kFat16Serial = 0x27;     // u32
inline constexpr std::size_t kFat16Label = 0x2B;      // 11 bytes

// FAT32 extended block.
inline constexpr std::size_t kFat32FatSectors = 0x24;   // u32
inline constexpr std::size_t kFat32ExtFlags = 0x28;     // u16: bit 7 one table only, bits 0-3 which
inline constexpr std::size_t kFat32RootCluster = 0x2C;  // u32
inline constexpr std::size_t kFat32Signature = 0x42;    // u8, 0x29 when serial and label follow
inline constexpr std::size_t kFat32Serial = 0x43;       // u32
inline constexpr std::size_t kFat32Label = 0x47;        // 11 bytes

inline constexpr std::size_t kLabelLength = 11;
inline constexpr std::uint8_t kExtendedSignature = 0x29;
inline constexpr std::uint16_t kExtFlagsOneTable = 0x80;
inline constexpr std::uint16_t kExtFlagsActiveMask = 0x0F;
inline constexpr std::uint32_t kDirEntryBytes = 32;

// NTFS.
inline constexpr std::size_t kNtfsTotalSectors = 0x28;  // u64
inline constexpr std::size_t kNtfsMftLcn = 0x30;        // u64
inline constexpr std::size_t kNtfsMftMirrLcn = 0x38;    // u64
inline constexpr std::size_t kNtfsRecordSize = 0x40;    // s8: clusters, or -log2 of bytes
inline constexpr std::size_t kNtfsIndexSize = 0x44;     // u32
inline constexpr std::size_t kNtfsSerial = 0x48;        // u32 (of a u64)

// exFAT.
inline constexpr std::size_t kExFatTotalSectors = 0x48;  // u64
inline constexpr std::size_t kExFatClusterCount = 0x5C;  // u32
inline constexpr std::size_t kExFatSerial = 0x64;        // u32
inline constexpr std::size_t kExFatSectorShift = 0x6C;   // u8
inline constexpr std::size_t kExFatClusterShift = 0x6D;  // u8

}  // namespace restovo::boot
