#include "recovery/RecoveryHelper.h"

#include <algorithm>

#include "recovery/RecoveryStream.h"


namespace restovo {

namespace {

constexpr std::int64_t kPreviewBlock = 1 << 20;

}  // namespace

TRecoveryHelper::TRecoveryHelper(TThreadBridge* bridge, bool listMachineDrives, TSystemPaths paths)
    : Bridge(bridge), Paths(std::move(paths)), MachineDrives(listMachineDrives),
      MainThread(std::this_thread::get_id()) {
  RefreshDrives();
}

TRecoveryHelper::~TRecoveryHelper() {
  Stop();
  // A worker may still be handing over its last event; serve it while waiting.
  if (ScanJob) WaitFor(*ScanJob);
  if (RestoreJob) WaitFor(*RestoreJob);
  ScanJob.reset();
  RestoreJob.reset();
  Disks.clear();
}

template <class TJob>
void TRecoveryHelper::WaitFor(TJob& job) {
  if (Bridge && !job.Finished()) Bridge->WaitServing([&job] { return job.Finished(); });
  job.Join();
}

bool TRecoveryHelper::WorkerRunning() const {
  return (ScanJob && !ScanJob->Finished()) || (RestoreJob && !RestoreJob->Finished());
}

TDiskObject* TRecoveryHelper::Drive(int index) const {
  if (index < 0 || static_cast<std::size_t>(index) >= Disks.size()) return nullptr;
  return Disks[static_cast<std::size_t>(index)].get();
}

bool TRecoveryHelper::EarlyResultsShown() const {
  return ScanJob && ScanJob->EarlyResultsShown() && !ScanJob->Ended();
}

bool TRecoveryHelper::AdoptScanResults() {
  if (!ScanJob || !ScanJob->HasPendingResults()) return false;
  ScanJob->AdoptPendingResults();
  return true;
}

const TScanReport& TRecoveryHelper::ScanReport() const {
  static const TScanReport none;
  return ScanJob && ScanJob->Finished() ? ScanJob->Report() : none;
}

const TRestoreReport& TRecoveryHelper::LastRestore() const {
  static const TRestoreReport none;
  return RestoreJob ? RestoreJob->Report() : none;
}

bool TRecoveryHelper::OnWorker() const { return std::this_thread::get_id() != MainThread; }

void TRecoveryHelper::OnMain(const std::function<void()>& fn) {
  if (RunThreaded && Bridge && OnWorker()) Bridge->RunOnMain(fn);
  else fn();
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
    if (Current == d.get()) Current = nullptr;
    // A finished job of a drive that is gone must not point at it.
    if (ScanJob && ScanJob->Disk() == d.get()) ScanJob.reset();
    if (RestoreJob && RestoreJob->Disk() == d.get()) RestoreJob.reset();
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
  if (RunThreaded && Bridge && OnWorker()) {
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
  LastError = text;
  Notify(stStopped, OnScanError ? std::function<void()>([this] { OnScanError(this, LastError); })
                                : std::function<void()>());
}

void TRecoveryHelper::StartScan(int index) {
  TDiskObject* disk = Drive(index);
  if (!disk) return;
  // The previous scan's records are freed below; a worker still running must end first.
  if (ScanJob && !ScanJob->Finished()) Stop();
  if (ScanJob) WaitFor(*ScanJob);
  StopRequested = false;
  if (Current && Current->Scaner) {
    Current->Clear();
    Current->Scaner.reset();
  }
  Current = disk;
  ScanJob = std::make_unique<TScanJob>(*this, disk);
  if (!disk->IsDriveValid()) return ScanJob->Refuse(kInvalidDiskText);
  if (RunThreaded) {
    // Scanning from now on, not only once the worker has said so: a Stop right after this
    // (the window closing) must find the scan to stop.
    Status.store(stScanning, std::memory_order_release);
    ScanJob->Start();
  } else {
    ScanJob->Run();
  }
}

void TRecoveryHelper::RunScan(TDiskObject* disk) {
  if (disk == nullptr) return;
  if (ScanJob) WaitFor(*ScanJob);
  Current = disk;
  ScanJob = std::make_unique<TScanJob>(*this, disk);
  ScanJob->Run();
}

const TScanReport& TRecoveryHelper::ScanToEnd(int index, const std::function<bool()>& interrupted) {
  StartScan(index);
  auto ended = [this] { return !ScanJob || ScanJob->Ended() || GetStatus() == stStopped; };
  if (Bridge) {
    Bridge->WaitServing([&] { return ended() || (interrupted && interrupted()); });
  }
  if (!ended()) Stop();
  if (ScanJob) WaitFor(*ScanJob);
  if (ScanJob) return ScanJob->Report();
  static const TScanReport none;
  return none;
}

void TRecoveryHelper::Stop() {
  StopRequested = true;
  const TRecoveryStatus status = GetStatus();
  if (status != stScanning && status != stRestoring) return;
  if (ScanJob) ScanJob->RequestStop();
  if (RestoreJob) RestoreJob->RequestStop();
  if (!RunThreaded) {
    Status = stStopped;
    return;
  }
  // From a worker (a progress handler) only the flags can be set: waiting here for the
  // worker itself would never end.
  if (OnWorker()) return;
  if (status == stScanning) {
    const bool told = !ScanJob || [this] { WaitFor(*ScanJob); return ScanJob->Ended(); }();
    // The worker has said how it ended (stopped, or done just before the stop).
    if (!told) ScanNotify(stStopped, OnScanStopped);
  } else {
    const bool told = !RestoreJob || [this] { WaitFor(*RestoreJob); return RestoreJob->Ended(); }();
    if (!told) ScanNotify(stRestoreEnded, OnRestoreStopped);
  }
}

void TRecoveryHelper::Restore(const TFileItems& files, const std::string& destDir,
                              std::shared_ptr<const TRecordSet> only) {
  if (RestoreJob) WaitFor(*RestoreJob);
  StopRequested = false;
  RestoreJob = std::make_unique<TRestoreJob>(*this, Current, files, destDir, std::move(only));
  if (RunThreaded) {
    // Restoring from now on, so a Stop before the worker reports its start still ends it.
    Status.store(stRestoring, std::memory_order_release);
    RestoreJob->Start();
  } else {
    RestoreJob->Run();
  }
}

bool TRecoveryHelper::ReadToMemory(TFileInfo* record, std::vector<std::byte>& out, std::int64_t limit) {
  out.clear();
  // A stale stop of an earlier scan must not keep the found files from being previewed,
  // so the stop flag is not consulted here: the preview runs on the main thread, where
  // nothing can stop it half-way.
  std::unique_ptr<TRecoveryStream> source = CreateStream(Current, record);
  if (!source) return false;
  std::int64_t total = 0;
  while (total < limit) {
    const std::int64_t want = std::min(kPreviewBlock, limit - total);
    out.resize(static_cast<std::size_t>(total + want));
    const std::int64_t n = source->Read(out.data() + total, want);
    total += n;
    if (n == 0) break;
  }
  out.resize(static_cast<std::size_t>(total));
  return true;
}

}  // namespace restovo
