#include "recovery/RecoveryHelper.h"

#include <cerrno>
#include <cstring>

namespace restovo {

TWorkerThread::TWorkerThread(std::function<void()> body)
    : Thread([this, body = std::move(body)] {
        body();
        Done.store(true, std::memory_order_release);
      }) {}

TWorkerThread::~TWorkerThread() { Join(); }

void TWorkerThread::Join() {
  if (Thread.joinable()) Thread.join();
}

TScanThread::TScanThread(TRecoveryHelper* coordinator)
    : TWorkerThread([coordinator] { coordinator->RunScan(coordinator->CurrentDisk); }),
      Coordinator(coordinator) {}

TRecoveryHelper::TRecoveryHelper(TThreadBridge* bridge, bool listMachineDrives, TSystemPaths paths)
    : Bridge(bridge), Paths(std::move(paths)), MachineDrives(listMachineDrives),
      MainThread(std::this_thread::get_id()) {
  RefreshDrives();
}

TRecoveryHelper::~TRecoveryHelper() {
  Stop();
  // A worker may still be handing over its last event; serve it while waiting.
  for (TWorkerThread* worker : {static_cast<TWorkerThread*>(ScanThread.get()),
                                static_cast<TWorkerThread*>(RestoreThread.get())}) {
    if (worker && Bridge) Bridge->WaitServing([worker] { return worker->Finished(); });
  }
  ScanThread.reset();
  RestoreThread.reset();
  Disks.clear();
}

void TRecoveryHelper::RefreshDrives() {
  if (!MachineDrives) return;
  const TRecoveryStatus status = GetStatus();
  if (status == stScanning || status == stRestoring) return;
  std::vector<TDriveCandidate> offered;
  for (TDriveCandidate& c : ListBlockDevices(Paths)) {
    if (c.Offered && (c.DriveType == dtRemovable || c.DriveType == dtFixed || c.DriveType == dtRemote ||
                      c.DriveType == dtImage)) {
      offered.push_back(std::move(c));
    }
  }
  std::erase_if(Disks, [&](const std::unique_ptr<TDiskObject>& d) {
    if (!d->FromMachine) return false;
    for (const TDriveCandidate& c : offered)
      if (c.Location.Source == d->Location.Source && c.Location.Offset == d->Location.Offset) return false;
    if (CurrentDisk == d.get()) CurrentDisk = nullptr;
    return true;
  });
  for (const TDriveCandidate& c : offered) {
    const int index = AddDrive(c);
    Disks[static_cast<std::size_t>(index)]->FromMachine = true;
  }
}

std::vector<TDriveCandidate> TRecoveryHelper::AddImage(const std::string& path) {
  std::vector<TDriveCandidate> found = ListImageDrives(path);
  for (TDriveCandidate& c : found) {
    if (c.Offered) {
      const int index = AddDrive(c);
      c.Root = Disks[static_cast<std::size_t>(index)]->Root;
    }
  }
  return found;
}

int TRecoveryHelper::AddDrive(const TDriveCandidate& candidate) {
  auto sameVolume = [&](const TDiskObject& d) {
    return d.Location.Source == candidate.Location.Source &&
           d.Location.Offset == candidate.Location.Offset && d.Location.Memory == candidate.Location.Memory;
  };
  for (std::size_t i = 0; i < Disks.size(); ++i) {
    if (sameVolume(*Disks[i])) return static_cast<int>(i);
  }
  // Two images with the same file name get distinct roots: "card.img (2)/".
  auto taken = [&](const std::string& root) {
    for (const auto& d : Disks)
      if (d->Root == root) return true;
    return false;
  };
  std::string name = candidate.Name;
  std::string root = candidate.Root;
  for (int n = 2; candidate.MountPoint.empty() && taken(root); ++n) {
    name = candidate.Name + " (" + std::to_string(n) + ")";
    root = name + "/";
  }
  const TProbedName probed{candidate.FileSystem, candidate.Label};
  Disks.push_back(
      std::make_unique<TDiskObject>(root, name, candidate.Location, candidate.MountPoint, &probed));
  return static_cast<int>(Disks.size() - 1);
}

void TRecoveryHelper::Notify(TRecoveryStatus status, const std::function<void()>& event) {
  Status.store(status, std::memory_order_release);
  if (!event) return;
  if (Threaded && Bridge && std::this_thread::get_id() != MainThread) {
    Bridge->RunOnMain(event);
  } else {
    event();
  }
}

void TRecoveryHelper::ScanNotify(TRecoveryStatus status, const TNotify& event) {
  Notify(status, event ? std::function<void()>([this, &event] { event(this); })
                       : std::function<void()>());
}

void TRecoveryHelper::ScanError(const std::string& text) {
  ErrorText = text;
  Notify(stStopped, OnScanError ? std::function<void()>([this] { OnScanError(this, ErrorText); })
                                : std::function<void()>());
}

void TRecoveryHelper::StartScan(int index) {
  if (index < 0 || static_cast<std::size_t>(index) >= Disks.size()) return;
  // The previous scan's records are freed below; a worker still running must end first.
  if (ScanThread && !ScanThread->Finished()) Stop();
  StopRequested = false;
  if (CurrentDisk && CurrentDisk->Scaner) {
    CurrentDisk->Clear();
    CurrentDisk->Scaner.reset();
  }
  CurrentDisk = Disks[static_cast<std::size_t>(index)].get();
  if (!CurrentDisk->IsDriveValid()) {
    ScanError(kInvalidDiskText);
    return;
  }
  if (Threaded) {
    if (ScanThread) {
      if (Bridge) Bridge->WaitServing([this] { return ScanThread->Finished(); });
      ScanThread.reset();
    }
    // Scanning from now on, not only once the worker has said so: a Stop right after this
    // (the window closing) must find the scan to stop.
    Status.store(stScanning, std::memory_order_release);
    ScanThread = std::make_unique<TScanThread>(this);
  } else {
    RunScan(CurrentDisk);
  }
}

namespace {

std::string OpenFailureText(int error) {
  if (error == EACCES || error == EPERM) {
    return "The volume can not be read: permission denied. Start the program with "
           "administrator rights (for example through pkexec).";
  }
  return std::string("The volume can not be read: ") + std::strerror(error) + ".";
}

}  // namespace

void TRecoveryHelper::RunScan(TDiskObject* disk) {
  if (disk == nullptr) return;
  ScanNotify(stScanning, OnScanStart);
  CurrentDisk = disk;
  // Stopped before the worker got this far (the window closed right after "Search").
  if (StopRequested) {
    ScanNotify(stStopped, OnScanStopped);
    return;
  }
  try {
    if (!disk->Scaner) disk->Scaner = CreateScaner(disk);
    if (disk->Scaner) {
      disk->Scaner->KeepStoppedResults = KeepStoppedResults;
      if (StopRequested) disk->Scaner->Stop = true;
    }
    if (!disk->Scaner) {
      ScanError(kNoDiskInfoText);
      return;
    }
    // A volume that cannot be opened would scan as empty; say why instead.
    if (!disk->Scaner->Volume.IsValid()) {
      ScanError(disk->IsDriveValid() ? OpenFailureText(disk->OpenError) : kInvalidDiskText);
      return;
    }
    disk->OnProgress = [this](TDiskScaner*, std::int64_t total, std::int64_t position) {
      if (OnScanProgress) OnScanProgress(this, total, position);
    };
    disk->Scaner->Scan();
    disk->Scaner->NoteScanReads();
    if (!disk->Scaner->Failure().empty()) {
      ScanError(disk->Scaner->Failure());
      return;
    }
  } catch (const std::exception& e) {
    ScanError(disk->IsDriveValid() ? e.what() : kInvalidDiskText);
    return;
  } catch (...) {
    ScanError(disk->IsDriveValid() ? "The scan failed with an unknown error." : kInvalidDiskText);
    return;
  }
  if (StopRequested) {
    ScanNotify(stStopped, OnScanStopped);
  } else {
    ScanNotify(stDone, OnScanDone);
  }
}

void TRecoveryHelper::Stop() {
  StopRequested = true;
  const TRecoveryStatus status = GetStatus();
  if (status != stScanning && status != stRestoring) return;
  if (CurrentDisk && CurrentDisk->Scaner) CurrentDisk->Scaner->Stop = true;
  if (!Threaded) {
    Status = stStopped;
    return;
  }
  // From a worker (a progress handler) only the flags can be set: waiting here for the
  // worker itself would never end.
  if (std::this_thread::get_id() != MainThread) return;
  if (status == stScanning) {
    if (ScanThread) {
      ScanThread->Terminate();
      if (Bridge) Bridge->WaitServing([this] { return ScanThread->Finished(); });
      ScanThread.reset();
    }
    ScanNotify(stStopped, OnScanStopped);
  } else {
    if (RestoreThread) {
      RestoreThread->Terminate();
      if (Bridge) Bridge->WaitServing([this] { return RestoreThread->Finished(); });
      RestoreThread.reset();
    }
    ScanNotify(stRestoreEnded, OnRestoreStopped);
  }
}

}  // namespace restovo
