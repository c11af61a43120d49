// Read-only streams over the content of one found file.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "fs/DiskScaner.h"

namespace restovo {

struct TFatEntryInfo;

enum TSeekOrigin : int { soBeginning = 0, soCurrent = 1, soEnd = 2 };

class TRecoveryStream {
 public:
  // Keeps the drive and the record; with ownScanner opens a scanner of its own on the
  // drive (FAT), else reads through the drive's current scanner (NTFS: it knows the MFT).
  TRecoveryStream(TDiskObject* disk, TFileInfo* info, bool ownScanner = true);
  virtual ~TRecoveryStream();
  TRecoveryStream(const TRecoveryStream&) = delete;
  TRecoveryStream& operator=(const TRecoveryStream&) = delete;

  virtual std::int64_t GetSize() const { return Info ? Info->Size : 0; }
  // Bytes delivered; 0 at the end of the data or once the data cannot be read further.
  virtual std::int64_t Read(void* buffer, std::int64_t count) = 0;
  // Moves the read position, kept inside 0 .. size; without a record nothing moves.
  std::int64_t Seek(std::int64_t offset, TSeekOrigin origin);
  std::int64_t GetPosition() const { return Position; }
  // True when a read of the volume came back short: the rest of the data is missing.
  bool ReadFailed() const { return Failed; }
  // Set when the data cannot be given back readably at all (encrypted files): why.
  const std::string& Refusal() const { return RefusalText; }

  TDiskObject* Disk;
  TFileInfo* Info;
  std::unique_ptr<TDiskScaner> Scaner;

 protected:
  bool Failed = false;
  std::string RefusalText;
  std::int64_t Position = 0;
};

// The data of a FAT file along its cluster chain (guessed consecutive clusters for a
// deleted file), one cluster read at a time.
class TRecoveryFatStream final : public TRecoveryStream {
 public:
  TRecoveryFatStream(TDiskObject* disk, TFileInfo* info);
  std::int64_t Read(void* buffer, std::int64_t count) override;

 private:
  std::int32_t CachedIndex = -1;
  std::vector<std::byte> ClusterData;
  std::int64_t BytesInBuffer = 0;
  TFatEntryInfo* Entry = nullptr;
};

// The bytes of a file found by its content: one stretch of the volume.
class TRecoveryCarvedStream final : public TRecoveryStream {
 public:
  TRecoveryCarvedStream(TDiskObject* disk, TFileInfo* info);
  std::int64_t Read(void* buffer, std::int64_t count) override;

 private:
  std::vector<TByteRange> Pieces;
};

class TNtfsScaner;

// The data of an NTFS file: resident bytes from its MFT record, or its runs with holes read
// as zeros at their true offsets, compressed units decompressed, and bytes past the
// initialized size as zeros.
class TRecoveryNtfsStream final : public TRecoveryStream {
 public:
  TRecoveryNtfsStream(TDiskObject* disk, TFileInfo* info);
  std::int64_t Read(void* buffer, std::int64_t count) override;

 private:
  // Fills `out` with `count` bytes of the stream at `position`; false where the volume
  // cannot give them.
  bool ReadRuns(std::int64_t position, std::int64_t count, std::byte* out);
  bool ReadCompressed(std::int64_t position, std::int64_t count, std::byte* out);
  bool LoadUnit(std::int64_t unit);

  const TNtfsScaner* Source = nullptr;
  std::int64_t ClusterBytes = 0;
  std::int64_t InitializedSize = 0;
  std::vector<std::byte> ResidentData;
  bool IsResident = false;
  std::uint32_t UnitClusters = 0;  // compression unit; 0 when not compressed
  std::int64_t CachedUnit = -1;
  std::vector<std::byte> UnitData;
  std::vector<std::byte> Packed;
};

// The content stream for a record of the drive, or nullptr when its file system has none.
std::unique_ptr<TRecoveryStream> CreateStream(TDiskObject* disk, TFileInfo* info);

}  // namespace restovo
