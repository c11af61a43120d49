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
  if (TDiskScaner* scaner = Drive ? Drive->Scaner.get() : nullptr) {
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
    scaner->KeepStoppedResults = Owner.KeepStoppedResults();
    scaner->Deep = Result.Deep = Owner.DeepScan();
    scaner->SetStopSource(&StopFlag);
    // A volume that cannot be opened would scan as empty; say why instead.
    if (!scaner->Volume.IsValid())
      return End(false, disk->IsDriveValid() ? OpenFailureText(disk->OpenError) : kInvalidDiskText);
    scaner->OnProgress = [this](TDiskScaner*, std::int64_t total, std::int64_t position) {
      if (Owner.OnScanProgress) Owner.OnScanProgress(&Owner, total, position);
    };
    scaner->Scan();
    scaner->NoteScanReads();
    if (!scaner->Failure().empty()) return End(false, scaner->Failure());
    // Recycled files get back the names they had before they went to the bin.
    Result.RecycledNamed = NameRecycledFiles(scaner->RootItem, [disk](TFileInfo* record, std::vector<std::byte>& out) {
      return ReadSmallRecord(disk, record, out);
    });
  } catch (const std::exception& e) {
    return End(false, disk->IsDriveValid() ? e.what() : kInvalidDiskText);
  } catch (...) {
    return End(false, disk->IsDriveValid() ? "The scan failed with an unknown error." : kInvalidDiskText);
  }
  End(StopRequested(), {});
}

}  // namespace restovo
