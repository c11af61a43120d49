// What the scanner keeps of an NTFS file's data attribute beyond its runs.
#pragma once

#include <cstdint>

#include "fs/ntfs/NtfsDataInfo.h"
#include "records/TypesDefine.h"

namespace restovo {

// Hung on items whose data is compressed, sparse or encrypted, or not initialized to its
// end: their holes are no loss, and the content stream must know how to read them.
struct TNtfsDataInfo : TFsRecord {
  static constexpr std::uint16_t kCompressed = 0x0001;
  static constexpr std::uint16_t kEncrypted = 0x4000;
  static constexpr std::uint16_t kSparse = 0x8000;
  std::uint16_t Flags = 0;
  std::uint8_t CompressionUnit = 0;
  std::int64_t InitializedSize = -1;  // -1: the whole data size is initialized
  // A record found outside the $MFT (a deep scan): where it lies on the volume, for the
  // value it holds; -1 for a record of the $MFT.
  std::int64_t RecordOffset = -1;
};

}  // namespace restovo
