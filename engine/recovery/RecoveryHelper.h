// The recovery coordinator: the drives that can be scanned, the scan worker, stop, and the
// events every front end listens to.
#pragma once

#include <atomic>
#include <cstdint>
#include <filesystem>
#include <functional>
#include <memory>
#include <string>
#include <thread>
#include <unordered_map>
#include <unordered_set>
#include <vector>

#include "fs/DiskScaner.h"
#include "volume/DriveList.h"
#include "recovery/ThreadBridge.h"

namespace restovo {

enum TRecoveryStatus : std::uint8_t {
  stIdle = 0,
  stScanning = 1,
  stRestoring = 2,
  stDone = 3,
  stStopped = 4,       // a scan ended by Stop or an error
  stRestoreEnded = 5,  // a restore ended by Stop or an error
};

// Fixed error texts of the coordinator.
inline constexpr const char* kInvalidDiskText = "Invalid disk partition.";
inline constexpr const char* kNoDiskInfoText = "Can not get disk information.";
// Followed by CR LF and the error's own message; the colon is U+FF1A.
inline constexpr const char* kRestoreErrorPrefix = "Can not restore the file\uFF1A";

inline constexpr const char* kOutsideDestinationText =
    "The file would be written outside the destination folder (a link or folder there leads elsewhere); "
    "it was not written.";

// Answers to the existing-file question.
enum TExistsAnswer : std::uint8_t { eaOverwrite = 0, eaSkip = 1, eaKeepBoth = 2 };

// One file a restore could not write as it should, and why.
struct TRestoreFailure {
  const TFileInfo* Record = nullptr;
  std::string Destination;
  std::string Reason;
};

// What a restore run did, file by file, for the front ends to report.
struct TRestoreReport {
  std::int32_t Written = 0;  // files written whole
  std::int32_t Skipped = 0;  // existing files kept by the user's answer
  std::int64_t Bytes = 0;
  std::vector<TRestoreFailure> Failures;
};

class TRecoveryHelper;

// A worker thread that runs one body and says when it has returned.
class TWorkerThread {
 public:
  explicit TWorkerThread(std::function<void()> body);
  ~TWorkerThread();  // joins
  TWorkerThread(const TWorkerThread&) = delete;
  TWorkerThread& operator=(const TWorkerThread&) = delete;

  bool Finished() const { return Done.load(std::memory_order_acquire); }
  void Terminate() { Terminated.store(true, std::memory_order_relaxed); }
  bool IsTerminated() const { return Terminated.load(std::memory_order_relaxed); }
  void Join();

 private:
  std::atomic<bool> Done{false};
  std::atomic<bool> Terminated{false};
  std::thread Thread;
};

class TScanThread : public TWorkerThread {
 public:
  explicit TScanThread(TRecoveryHelper* coordinator);
  TRecoveryHelper* Coordinator;
};

class TRestoreThread : public TWorkerThread {
 public:
  TRestoreThread(TRecoveryHelper* coordinator, TFileItems files, std::string destDir);
  TRecoveryHelper* Coordinator;
  TFileItems Files;
  std::string DestDir;
};

class TRecoveryHelper {
 public:
  using TNotify = std::function<void(TRecoveryHelper* sender)>;
  using TProgress = std::function<void(TRecoveryHelper* sender, std::int64_t total, std::int64_t position)>;
  using TError = std::function<void(TRecoveryHelper* sender, const std::string& message)>;
  using TRestoreProgress =
      std::function<void(TRecoveryHelper* sender, const std::string& name, std::int32_t percent)>;
  using TFileExists = std::function<void(TRecoveryHelper* sender, std::uint8_t& answer,
                                         const std::string& name, bool& applyToAll)>;

  // bridge: the main-thread hand-over (not owned; must outlive the coordinator).
  // listMachineDrives: whether the drive list starts with this machine's block devices;
  // a terminal scan of one image leaves it off and adds the image's drives.
  explicit TRecoveryHelper(TThreadBridge* bridge, bool listMachineDrives = true,
                           TSystemPaths paths = {});
  ~TRecoveryHelper();
  TRecoveryHelper(const TRecoveryHelper&) = delete;
  TRecoveryHelper& operator=(const TRecoveryHelper&) = delete;

