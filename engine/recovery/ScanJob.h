// One scan of one drive: run on a worker or on the calling thread, stopped from any
// thread, and what it read and found once it has ended.
#pragma once

#include <atomic>
#include <cstdint>
#include <memory>
#include <string>

#include "fs/DiskScaner.h"
#include "recovery/Job.h"

namespace restovo {

class TRecoveryHelper;

// How a scan ended and what it could not read. Written by the scan, read once it ended.
struct TScanReport {
  std::string Volume;      // the drive's name: "sdb1", "card.img"
  std::string FileSystem;  // "FAT32", "NTFS"
  bool Stopped = false;    // ended by a stop: what was found is partial
  bool Deep = false;       // a deep scan: free space was read too
  std::uint64_t DeepBytesRead = 0;  // of the free space
  std::uint64_t DeepBytesToRead = 0;
  double DeepSeconds = 0;
  std::string Error;       // the scan could not be done; empty when it ran
  std::uint64_t FailedReads = 0;
  std::uint64_t UnreadBytes = 0;  // what could not be read, the missing tail included
  std::uint64_t MissingTail = 0;  // the part of the volume past the end of its source
  std::size_t Found = 0;          // records listed
  std::size_t RecycledNamed = 0;  // recycled files that got their original names back
};

class TScanJob : public TJob {
 public:
  TScanJob(TRecoveryHelper& owner, TDiskObject* disk);
  ~TScanJob();  // joins the worker

  // Runs the scan on a worker thread.
  void Start();
  // Runs the scan on the calling thread.
  void Run();
  // Ends the job before it ran, as a scan that could not be done.
  void Refuse(const std::string& error) { End(false, error); }
  // Read once Finished().
  const TScanReport& Report() const { return Result; }

  // A deep scan whose quick results were shown first keeps its own records here until the
  // main thread takes them, once the views have let go of the quick ones.
  bool HasPendingResults() const { return Ended() && Pending != nullptr; }
  // On the main thread, once the job has ended: the drive's records become the deep
  // scan's (the quick ones are freed), recycled files named as after every scan.
  void AdoptPendingResults();
  // The quick scan's records are the drive's, and nothing changes them any more, while the
  // deep scan goes on with records of its own.
  bool EarlyResultsShown() const { return EarlyShown.load(std::memory_order_acquire); }

 private:
  void End(bool stopped, const std::string& error);
  // Sets a scanner up for this job's scan; false when its volume cannot be read.
  bool Arm(TDiskScaner& scaner, bool deep);
  // Runs one scan; why it failed, empty when it ran.
  std::string RunScaner(TDiskScaner& scaner);
  void DropPending();

  TScanReport Result;
  TDiskScaner* Active = nullptr;  // the scanner whose figures the report gives
  std::unique_ptr<TDiskScaner> Pending;
  std::atomic<bool> EarlyShown{false};
};

}  // namespace restovo
