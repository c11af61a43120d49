// A restore: found files and folders written into a destination folder.
#include <fcntl.h>
#include <linux/magic.h>
#include <linux/msdos_fs.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <sys/vfs.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <chrono>
#include <cmath>
#include <cstring>
#include <filesystem>
#include <stdexcept>

#include "recovery/RestoreJob.h"

#include "content/ContentTypes.h"
#include "fs/ContentCarving.h"
#include "recovery/Destination.h"
#include "recovery/RecoveryHelper.h"
#include "recovery/RecoveryStream.h"

namespace restovo {

namespace fs = std::filesystem;

namespace {

// A file just written, read back for its content check.
class TWrittenFile final : public TByteSource {
 public:
  TWrittenFile(int fd, std::uint64_t size) : Fd(fd), Length(size) {}
  std::uint64_t Size() const override { return Length; }
  std::size_t Read(std::uint64_t at, std::span<std::byte> out) override {
    std::size_t done = 0;
    while (done < out.size() && at + done < Length) {
      const ssize_t n = ::pread(Fd, out.data() + done, out.size() - done, static_cast<off_t>(at + done));
      if (n <= 0) break;
      done += static_cast<std::size_t>(n);
    }
    return done;
  }

 private:
  const int Fd;
  const std::uint64_t Length;
};


// Large files are copied in 1 MiB blocks; a small file's buffer is only as large as the
// file (and never zeroed), so many small files cost no more than their bytes.
constexpr std::int64_t kCopyBlock = 1 << 20;

std::string JoinPath(const std::string& dir, const std::string& name) {
  if (!dir.empty() && dir.back() == '/') return dir + name;
  return dir + "/" + name;
}

// A folder that is the top of its file system, where a restored recycle-bin folder would
// meet the destination volume's own.
bool IsVolumeRoot(const std::string& dir) {
  struct stat self {}, parent {};
  if (::stat(dir.c_str(), &self) != 0 || ::stat(JoinPath(dir, "..").c_str(), &parent) != 0) return false;
  return self.st_dev != parent.st_dev || self.st_ino == parent.st_ino;
}

std::string Upper(std::string s) {
  std::transform(s.begin(), s.end(), s.begin(),
                 [](unsigned char c) { return static_cast<char>(std::toupper(c)); });
  return s;
}

timespec ToTimespec(FILETIME ft) {
  if (ft == 0) return {0, UTIME_OMIT};
  std::int64_t seconds = 0, nanoseconds = 0;
  FileTimeToUnixTime(ft, seconds, nanoseconds);
  return {static_cast<time_t>(seconds), static_cast<long>(nanoseconds)};
}

// The FAT read-only bit clears the write permissions; on a FAT destination the other
// attribute bits are kept too.
void ApplyAttributes(int fd, std::uint32_t attributes) {
  struct statfs vfs {};
  if (::fstatfs(fd, &vfs) == 0 && vfs.f_type == MSDOS_SUPER_MAGIC) {
    std::uint32_t bits = attributes & (ATTR_RO | ATTR_HIDDEN | ATTR_SYS | ATTR_ARCH);
    ::ioctl(fd, FAT_IOCTL_SET_ATTRIBUTES, &bits);
  }
  if (attributes & 0x01) {
    struct stat st {};
    if (::fstat(fd, &st) == 0) ::fchmod(fd, st.st_mode & ~static_cast<mode_t>(S_IWUSR | S_IWGRP | S_IWOTH));
  }
}

bool WriteAll(int fd, const std::byte* data, std::int64_t size) {
  while (size > 0) {
    const ssize_t n = ::write(fd, data, static_cast<std::size_t>(size));
    if (n < 0) {
      if (errno == EINTR) continue;
      return false;
    }
    data += n;
    size -= n;
  }
  return true;
}

}  // namespace

TRestoreJob::TRestoreJob(TRecoveryHelper& owner, TDiskObject* disk, TFileItems files, std::string destDir,
                         std::shared_ptr<const TRecordSet> only)
    : TJob(owner, disk), Files(std::move(files)), DestDir(std::move(destDir)), Selection(std::move(only)) {}

TRestoreJob::~TRestoreJob() { Join(); }

void TRestoreJob::Start() {
  StartWorker([this] { Run(); });
}

void TRestoreJob::Progress(bool handOver) {
  if (!Owner.OnRestoreProgress) return;
  const auto percent = static_cast<std::int32_t>(Percent);
  if (handOver) {
    Owner.OnMain([this, percent] { Owner.OnRestoreProgress(&Owner, CurrentName, percent); });
  } else {
    Owner.OnRestoreProgress(&Owner, CurrentName, percent);
  }
}

void TRestoreJob::Fail(const TFileInfo* record, const std::string& destination, const std::string& reason) {
  Result.Failures.push_back({record, destination, reason});
}

void TRestoreJob::Run() {
  const std::string& destDir = DestDir;
  bool failed = false;
  Owner.Notify(stRestoring, Owner.OnRestoreStart
                                ? std::function<void()>([this] { Owner.OnRestoreStart(&Owner, DestDir); })
                                : std::function<void()>());
  auto fail = [&](const std::string& message) {
    Error = std::string(kRestoreErrorPrefix) + "\r\n" + message;
    failed = true;
  };
  // The engine refuses the scanned volume itself, whatever the front end checked.
  if (const std::string why = Drive ? CheckRestoreDestination(*Drive, destDir) : "";
      !why.empty()) {
    fail(why);
  } else if (std::error_code ec; !fs::create_directories(destDir, ec) && ec) {
    fail("The destination folder cannot be created: " + ec.message() + ".");
  } else if (DestRoot = fs::canonical(destDir, ec); ec) {
    fail("The destination folder cannot be reached: " + ec.message() + ".");
  } else {
    const auto count = static_cast<double>(Files.size());
    for (std::size_t index = 0; index < Files.size(); ++index) {
      if (StopRequested()) break;
      TFileInfo* r = Files[index];
      if (r == nullptr) continue;
      Percent = static_cast<std::int64_t>(std::nearbyint(100.0 * static_cast<double>(index + 1) / count));
      CurrentName = r->Name;
      try {
        if (r->IsFolder) RestoreFolder(destDir, r);
        else RestoreFile(JoinPath(destDir, MakeSafeName(r->Name)), r);
        Progress(true);
      } catch (const std::exception& e) {
        fail(e.what());
        break;
      }
    }
  }
  Percent = 0;
  CurrentName.clear();
  MarkEnded();
  if (failed) {
    Owner.LastError = Error;
    Owner.Notify(stRestoreEnded, Owner.OnRestoreError
                                     ? std::function<void()>([this] { Owner.OnRestoreError(&Owner, Error); })
                                     : std::function<void()>());
  } else if (StopRequested()) {
    Owner.ScanNotify(stRestoreEnded, Owner.OnRestoreStopped);
  } else {
    Owner.ScanNotify(stDone, Owner.OnRestoreDone);
  }
}

void TRestoreJob::RestoreFolder(const std::string& destDir, TFileInfo* folder) {
  std::string name = MakeSafeName(folder->Name);
  const std::string upper = Upper(name);
  if ((upper == "$RECYCLE.BIN" || upper == "RECYCLED") && IsVolumeRoot(destDir)) name += "_New";
  if (!IsValidFileName(name)) name = SanitizeFileName(name);
  const std::string path = JoinPath(destDir, name);
  // A folder or link placed below the destination in advance must not lead the files out of it.
  if (!InsideDestination(destDir)) return FailTree(folder, path, kOutsideDestinationText);
  std::error_code ec;
  fs::create_directories(path, ec);
  if (ec) return FailTree(folder, path, "The folder cannot be created: " + ec.message() + ".");
  if (!InsideDestination(path)) return FailTree(folder, path, kOutsideDestinationText);
  if (!folder->Children) return;
  for (TFileInfo* child : *folder->Children) {
    if (StopRequested()) return;
    if (Selection && !Selection->count(child)) continue;
    if (child->IsFolder) RestoreFolder(path, child);
    else RestoreFile(JoinPath(path, MakeSafeName(child->Name)), child);
  }
}

bool TRestoreJob::InsideDestination(std::string dir) {
  while (dir.size() > 1 && dir.back() == '/') dir.pop_back();
  // The files of one folder are written one after another: one resolution serves them all.
  if (dir == CheckedFolder) return true;
  std::error_code ec;
  const fs::path real = fs::canonical(dir, ec);
  if (ec) return false;
  const fs::path rel = real.lexically_relative(DestRoot);
  if (rel.empty() || *rel.begin() == "..") return false;
  CheckedFolder = std::move(dir);
  return true;
}

void TRestoreJob::FailTree(TFileInfo* folder, const std::string& path, const std::string& reason) {
  // Every file below counts as one failure of its own, so the report adds up.
  std::vector<std::pair<TFileInfo*, std::string>> stack{{folder, path}};
  while (!stack.empty()) {
    auto [dir, dirPath] = std::move(stack.back());
    stack.pop_back();
    if (!dir->Children) continue;
    for (TFileInfo* child : *dir->Children) {
      if (Selection && !Selection->count(child)) continue;
      const std::string childPath = JoinPath(dirPath, MakeSafeName(child->Name));
      if (child->IsFolder) stack.emplace_back(child, childPath);
      else if (!child->InUse) Fail(child, childPath, reason);
    }
  }
}

void TRestoreJob::AskFileExists(const std::string& name) {
  CurrentName = name;
  Owner.OnMain([this] {
    if (!ApplyToAll && Owner.OnFileExists) Owner.OnFileExists(&Owner, ExistsAnswer, CurrentName, ApplyToAll);
  });
}

void TRestoreJob::RestoreFile(std::string path, TFileInfo* record) {
  if (record->InUse && !record->IsFolder) return;  // live files are where they were
  const std::size_t slash = path.find_last_of('/');
  const std::string folder = slash == std::string::npos ? "" : path.substr(0, slash + 1);
  std::string fileName = MakeSafeName(path.substr(folder.size()));
  if (!IsValidFileName(fileName)) fileName = SanitizeFileName(fileName);
  path = folder + fileName;
  if (StopRequested()) return;
  if (!InsideDestination(folder)) return Fail(record, path, kOutsideDestinationText);
  CurrentName = path;
  Progress(false);
  if (StopRequested()) return;

  struct stat existing {};
  if (::lstat(path.c_str(), &existing) == 0) {
    if (S_ISDIR(existing.st_mode)) {
      Fail(record, path, "A folder of that name is in the way.");
      return;
    }
    if (Owner.OnFileExists) {
      AskFileExists(path);
      if (ExistsAnswer == eaSkip) {
        ++Result.Skipped;
        return;
      }
      if (ExistsAnswer == eaKeepBoth) path = MakeUniqueFileName(path, &NextNumbers[path]);
    }
  }
  // The data goes to a file of its own first and takes the final name only when it is
  // written: a file that is already there is replaced whole or not at all, and a failed
  // or stopped copy never costs the user a file they had.
  static std::atomic<std::uint64_t> partials{0};
  const std::string partial =
      folder + ".restovo-partial-" + std::to_string(::getpid()) + "-" + std::to_string(partials++);
  const int fd = ::open(partial.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0666);
  if (fd < 0) {
    Fail(record, path, std::string("The file cannot be created: ") + std::strerror(errno) + ".");
    return;
  }
  auto abandon = [&](const std::string& reason) {
    ::close(fd);
    ::unlink(partial.c_str());
    if (!reason.empty()) Fail(record, path, reason);
  };
  if (StopRequested()) return abandon({});
  std::unique_ptr<TRecoveryStream> source = CreateStream(Drive, record);
  if (!source) return abandon("The file's data cannot be read on this kind of volume.");
  if (!source->Refusal().empty()) return abandon(source->Refusal());

  const std::int64_t block = std::clamp<std::int64_t>(record->Size, 4096, kCopyBlock);
  const auto buffer = std::make_unique_for_overwrite<std::byte[]>(static_cast<std::size_t>(block));
  std::int64_t total = 0;
  while (!StopRequested()) {
    const std::int64_t n = source->Read(buffer.get(), block);
    if (n > 0 && !WriteAll(fd, buffer.get(), n)) {
      const int error = errno;
      abandon(std::string("Writing failed: ") + std::strerror(error) + ".");
      // A full destination fails every file after this one too: end the run.
      if (error == ENOSPC || error == EDQUOT)
        throw std::runtime_error(std::string("The destination is full (") + std::strerror(error) + ").");
      return;
    }
    total += n;
    Percent = record->Size <= 0 ? 100 : total * 100 / record->Size;
    Progress(false);
    if (n == 0) break;
  }
  if (StopRequested() && total < record->Size) return abandon({});  // a stopped copy leaves nothing half-done

  // Data the volume could not give is not padded with zeros: the file keeps what was read
  // and the report says what is missing.
  const bool complete = !source->ReadFailed() && total == record->Size;
  if (!complete && total == 0) return abandon("The file's data could not be read from the volume.");
  if (::ftruncate(fd, complete ? record->Size : total) != 0) {
    return abandon(std::string("Writing failed: ") + std::strerror(errno) + ".");
  }
  // What the bytes say of themselves: a file found by content was checked when it was
  // found; any other is read back from the destination.
  TContentCheck check;
  if (complete) {
    if (const auto* carved = dynamic_cast<const TCarvedDataInfo*>(record->FsData.get())) {
      check.Checked = true;
      check.Passed = carved->Verdict == TContentVerdict::Whole;
      check.Reason = carved->Reason;
    } else if (const int back = ::open(partial.c_str(), O_RDONLY | O_NOFOLLOW | O_CLOEXEC); back >= 0) {
      TWrittenFile written(back, static_cast<std::uint64_t>(total));
      check = CheckContent(written, fileName);
      ::close(back);
    }
  }
  const timespec times[2] = {ToTimespec(record->LastAccessTime ? record->LastAccessTime : record->LastWriteTime),
                             ToTimespec(record->LastWriteTime)};
  ::futimens(fd, times);
  ApplyAttributes(fd, record->Attributes);
  if (::close(fd) != 0) {
    ::unlink(partial.c_str());
    Fail(record, path, std::string("Writing failed: ") + std::strerror(errno) + ".");
    return;
  }
  if (::rename(partial.c_str(), path.c_str()) != 0) {
    if (errno == ENAMETOOLONG || errno == EILSEQ || errno == EINVAL) {
      // A name the destination cannot hold: the data is worth more than the name.
      const auto ms = std::chrono::duration_cast<std::chrono::milliseconds>(
          std::chrono::steady_clock::now().time_since_epoch()).count();
      path = folder + "TarnReccover" + std::to_string(ms);
    }
    if (::rename(partial.c_str(), path.c_str()) != 0) {
      const int error = errno;
      ::unlink(partial.c_str());
      Fail(record, path, std::string("The file cannot be created: ") + std::strerror(error) + ".");
      return;
    }
  }
  Result.Bytes += total;
  if (complete) {
    ++Result.Written;
    if (check.Checked) {
      ++Result.ContentChecked;
      if (!check.Passed) Result.ContentFailures.push_back({record, path, check.Reason});
    }
  } else {
    Fail(record, path,
         "Only " + std::to_string(total) + " of " + std::to_string(record->Size) +
             " bytes could be read from the volume; the rest of the file is missing.");
  }
}

}  // namespace restovo