  // Brings the machine's block devices up to date: adds the offered ones not listed yet and
  // drops those that are gone (a card pulled out). Images stay until the program ends. A
  // dropped current drive leaves CurrentDisk null, and its records are freed. Nothing
  // changes while a scan or restore runs, or when the coordinator was made without the
  // machine's drives.
  void RefreshDrives();
  // Adds the offered volumes of a disk image or device; returns every volume found in it,
  // offered or not, so the caller can say why some are missing.
  std::vector<TDriveCandidate> AddImage(const std::string& path);
  // Adds one volume unless its root is listed already; returns its index in Disks.
  int AddDrive(const TDriveCandidate& candidate);

  void StartScan(int index);
  void RunScan(TDiskObject* disk);
  void Stop();

  // Restores the records (files, and folders with what the scan linked below them) into
  // destDir, on a worker when Threaded. With `only`, folders restore just the records in it.
  void Restore(const TFileItems& files, const std::string& destDir,
               std::shared_ptr<const std::unordered_set<const TFileInfo*>> only = nullptr);
  void RunRestore(const TFileItems& files, const std::string& destDir);
  void RestoreFile(std::string path, TFileInfo* record);
  void RestoreFolder(const std::string& destDir, TFileInfo* folder);
  // The record's data, at most `limit` bytes, into `out` (exactly the bytes read). False
  // when stopped or when the drive has no content stream.
  bool ReadToMemory(TFileInfo* record, std::vector<std::byte>& out, std::int64_t limit);
  // Asks OnFileExists (on the main thread) unless an earlier answer applies to all.
  void AskFileExists(const std::string& name);

  TRecoveryStatus GetStatus() const { return Status.load(std::memory_order_acquire); }
  bool IsStopRequested() const { return StopRequested.load(std::memory_order_relaxed); }

  std::string CurrentName;
  std::int64_t Percent = 0;
  TDiskObject* CurrentDisk = nullptr;
  std::vector<std::unique_ptr<TDiskObject>> Disks;
  std::unique_ptr<TScanThread> ScanThread;
  std::unique_ptr<TRestoreThread> RestoreThread;
  bool Threaded = true;
  // Handed to each scanner: whether a stopped scan keeps a tree of what it had found.
  bool KeepStoppedResults = true;
  std::string ErrorText;
  std::uint8_t ExistsAnswer = 0;
  bool ApplyToAll = false;
  std::int32_t RestoredCount = 0;
  TRestoreReport LastRestore;  // reset when a restore starts

  TNotify OnScanStart;
  TProgress OnScanProgress;
  TNotify OnScanDone;
  TNotify OnScanStopped;
  TError OnScanError;
  TNotify OnNoDisk;
  std::function<void(TRecoveryHelper* sender, const std::string& destDir)> OnRestoreStart;
  TRestoreProgress OnRestoreProgress;
  TNotify OnRestoreDone;
  TNotify OnRestoreStopped;
  TError OnRestoreError;
  TFileExists OnFileExists;

 private:
  // Sets the status, then runs the event on the main thread when a worker is calling.
  void Notify(TRecoveryStatus status, const std::function<void()>& event);
  void ScanNotify(TRecoveryStatus status, const TNotify& event);
  void ScanError(const std::string& text);
  void Progress(bool handOver);
  void Fail(const TFileInfo* record, const std::string& destination, const std::string& reason);
  // Records a failure for every file below a folder that could not be made.
  void FailTree(TFileInfo* folder, const std::string& path, const std::string& reason);
  // Whether an existing folder resolves to a place inside the destination of this run.
  bool InsideDestination(std::string dir);
  // Runs fn on the main thread when a worker is calling (and the bridge exists).
  void OnMain(const std::function<void()>& fn);

  std::shared_ptr<const std::unordered_set<const TFileInfo*>> Selection;
  std::filesystem::path DestRoot;  // the destination of the running restore, resolved
  std::string CheckedFolder;       // the last folder found inside it
  std::unordered_map<std::string, std::uint64_t> NextNumbers;  // next free number per name
  TThreadBridge* Bridge;
  TSystemPaths Paths;
  bool MachineDrives = true;
  std::thread::id MainThread;
  std::atomic<TRecoveryStatus> Status{stIdle};
  std::atomic<bool> StopRequested{false};
};

}  // namespace restovo
