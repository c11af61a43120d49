// The recovery coordinator: the drives that can be scanned, the scan worker, stop, and the
// events every front end listens to.
#pragma once

#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "DiskScaner.h"
#include "DriveList.h"
#include "ThreadBridge.h"

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

class TRecoveryHelper {
 public:
  using TNotify = std::function<void(TRecoveryHelper* sender)>;
  using TProgress = std::function<void(TRecoveryHelper* sender, std::int64_t total, std::int64_t position)>;
  using TError = std::function<void(TRecoveryHelper* sender, const std::string& message)>;

  // bridge: the main-thread hand-over (not owned; must outlive the coordinator).
  // listMachineDrives: whether the drive list starts with this machine's block devices;
  // a terminal scan of one image leaves it off and adds the image's drives.
  explicit TRecoveryHelper(TThreadBridge* bridge, bool listMachineDrives = true,
                           TSystemPaths paths = {});
  ~TRecoveryHelper();
  TRecoveryHelper(const TRecoveryHelper&) = delete;
  TRecoveryHelper& operator=(const TRecoveryHelper&) = delete;

  // Adds the machine's offered block devices that are not listed yet; listed ones stay.
  void RefreshDrives();
  // Adds the offered volumes of a disk image or device; returns every volume found in it,
  // offered or not, so the caller can say why some are missing.
  std::vector<TDriveCandidate> AddImage(const std::string& path);
  // Adds one volume unless its root is listed already; returns its index in Disks.
  int AddDrive(const TDriveCandidate& candidate);

  void StartScan(int index);
  void RunScan(TDiskObject* disk);
  void Stop();

  TRecoveryStatus GetStatus() const { return Status.load(std::memory_order_acquire); }
  bool IsStopRequested() const { return StopRequested.load(std::memory_order_relaxed); }

  std::string CurrentName;
  std::int64_t Percent = 0;
  TDiskObject* CurrentDisk = nullptr;
  std::vector<std::unique_ptr<TDiskObject>> Disks;
  std::unique_ptr<TScanThread> ScanThread;
  bool Threaded = true;
  std::string ErrorText;
  std::uint8_t ExistsAnswer = 0;
  bool ApplyToAll = false;
  std::int32_t RestoredCount = 0;

  TNotify OnScanStart;
  TProgress OnScanProgress;
  TNotify OnScanDone;
  TNotify OnScanStopped;
  TError OnScanError;
  TNotify OnNoDisk;

 private:
  // Sets the status, then runs the event on the main thread when a worker is calling.
  void Notify(TRecoveryStatus status, const std::function<void()>& event);
  void ScanNotify(TRecoveryStatus status, const TNotify& event);
  void ScanError(const std::string& text);

  TThreadBridge* Bridge;
  TSystemPaths Paths;
  std::thread::id MainThread;
  std::atomic<TRecoveryStatus> Status{stIdle};
  std::atomic<bool> StopRequested{false};
};

}  // namespace restovo
