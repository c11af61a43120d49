// NTFS on-disk structures: the update-sequence check of FILE
// records, attribute walking, run lists and the per-record summary the scanner keeps.
#pragma once

#include <array>
#include <cstdint>
#include <string>
#include <vector>

#include "io/ByteOrder.h"
#include "records/TypesDefine.h"
#include "io/VolumeAccess.h"
#include "volume/BootSector.h"

namespace restovo {

// The boot sector and its geometry (TNtfsGeometry, ParseNtfsBootSector) are read by
// volume/BootSector.h, the one parser of boot sectors.

// Checks the signature ("FILE" for MFT records, "INDX" for index records) and undoes the
// update-sequence protection in place. A record with fewer than two sequence entries, or
// whose sequence array or protected words lie outside `count` bytes, is refused; nothing
// outside the buffer is read or written.
bool CheckFixups(const TNtfsGeometry& geometry, std::byte* buffer, std::int64_t count,
                 const char* signature = "FILE");

// Display name of an attribute type ("$DATA"); empty for unknown types.
const char* AttrTypeName(std::uint32_t type);

// Decodes mapping pairs onto `runs`, starting at virtual cluster firstVcn. Appends a node per
// run (Lcn -1 for a sparse run) and adds the clusters of the non-sparse runs to *allocated.
// False when the pairs run past `pairs` or describe impossible clusters; the runs decoded
// before that stay.
bool DecodeRunList(TBytes pairs, std::int64_t firstVcn, std::vector<TRunNode>& runs,
                   std::int64_t& allocated);

// A non-resident attribute of one record.
struct TNtfsStreamInfo {
  std::u16string Name;
  std::uint32_t AttrType = 0;
  std::vector<TRunNode> Runs;
  std::int64_t AllocClusters = 0;
  std::int64_t DataSize = 0;
  std::int64_t InitializedSize = 0;  // bytes past it read as zeros
  std::uint16_t Flags = 0;  // 0x0001 compressed, 0x4000 encrypted, 0x8000 sparse
  std::uint8_t CompressionUnit = 0;
};

// What one FILE record says, reused from record to record so parsing allocates nothing
// that is not kept.
struct TInodeData {
  std::int64_t RecordNo = 0;
  std::int64_t ParentRecordNo = 5;
  bool IsDirectory = false;
  bool InUse = false;
  bool HasAttrList = false;
  bool HasResident = false;  // the unnamed $DATA is resident
  // The attribute list is damaged: it breaks off before its end mark, or an attribute's
  // value or run list does not fit. What came before is kept; the record is not whole.
  bool BrokenOff = false;
  std::u16string LongName;   // first name outside the DOS namespace
  std::u16string DosName;
  std::int64_t ResidentSize = 0;
  std::uint32_t ResidentOffset = 0;  // from the start of the record
  FILETIME CreationTime = 0;
  FILETIME WriteTime = 0;
  FILETIME ChangeTime = 0;
  FILETIME AccessTime = 0;
  std::vector<TNtfsStreamInfo> Streams;  // first StreamCount entries are this record's
  std::size_t StreamCount = 0;

  void Reset(std::int64_t recordNo);
  // The unnamed $DATA stream, or nullptr.
  const TNtfsStreamInfo* UnnamedData() const;
  const TNtfsStreamInfo* Find(std::uint32_t type, std::u16string_view name) const;
};

enum class TRecordKind : std::uint8_t { Invalid, Extension, Base };

// Parses a fixed-up FILE record of `length` bytes. Extension records (a non-zero base
// reference) are reported as such and not parsed further.
TRecordKind ParseFileRecord(TBytes record, TInodeData& inode);

// The value of the record's resident attribute of this type and name, when it lies whole
// inside the record; empty otherwise.
TBytes ResidentValue(TBytes record, std::uint32_t type, std::u16string_view name);

}  // namespace restovo
