// The restore path over arbitrary volume bytes: the volume is probed as the drive list
// probes it, scanned, and every deleted file and folder found is restored through the
// coordinator into a fresh folder, once as the folder tree (as the terminal restores) and
// once file by file (as "All Files" in the window restores). Names, sizes and run lists
// come from the volume, so whatever they say, nothing may be created outside the
// destination folder.
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

#include <csignal>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

#include "fs/DiskScaner.h"
#include "volume/DriveList.h"
#include "recovery/RecoveryHelper.h"
#include "recovery/ThreadBridge.h"

namespace {

namespace fs = std::filesystem;

// The only thing in the cage is the scratch folder, and the only thing in the scratch
// folder is the destination: a name that climbs out of the destination by one or two
// levels shows up as a stranger in one of them.
fs::path Cage;  // FUZZ_RESTORE_SCRATCH, else /dev/shm, else $TMPDIR or /tmp
// FUZZ_RESTORE_REPORT=1 prints what each restore did, to see that the seeds reach it.
bool Report = false;

// Room for every legitimate restore of an input of at most a few MiB; a file whose size
// field claims more fails with EFBIG instead of filling the disk.
constexpr rlim_t kFileSizeLimit = 16 << 20;

void RemoveCage() {
  std::error_code ec;
  if (!Cage.empty()) fs::remove_all(Cage, ec);
}

[[noreturn]] void Escaped(const fs::path& what) {
  std::fprintf(stderr, "fuzz_restore: created outside the destination folder: %s\n", what.c_str());
  __builtin_trap();
}

// Walks the scratch folder without following symlinks; anything not at or below `dest`
// was written where the restore had no business writing.
void CheckOnlyDestination(const fs::path& scratch, const fs::path& dest) {
  for (const auto& entry : fs::directory_iterator(Cage))
    if (entry.path() != scratch) Escaped(entry.path());
  std::error_code ec;
  for (auto it = fs::recursive_directory_iterator(scratch, fs::directory_options::none, ec);
       !ec && it != fs::recursive_directory_iterator(); it.increment(ec)) {
    const fs::path& p = it->path();
    const auto rel = p.lexically_relative(dest);
    if (p != dest && (rel.empty() || *rel.begin() == "..")) Escaped(p);
  }
  if (ec) {
    std::fprintf(stderr, "fuzz_restore: cannot walk %s: %s\n", scratch.c_str(), ec.message().c_str());
    std::abort();
  }
}

// maxBytes: what the size fields of every file found add up to. A stream that delivers
// more than its record's size writes bytes the file never had.
void RestoreInto(restovo::TRecoveryHelper& helper, const restovo::TFileItems& records, std::int64_t maxBytes) {
  const fs::path scratch = Cage / "s";
  const fs::path dest = scratch / "d";
  fs::create_directories(dest);
  helper.Restore(records, dest.string());
  if (Report) {
    const restovo::TRestoreReport& r = helper.LastRestore();
    std::fprintf(stderr, "fuzz_restore: %zu records: %d written, %zu failed, %lld bytes\n", records.size(),
                 r.Written, r.Failures.size(), static_cast<long long>(r.Bytes));
    for (const restovo::TRestoreFailure& f : r.Failures)
      std::fprintf(stderr, "  failed: %s: %s\n", f.Destination.c_str(), f.Reason.c_str());
  }
  CheckOnlyDestination(scratch, dest);
  if (helper.LastRestore().Bytes > maxBytes) {
    std::fprintf(stderr, "fuzz_restore: %lld bytes restored, the files found hold at most %lld\n",
                 static_cast<long long>(helper.LastRestore().Bytes), static_cast<long long>(maxBytes));
    __builtin_trap();
  }
  std::error_code ec;
  fs::remove_all(scratch, ec);
  if (ec) {
    std::fprintf(stderr, "fuzz_restore: cannot remove %s: %s\n", scratch.c_str(), ec.message().c_str());
    std::abort();
  }
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  const rlimit limit{kFileSizeLimit, kFileSizeLimit};
  if (::setrlimit(RLIMIT_FSIZE, &limit) != 0) std::perror("fuzz_restore: setrlimit");
  std::signal(SIGXFSZ, SIG_IGN);
  Report = std::getenv("FUZZ_RESTORE_REPORT") != nullptr;
  // Every input creates and removes dozens of files: on a journalled disk that costs
  // five times what the rest of the run does, so memory is preferred.
  std::string base = "/tmp";
  if (const char* own = std::getenv("FUZZ_RESTORE_SCRATCH"); own && *own) base = own;
  else if (::access("/dev/shm", W_OK | X_OK) == 0) base = "/dev/shm";
  else if (const char* tmp = std::getenv("TMPDIR"); tmp && *tmp) base = tmp;
  std::string pattern = base + "/fuzz_restore.XXXXXX";
  if (::mkdtemp(pattern.data()) == nullptr) {
    std::perror("fuzz_restore: mkdtemp");
    std::abort();
  }
  Cage = pattern;
  std::atexit(RemoveCage);
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  using namespace restovo;
  TQueueBridge bridge;
  TRecoveryHelper helper(&bridge, false);
  helper.SetThreaded(false);
  TDriveCandidate drive;
  drive.Location.Memory = MakeMemoryDevice(std::vector<std::byte>(
      reinterpret_cast<const std::byte*>(data), reinterpret_cast<const std::byte*>(data) + size));
  drive.Name = "fuzz";
  drive.Root = "fuzz/";
  drive.Offered = true;
  const int index = helper.AddDrive(drive);
  if (index < 0 || helper.Drives()[static_cast<std::size_t>(index)]->FsKind == fkUnknown ||
      helper.Drives()[static_cast<std::size_t>(index)]->FsKind == fkExFat)
    return 0;
  helper.StartScan(index);
  const TDiskScaner* scaner = helper.CurrentDisk() ? helper.CurrentDisk()->Scaner.get() : nullptr;
  if (helper.GetStatus() != stDone || scaner == nullptr) return 0;

  // Keep both when a name comes twice, as the window's "keep both, for all" does; it
  // exercises the numbered names too.
  helper.OnFileExists = [](TRecoveryHelper*, std::uint8_t& answer, const std::string&, bool& all) {
    answer = eaKeepBoth;
    all = true;
  };
  TFileItems files;
  std::int64_t sizes = 0;
  for (TFileInfo* item : scaner->Items) {
    if (item->IsFolder) continue;
    files.push_back(item);
    if (item->Size > 0) sizes = item->Size > INT64_MAX - sizes ? INT64_MAX : sizes + item->Size;
  }
  if (scaner->RootItem && scaner->RootItem->Children) RestoreInto(helper, *scaner->RootItem->Children, sizes);
  RestoreInto(helper, files, sizes);
  return 0;
}
