#include "recovery/ScanJob.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <exception>

#include "recovery/RecoveryHelper.h"
#include "recovery/RecoveryStream.h"
#include "recovery/RecycleBin.h"

namespace restovo {

namespace {

std::string OpenFailureText(int error) {
  if (error == EACCES || error == EPERM) {
    return "The volume can not be read: permission denied. Start the program with "
           "administrator rights (for example through pkexec).";
  }
  return std::string("The volume can not be read: ") + std::strerror(error) + ".";
}

// The bytes of a recycle-bin information record; such records are small.
bool ReadSmallRecord(TDiskObject* disk, TFileInfo* record, std::vector<std::byte>& out) try {
  out.clear();
  std::unique_ptr<TRecoveryStream> source = CreateStream(disk, record);
  if (!source || !source->Refusal().empty()) return false;
  out.resize(static_cast<std::size_t>(std::clamp<std::int64_t>(record->Size, 0, kMaxRecycleInfoSize)));
  std::size_t total = 0;
  while (total < out.size()) {
    const std::int64_t n = source->Read(out.data() + total, static_cast<std::int64_t>(out.size() - total));
    if (n <= 0) break;
    total += static_cast<std::size_t>(n);
  }
  out.resize(total);
  return total > 0;
} catch (const std::exception&) {
  return false;  // the recycled file keeps its name
}

}  // namespace

TScanJob::TScanJob(TRecoveryHelper& owner, TDiskObject* disk) : TJob(owner, disk) {
  if (Drive) {
    Result.Volume = Drive->Name;
    Result.FileSystem = Drive->FileSystem;
  }
}

TScanJob::~TScanJob() { Join(); }

void TScanJob::Start() {
  StartWorker([this] { Run(); });
}

void TScanJob::End(bool stopped, const std::string& error) {
  if (TDiskScaner* scaner = Active ? Active : Drive ? Drive->Scaner.get() : nullptr) {
    Result.FailedReads = scaner->FailedReads;
    Result.UnreadBytes = scaner->UnreadBytes;
    Result.MissingTail = scaner->MissingTail;
    Result.Found = scaner->Items.size();
    Result.DeepBytesRead = scaner->DeepBytesRead;
    Result.DeepBytesToRead = scaner->DeepBytesToRead;
    Result.DeepSeconds = scaner->DeepSeconds;
  }
  Result.Stopped = stopped;
  Result.Error = error;
  MarkEnded();
  if (!error.empty()) Owner.ScanError(error);
  else if (stopped) Owner.ScanNotify(stStopped, Owner.OnScanStopped);
  else Owner.ScanNotify(stDone, Owner.OnScanDone);
}

bool TScanJob::Arm(TDiskScaner& scaner, bool deep) {
  scaner.KeepStoppedResults = Owner.KeepStoppedResults();
  scaner.Deep = deep;
  scaner.SetStopSource(&StopFlag);
  scaner.OnProgress = [this](TDiskScaner*, std::int64_t total, std::int64_t position) {
    if (Owner.OnScanProgress) Owner.OnScanProgress(&Owner, total, position);
  };
  Active = &scaner;
  return scaner.Volume.IsValid();
}

std::string TScanJob::RunScaner(TDiskScaner& scaner) {
  scaner.Scan();
  scaner.NoteScanReads();
  return scaner.Failure();
}

void TScanJob::DropPending() {
  // The deep scan's records go before the window hears of its end; the report gives the
  // figures of the scan whose records stay.
  if (Active == Pending.get()) Active = Drive ? Drive->Scaner.get() : nullptr;
  Pending.reset();
}

void TScanJob::AdoptPendingResults() {
  if (!Ended() || !Pending || !Drive) return;
  Drive->Clear();
  Drive->Scaner = std::move(Pending);
  TDiskObject* disk = Drive;
  Result.RecycledNamed = NameRecycledFiles(disk->Scaner->RootItem, [disk](TFileInfo* record, std::vector<std::byte>& out) {
    return ReadSmallRecord(disk, record, out);
  });
}

void TScanJob::Run() {
  TDiskObject* disk = Drive;
  if (disk == nullptr) return;
  Owner.ScanNotify(stScanning, Owner.OnScanStart);
  // Stopped before the worker got this far (the window closed right after "Search").
  if (StopRequested()) return End(true, {});
  try {
    if (!disk->Scaner) disk->Scaner = CreateScaner(disk);
    TDiskScaner* scaner = disk->Scaner.get();
    if (!scaner) return End(false, kNoDiskInfoText);
    Result.Deep = Owner.DeepScan();
    // A deep scan shown as it goes lists the quick scan's results first, while the free
    // space is read: they are the drive's records from then on, and the deep scan builds
    // its own beside them.
    const bool quickFirst = Result.Deep && Owner.EarlyResults();
    const bool armed = Arm(*scaner, Result.Deep && !quickFirst);
    // Stopped before the free space is read, it keeps what it found, as a deep scan does.
    if (quickFirst) scaner->KeepStoppedResults = true;
    // A volume that cannot be opened would scan as empty; say why instead.
    if (!armed) return End(false, disk->IsDriveValid() ? OpenFailureText(disk->OpenError) : kInvalidDiskText);
    if (std::string failure = RunScaner(*scaner); !failure.empty()) return End(false, failure);
    // Recycled files get back the names they had before they went to the bin.
    auto readRecord = [disk](TFileInfo* record, std::vector<std::byte>& out) { return ReadSmallRecord(disk, record, out); };
    Result.RecycledNamed = NameRecycledFiles(scaner->RootItem, readRecord);
    if (quickFirst && !StopRequested()) {
      std::unique_ptr<TDiskScaner> deep = CreateScaner(disk);
      if (!deep) return End(false, kNoDiskInfoText);
      if (!Arm(*deep, true)) return End(false, OpenFailureText(disk->OpenError));
      Pending = std::move(deep);
      // From here on this thread leaves the drive's records alone.
      EarlyShown.store(true, std::memory_order_release);
      Owner.ScanNotify(stScanning, Owner.OnScanEarlyResults);
      if (std::string failure = RunScaner(*Pending); !failure.empty()) {
        DropPending();
        return End(false, failure);
      }
    }
  } catch (const std::exception& e) {
    DropPending();
    return End(false, disk->IsDriveValid() ? e.what() : kInvalidDiskText);
  } catch (...) {
    DropPending();
    return End(false, disk->IsDriveValid() ? "The scan failed with an unknown error." : kInvalidDiskText);
  }
  End(StopRequested(), {});
}

}  // namespace restovo
