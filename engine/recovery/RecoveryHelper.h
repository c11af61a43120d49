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
#include <unordered_set>
#include <vector>

#include "fs/DiskScaner.h"
#include "recovery/RestoreJob.h"
#include "recovery/ScanJob.h"
#include "recovery/ThreadBridge.h"
#include "volume/DriveList.h"

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
  // Adds one volume unless its root is listed already; returns its index in Drives().
  int AddDrive(const TDriveCandidate& candidate);
  const std::vector<std::unique_ptr<TDiskObject>>& Drives() const { return Disks; }
  // The drive at index, nullptr past the end.
  TDiskObject* Drive(int index) const;

  // Scans drive `index` on a worker (or here when not threaded).
  void StartScan(int index);
  // Scans the drive on the calling thread.
  void RunScan(TDiskObject* disk);
  // Scans drive `index` and waits for the end, serving the bridge meanwhile; when
  // interrupted() turns true the scan is stopped. The report of the scan.
  const TScanReport& ScanToEnd(int index, const std::function<bool()>& interrupted = {});
  // Ends the running scan or restore; from the main thread it waits for the worker.
  void Stop();

  // Restores the records (files, and folders with what the scan linked below them) into
  // destDir, on a worker when threaded. With `only`, folders restore just the records in it.
  void Restore(const TFileItems& files, const std::string& destDir,
               std::shared_ptr<const TRecordSet> only = nullptr);
  // The record's data, at most `limit` bytes, into `out` (exactly the bytes read). False
  // when the drive has no content stream.
  bool ReadToMemory(TFileInfo* record, std::vector<std::byte>& out, std::int64_t limit);

  TRecoveryStatus GetStatus() const { return Status.load(std::memory_order_acquire); }
  bool IsStopRequested() const { return StopRequested.load(std::memory_order_relaxed); }
  // Whether a scan or restore worker has been started and not yet joined.
  bool WorkerRunning() const;

  // The drive of the last scan; the main thread changes it, never a worker.
  TDiskObject* CurrentDisk() const { return Current; }
  void SetCurrentDisk(TDiskObject* disk) { Current = disk; }
  bool Threaded() const { return RunThreaded; }
  void SetThreaded(bool threaded) { RunThreaded = threaded; }
  // Handed to each scanner: whether a stopped scan keeps a tree of what it had found.
  void SetKeepStoppedResults(bool keep) { KeepStopped = keep; }
  // Whether the next scans are deep: free space read for what the metadata lost.
  void SetDeepScan(bool deep) { Deep = deep; }
  bool DeepScan() const { return Deep; }
  bool KeepStoppedResults() const { return KeepStopped; }
  // Whether a deep scan lists the quick scan's results first (OnScanEarlyResults), so they
  // can be looked at, previewed and ticked while the free space is read. The deep scan's
  // own records then wait for AdoptScanResults when it ends or is stopped.
  void SetEarlyResults(bool early) { Early = early; }
  bool EarlyResults() const { return Early; }
  // The drive's records are the quick scan's and nothing changes them any more, while a
  // deep scan goes on beside them.
  bool EarlyResultsShown() const;
  // On the main thread, in the handler of the scan's end, once the views let go of the
  // drive's records: they become the deep scan's. False when there is nothing to take.
  bool AdoptScanResults();
  // The text of the last scan or restore error.
  const std::string& ErrorText() const { return LastError; }
  // The last scan's report (empty before the first scan ended).
  const TScanReport& ScanReport() const;
  // The last restore's report, reset when a restore starts.
  const TRestoreReport& LastRestore() const;

  TNotify OnScanStart;
  TProgress OnScanProgress;
  TNotify OnScanDone;
  // A deep scan's quick results are listed: the drive's records may be shown.
  TNotify OnScanEarlyResults;
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
  friend class TScanJob;
  friend class TRestoreJob;

  // Sets the status, then runs the event on the main thread when a worker is calling.
  void Notify(TRecoveryStatus status, const std::function<void()>& event);
  void ScanNotify(TRecoveryStatus status, const TNotify& event);
  void ScanError(const std::string& text);
  // Runs fn on the main thread when a worker is calling (and the bridge exists).
  void OnMain(const std::function<void()>& fn);
  bool OnWorker() const;
  // Waits for a job's worker while serving the bridge, then joins it.
  template <class TJob>
  void WaitFor(TJob& job);

  std::vector<std::unique_ptr<TDiskObject>> Disks;
  TDiskObject* Current = nullptr;
  std::unique_ptr<TScanJob> ScanJob;
  std::unique_ptr<TRestoreJob> RestoreJob;
  bool RunThreaded = true;
  bool KeepStopped = true;
  bool Deep = false;
  bool Early = false;
  std::string LastError;
  TThreadBridge* Bridge;
  TSystemPaths Paths;
  bool MachineDrives = true;
  std::thread::id MainThread;
  std::atomic<TRecoveryStatus> Status{stIdle};
  std::atomic<bool> StopRequested{false};
};

}  // namespace restovo
