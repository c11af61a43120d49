#include "io/VolumeAccess.h"

#include <fcntl.h>
#include <linux/fs.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>

namespace restovo {

namespace {

class TFileDevice final : public TVolumeDevice {
 public:
  TFileDevice(int fd, std::uint64_t size) : Fd(fd), Bytes(size) {}
  ~TFileDevice() override { ::close(Fd); }
  TFileDevice(const TFileDevice&) = delete;
  TFileDevice& operator=(const TFileDevice&) = delete;

  std::int64_t ReadAt(void* buffer, std::size_t count, std::uint64_t offset) override {
    if (offset > static_cast<std::uint64_t>(INT64_MAX)) return 0;
    auto* out = static_cast<char*>(buffer);
    std::size_t done = 0;
    while (done < count) {
      const ssize_t n = ::pread(Fd, out + done, count - done, static_cast<off_t>(offset + done));
      if (n < 0) {
        if (errno == EINTR) continue;
        return done > 0 ? static_cast<std::int64_t>(done) : -1;
      }
      if (n == 0) break;
      done += static_cast<std::size_t>(n);
    }
    return static_cast<std::int64_t>(done);
  }
  std::uint64_t Size() const override { return Bytes; }

 private:
  int Fd;
  std::uint64_t Bytes;
};

class TMemoryDevice final : public TVolumeDevice {
 public:
  explicit TMemoryDevice(std::vector<std::byte> bytes) : Data(std::move(bytes)) {}
  std::int64_t ReadAt(void* buffer, std::size_t count, std::uint64_t offset) override {
    if (offset >= Data.size()) return 0;
    const std::size_t n = std::min<std::uint64_t>(count, Data.size() - offset);
    std::memcpy(buffer, Data.data() + offset, n);
    return static_cast<std::int64_t>(n);
  }
  std::uint64_t Size() const override { return Data.size(); }

 private:
  std::vector<std::byte> Data;
};

}  // namespace

std::int64_t TVolumeHandle::ReadAt(void* buffer, std::uint32_t count, std::uint64_t offset) const {
  // Past the end there is nothing to fail: a volume that claims more than its source holds
  // is told by the scanner, once, not by every read that reaches there.
  if (!Device || offset >= Length) return 0;
  const std::uint64_t n = std::min<std::uint64_t>(count, Length - offset);
  const std::int64_t delivered = Device->ReadAt(buffer, static_cast<std::size_t>(n), Base + offset);
  if (delivered < static_cast<std::int64_t>(n)) NoteShortRead(n, delivered);
  return delivered;
}

void TVolumeHandle::NoteShortRead(std::uint64_t count, std::int64_t delivered) const {
  if (!Stats || count == 0) return;
  const std::uint64_t got = delivered > 0 ? static_cast<std::uint64_t>(delivered) : 0;
  if (got >= count) return;
  Stats->FailedReads.fetch_add(1, std::memory_order_relaxed);
  Stats->UnreadBytes.fetch_add(count - got, std::memory_order_relaxed);
}

void TVolumeHandle::SetReadStats(std::uint64_t failedReads, std::uint64_t unreadBytes) const {
  if (!Stats) return;
  Stats->FailedReads.store(failedReads, std::memory_order_relaxed);
  Stats->UnreadBytes.store(unreadBytes, std::memory_order_relaxed);
}

std::shared_ptr<TVolumeDevice> OpenFileDevice(const std::string& path, int* error) {
  if (error) *error = 0;
  const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) {
    if (error) *error = errno;
    return nullptr;
  }
  struct stat st {};
  std::uint64_t size = 0;
  if (::fstat(fd, &st) == 0 && S_ISBLK(st.st_mode)) {
    if (::ioctl(fd, BLKGETSIZE64, &size) != 0) size = 0;
  } else if (S_ISREG(st.st_mode)) {
    size = static_cast<std::uint64_t>(st.st_size);
  } else {
    ::close(fd);
    if (error) *error = S_ISDIR(st.st_mode) ? EISDIR : ENODEV;
    return nullptr;
  }
  return std::make_shared<TFileDevice>(fd, size);
}

std::shared_ptr<TVolumeDevice> MakeMemoryDevice(std::vector<std::byte> bytes) {
  return std::make_shared<TMemoryDevice>(std::move(bytes));
}

TVolumeHandle OpenVolume(const TVolumeLocation& location) {
  std::shared_ptr<TVolumeDevice> device = location.Memory;
  int error = 0;
  if (!device) {
    if (location.Source.empty()) return {};
    device = OpenFileDevice(location.Source, &error);
  }
  if (!device) {
    TVolumeHandle invalid;
    invalid.OpenError = error;
    return invalid;
  }
  const std::uint64_t size = device->Size();
  const std::uint64_t base = std::min(location.Offset, size);
  const std::uint64_t length = std::min(location.Length, size - base);
  return TVolumeHandle(std::move(device), base, length);
}

void CloseVolume(TVolumeHandle& handle) { handle = TVolumeHandle(); }

std::uint32_t ReadVolume(const TVolumeHandle& handle, void* buffer, std::uint32_t count,
                         std::uint64_t offset, TReadResult* result) {
  // ReadAt has counted a failed (-1) or short read already; here it only becomes 0 bytes.
  const std::int64_t n = handle.ReadAt(buffer, count, offset);
  const std::uint32_t got = n > 0 ? static_cast<std::uint32_t>(n) : 0;
  if (result) *result = handle.IsValid() && got == count ? TReadResult::Ok : TReadResult::Unreadable;
  return got;
}

TReadResult ReadVolumeExact(const TVolumeHandle& handle, void* buffer, std::uint32_t count,
                            std::uint64_t offset) {
  TReadResult result = TReadResult::Unreadable;
  ReadVolume(handle, buffer, count, offset, &result);
  return result;
}

std::uint32_t ReadVolumeCopy(const TVolumeHandle& handle, void* buffer, std::uint32_t count,
                             std::uint64_t offset) {
  if (!handle.IsValid() || offset >= handle.Size()) return 0;
  std::vector<std::byte> scratch(count);
  const std::int64_t n = handle.ReadAt(scratch.data(), count, offset);
  if (n <= 0) return 0;
  std::memcpy(buffer, scratch.data(), static_cast<std::size_t>(n));
  return static_cast<std::uint32_t>(n);
}

}  // namespace restovo
