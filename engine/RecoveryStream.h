// Read-only streams over the content of one found file.
#pragma once

#include <cstdint>
#include <memory>
#include <vector>

#include "DiskScaner.h"

namespace restovo {

struct TFatEntryInfo;

enum TSeekOrigin : int { soBeginning = 0, soCurrent = 1, soEnd = 2 };

class TRecoveryStream {
 public:
  // Keeps the drive and the record and opens a scanner of its own on the drive.
  TRecoveryStream(TDiskObject* disk, TFileInfo* info);
  virtual ~TRecoveryStream();
  TRecoveryStream(const TRecoveryStream&) = delete;
  TRecoveryStream& operator=(const TRecoveryStream&) = delete;

  virtual std::int64_t GetSize() const { return Info ? Info->Size : 0; }
  // Bytes delivered; 0 at the end of the data or once the data cannot be read further.
  virtual std::int64_t Read(void* buffer, std::int64_t count) = 0;
  virtual std::int64_t Seek(std::int64_t offset, TSeekOrigin origin) = 0;
  // True when a read of the volume came back short: the rest of the data is missing.
  bool ReadFailed() const { return Failed; }

  TDiskObject* Disk;
  TFileInfo* Info;
  std::unique_ptr<TDiskScaner> Scaner;

 protected:
  bool Failed = false;
};

// The data of a FAT file along its cluster chain (guessed consecutive clusters for a
// deleted file), one cluster read at a time.
class TRecoveryFatStream final : public TRecoveryStream {
 public:
  TRecoveryFatStream(TDiskObject* disk, TFileInfo* info);
  std::int64_t Read(void* buffer, std::int64_t count) override;
  std::int64_t Seek(std::int64_t offset, TSeekOrigin origin) override;
  std::int64_t GetPosition() const { return Position; }

 private:
  std::int32_t CachedIndex = -1;
  std::vector<std::byte> ClusterData;
  std::int64_t BytesInBuffer = 0;
  TFatEntryInfo* Entry = nullptr;
  std::int64_t Position = 0;
};

// The content stream for a record of the drive, or nullptr when its file system has none.
std::unique_ptr<TRecoveryStream> CreateStream(TDiskObject* disk, TFileInfo* info);

}  // namespace restovo
