// Raw, read-only access to a volume: a block device, a disk image, a partition inside
// either, or bytes in memory. Nothing here ever writes to the source.
#pragma once

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "io/ReadResult.h"

namespace restovo {

// A byte source read at absolute positions.
class TVolumeDevice {
 public:
  virtual ~TVolumeDevice() = default;
  // Reads up to count bytes at offset; the bytes delivered, 0 at the end, -1 on an error.
  virtual std::int64_t ReadAt(void* buffer, std::size_t count, std::uint64_t offset) = 0;
  virtual std::uint64_t Size() const = 0;
};

// Where a volume lives: a file or device path (or memory bytes) and the byte window on it.
struct TVolumeLocation {
  std::string Source;  // device or image path; empty for memory volumes
  std::uint64_t Offset = 0;
  std::uint64_t Length = UINT64_MAX;  // clipped to the source's size when opened
  int PartitionNumber = 0;            // 0: the whole source
  std::shared_ptr<TVolumeDevice> Memory;
};

// Reads inside the source that did not deliver all they asked for (I/O errors, a device
// that gave up part-way). Bytes are those asked for and not delivered.
struct TReadStats {
  std::atomic<std::uint64_t> FailedReads{0};
  std::atomic<std::uint64_t> UnreadBytes{0};
};

// A window [Base, Base + Length) onto a device. Copies share the device and the read
// counts; the file descriptor closes with the last copy.
class TVolumeHandle {
 public:
  TVolumeHandle() = default;
  TVolumeHandle(std::shared_ptr<TVolumeDevice> device, std::uint64_t base, std::uint64_t length)
      : Device(std::move(device)), Base(base), Length(length), Stats(std::make_shared<TReadStats>()) {}

  bool IsValid() const { return Device != nullptr; }
  std::uint64_t Size() const { return Length; }
  std::uint64_t Offset() const { return Base; }
  // errno of the failed open, 0 when the handle is valid or nothing was tried.
  int OpenError = 0;

  std::int64_t ReadAt(void* buffer, std::uint32_t count, std::uint64_t offset) const;
  std::uint64_t FailedReads() const { return Stats ? Stats->FailedReads.load(std::memory_order_relaxed) : 0; }
  std::uint64_t UnreadBytes() const { return Stats ? Stats->UnreadBytes.load(std::memory_order_relaxed) : 0; }
  void ResetReadStats() const { SetReadStats(0, 0); }
  // Puts the counts back to what they were, when a failed read is retried in smaller pieces
  // and only the retry's failures should count.
  void SetReadStats(std::uint64_t failedReads, std::uint64_t unreadBytes) const;

 private:
  // Counts a read that delivered `delivered` of `count` bytes.
  void NoteShortRead(std::uint64_t count, std::int64_t delivered) const;

  std::shared_ptr<TVolumeDevice> Device;
  std::uint64_t Base = 0;
  std::uint64_t Length = 0;
  std::shared_ptr<TReadStats> Stats;
};

// Opens a file or block device read-only (O_RDONLY | O_CLOEXEC).
std::shared_ptr<TVolumeDevice> OpenFileDevice(const std::string& path, int* error = nullptr);
std::shared_ptr<TVolumeDevice> MakeMemoryDevice(std::vector<std::byte> bytes);

// Opens what a location names; invalid with OpenError set when that fails.
TVolumeHandle OpenVolume(const TVolumeLocation& location);

void CloseVolume(TVolumeHandle& handle);

// Reads count bytes at offset straight into buffer: the bytes delivered, 0 when nothing
// could be read (invalid handle, offset past the end, I/O error). A read inside the volume
// that fails or comes back short is counted in the handle's FailedReads/UnreadBytes; when
// the caller must tell "could not read" from "read nothing", `result` says which.
std::uint32_t ReadVolume(const TVolumeHandle& handle, void* buffer, std::uint32_t count,
                         std::uint64_t offset, TReadResult* result = nullptr);
// Reads all count bytes or says why not: Ok, or Unreadable when any of them could not be
// read (an invalid handle, an I/O error, a short read, bytes past the end).
TReadResult ReadVolumeExact(const TVolumeHandle& handle, void* buffer, std::uint32_t count,
                            std::uint64_t offset);
// As ReadVolume, through a zeroed scratch block: only the bytes delivered are copied, so the
// caller's bytes past a short read keep their old contents; on failure nothing is touched.
std::uint32_t ReadVolumeCopy(const TVolumeHandle& handle, void* buffer, std::uint32_t count,
                             std::uint64_t offset);

}  // namespace restovo
