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

 private:
  void End(bool stopped, const std::string& error);

  TScanReport Result;
};

}  // namespace restovo
