// One restore: found files and folders written into a destination folder, on a worker or
// on the calling thread, with a report file by file.
#pragma once

#include <atomic>
#include <cstdint>
#include <filesystem>
#include <memory>
#include <string>
#include <unordered_map>
#include <unordered_set>
#include <vector>

#include "fs/DiskScaner.h"
#include "recovery/Job.h"

namespace restovo {

class TRecoveryHelper;

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
  // Files written whole whose kind a content parser knows, and those of them whose
  // content does not hold (Reason says why): another file's bytes, or damage.
  std::int32_t ContentChecked = 0;
  std::vector<TRestoreFailure> ContentFailures;
};

using TRecordSet = std::unordered_set<const TFileInfo*>;

class TRestoreJob : public TJob {
 public:
  // only: when set, folders restore just the records in it.
  TRestoreJob(TRecoveryHelper& owner, TDiskObject* disk, TFileItems files, std::string destDir,
              std::shared_ptr<const TRecordSet> only);
  ~TRestoreJob();  // joins the worker

  void Start();  // on a worker thread
  void Run();    // on the calling thread
  // Read once Finished(), or from the job's own events.
  const TRestoreReport& Report() const { return Result; }
  const std::string& ErrorText() const { return Error; }

 private:
  void RestoreFolder(const std::string& destDir, TFileInfo* folder);
  void RestoreFile(std::string path, TFileInfo* record);
  void Fail(const TFileInfo* record, const std::string& destination, const std::string& reason);
  // Records a failure for every file below a folder that could not be made.
  void FailTree(TFileInfo* folder, const std::string& path, const std::string& reason);
  // Whether an existing folder resolves to a place inside the destination of this run.
  bool InsideDestination(std::string dir);
  // Asks the front end (on the main thread) unless an earlier answer applies to all.
  void AskFileExists(const std::string& name);
  void Progress(bool handOver);

  const TFileItems Files;
  const std::string DestDir;
  const std::shared_ptr<const TRecordSet> Selection;
  TRestoreReport Result;
  std::string Error;
  std::string CurrentName;
  std::int64_t Percent = 0;
  std::uint8_t ExistsAnswer = eaOverwrite;
  bool ApplyToAll = false;
  std::filesystem::path DestRoot;  // the destination, resolved
  std::string CheckedFolder;       // the last folder found inside it
  std::unordered_map<std::string, std::uint64_t> NextNumbers;  // next free number per name
};

}  // namespace restovo
