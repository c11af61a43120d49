// Byte offsets inside NTFS FILE records and their attributes.
#pragma once

#include <cstddef>
#include <cstdint>

namespace restovo::ntfs {

// FILE record header.
inline constexpr std::size_t kRecordUsaOffset = 0x04;    // u16
inline constexpr std::size_t kRecordUsaCount = 0x06;     // u16
inline constexpr std::size_t kRecordSequence = 0x10;     // u16: raised each time the record is freed
inline constexpr std::size_t kRecordFirstAttr = 0x14;    // u16
inline constexpr std::size_t kRecordFlags = 0x16;        // u16
inline constexpr std::size_t kRecordUsedBytes = 0x18;    // u32
inline constexpr std::size_t kRecordBaseRef = 0x20;      // u64, 0 for a base record
inline constexpr std::size_t kRecordNumber = 0x2C;       // u32: the record's own number (NTFS 3.1)
inline constexpr std::size_t kRecordHeaderBytes = 0x30;  // the header every record has
inline constexpr std::uint16_t kRecordInUse = 0x0001;
inline constexpr std::uint16_t kRecordIsDirectory = 0x0002;
inline constexpr std::uint64_t kReferenceMask = 0xFFFFFFFFFFFFull;  // record number of a reference

// Attribute header, common part.
inline constexpr std::size_t kAttrType = 0x00;        // u32
inline constexpr std::size_t kAttrLength = 0x04;      // u32
inline constexpr std::size_t kAttrNonResident = 0x08; // u8
inline constexpr std::size_t kAttrNameLength = 0x09;  // u8, in UTF-16 units
inline constexpr std::size_t kAttrNameOffset = 0x0A;  // u16
inline constexpr std::size_t kAttrFlags = 0x0C;       // u16
inline constexpr std::uint32_t kAttrEnd = 0xFFFFFFFF;  // the type that ends the list
inline constexpr std::uint32_t kAttrMinLength = 0x18;  // a resident header

// Resident attribute.
inline constexpr std::size_t kResValueLength = 0x10;  // u32
inline constexpr std::size_t kResValueOffset = 0x14;  // u16

// Non-resident attribute.
inline constexpr std::size_t kNonResFirstVcn = 0x10;        // u64
inline constexpr std::size_t kNonResPairsOffset = 0x20;     // u16
inline constexpr std::size_t kNonResCompressionUnit = 0x22; // u8
inline constexpr std::size_t kNonResDataSize = 0x30;        // u64
inline constexpr std::size_t kNonResInitializedSize = 0x38; // u64
inline constexpr std::uint32_t kNonResHeaderBytes = 0x40;

// Attribute types read here.
inline constexpr std::uint32_t kStandardInformation = 0x10;
inline constexpr std::uint32_t kAttributeList = 0x20;
inline constexpr std::uint32_t kFileName = 0x30;
inline constexpr std::uint32_t kData = 0x80;
inline constexpr std::uint32_t kIndexAllocation = 0xA0;
inline constexpr std::uint32_t kBitmap = 0xB0;

// $FILE_NAME value.
inline constexpr std::size_t kNameParent = 0x00;      // u64 reference
inline constexpr std::size_t kNameLength = 0x40;      // u8
inline constexpr std::size_t kNameSpace = 0x41;       // u8
inline constexpr std::size_t kNameChars = 0x42;
inline constexpr std::uint8_t kNameSpaceDos = 2;

// More of the $FILE_NAME value, as index entries carry it.
inline constexpr std::size_t kNameCreated = 0x08;   // u64 FILETIME
inline constexpr std::size_t kNameWritten = 0x10;
inline constexpr std::size_t kNameAccessed = 0x20;
inline constexpr std::size_t kNameRealSize = 0x30;  // u64
inline constexpr std::size_t kNameFlags = 0x38;     // u32
inline constexpr std::uint32_t kNameIsDirectory = 0x10000000;
inline constexpr std::size_t kNameMaxChars = 255;

// INDX record: the header of a folder's index block, then its node header.
inline constexpr std::size_t kIndexNode = 0x18;
// $INDEX_ROOT value: the index's type and sizes, then the same node header.
inline constexpr std::size_t kRootNode = 0x10;
inline constexpr std::uint32_t kIndexRoot = 0x90;
inline constexpr std::size_t kNodeEntriesOffset = 0x00;  // u32, from the node header
inline constexpr std::size_t kNodeUsedBytes = 0x04;      // u32, from the node header
inline constexpr std::size_t kNodeAllocatedBytes = 0x08; // u32, from the node header

// Index entry of a folder's $I30 index: a file reference and its $FILE_NAME as the key.
inline constexpr std::size_t kEntryFileRef = 0x00;    // u64
inline constexpr std::size_t kEntryLength = 0x08;     // u16
inline constexpr std::size_t kEntryKeyLength = 0x0A;  // u16
inline constexpr std::size_t kEntryFlags = 0x0C;      // u16
inline constexpr std::size_t kEntryKey = 0x10;
inline constexpr std::uint16_t kEntryLast = 0x0002;

// $STANDARD_INFORMATION value.
inline constexpr std::size_t kInfoCreated = 0x00;
inline constexpr std::size_t kInfoWritten = 0x08;
inline constexpr std::size_t kInfoChanged = 0x10;
inline constexpr std::size_t kInfoAccessed = 0x18;
inline constexpr std::size_t kInfoTimesBytes = 0x20;

}  // namespace restovo::ntfs
