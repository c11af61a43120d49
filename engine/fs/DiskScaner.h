// Drive objects (one scannable FAT or NTFS volume each) and the scanner base class.
#pragma once

#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>

#include "fs/ContentCarving.h"
#include "volume/DriveList.h"
#include "records/TypesDefine.h"
#include "io/VolumeAccess.h"
#include "volume/FsKind.h"

namespace restovo {

// The file-system name of the volume at a location ("FAT", "FAT32", "NTFS", "exFAT" ...);
// empty when it cannot be told.
std::string GetFileSystemName(const TVolumeLocation& location);

class TDiskScaner;

using TProgressEvent =
    std::function<void(TDiskScaner* sender, std::int64_t total, std::int64_t position)>;

// What a probe of the volume already told: spares a second libblkid pass.
struct TProbedName {
  std::string FileSystem;
  std::string Label;
};

class TDiskObject {
 public:
  // Reads the drive's figures from the volume at location.
  TDiskObject(const std::string& root, const std::string& name, const TVolumeLocation& location,
              const std::string& mountPoint = {}, const TProbedName* probed = nullptr);
  ~TDiskObject();
  TDiskObject(const TDiskObject&) = delete;
  TDiskObject& operator=(const TDiskObject&) = delete;

  void Refresh(const TProbedName* probed = nullptr);
  bool IsDriveValid();
  void Clear();

  std::unique_ptr<TDiskScaner> Scaner;
  std::string Root;        // "sdb1/", "card.img#2/", "/media/me/CARD/": the start of every path
  std::string Name;        // "sdb1", "card.img#2"
  std::string MountPoint;  // empty when not mounted
  TVolumeLocation Location;
  std::int64_t TotalSize = 0;
  std::int64_t FreeSize = 0;
  std::string FileSystem;
  std::string VolumeLabel;
  TFsKind FsKind = fkUnknown;
  std::uint32_t DriveType = dtUnknown;
  std::uint32_t SerialNumber = 0;
  std::string DisplayName;  // "NIKON (sdb1)", "card.img"
  int OpenError = 0;        // errno of the last failed open of the source
  bool FromMachine = false; // listed from the machine's block devices, not opened by the user
};

class TDiskScaner {
 public:
  explicit TDiskScaner(TDiskObject* disk);
  virtual ~TDiskScaner();
  TDiskScaner(const TDiskScaner&) = delete;
  TDiskScaner& operator=(const TDiskScaner&) = delete;

  // Opens the volume and reads its boot data; what the virtual constructor does after the
  // object exists (CreateScaner calls it).
  void Open();

  virtual int AddItem(TFileInfo* item);
  virtual void FreeItem(TFileInfo* item);
  virtual void Clear();
  virtual bool Prepare();
  virtual void Scan();
  virtual bool Accept(const TFileInfo* item) const;

  std::string GetRootPath() const;
  void SetFilterEnabled(bool enabled);
  bool FilterEnabled() const { return Filter; }

  TDiskObject* Disk;
  TFileItems Items;
  TFileItems FolderList;  // folders holding at least one found file (FAT)
  // Scan progress, on the scanning thread.
  TProgressEvent OnProgress;
  std::atomic<bool> Stop{false};
  bool SkipEmptyFiles = true;
  // A deep scan also reads the volume's free space for structures the live metadata no
  // longer points at; set before Scan().
  bool Deep = false;
  // Bytes the last deep scan read of the volume, and of how many it meant to read.
  std::uint64_t DeepBytesRead = 0;
  std::uint64_t DeepBytesToRead = 0;
  double DeepSeconds = 0;  // the pass alone
  // Whether a stopped scan still links what it found into a tree (the terminal prints
  // it). Off, a stop ends the scan at once: linking millions of records takes a while.
  bool KeepStoppedResults = true;
  TFileInfo* RootItem = nullptr;
  TVolumeHandle Volume;
  std::uint32_t ClusterSize = 0;
  std::int64_t ProgressStep = 1048576;
  // What the last scan could not read of the volume: reads that failed or came back short,
  // and the part of the volume past the end of its source (a truncated image, a partition
  // cut short). What lay there is missing from the results.
  std::uint64_t FailedReads = 0;
  std::uint64_t UnreadBytes = 0;  // both together
  std::uint64_t MissingTail = 0;  // the part past the end of the source
  // Takes the volume's read counts of the scan that has just ended.
  void NoteScanReads();
  // The size the volume's boot sector gives it; 0 when unknown.
  virtual std::uint64_t DeclaredSize() const { return 0; }
  // Why the last scan could not be done at all (its metadata unreadable, or not what the
  // boot sector says); empty when it ran. A scan that failed found nothing to trust.
  const std::string& Failure() const { return FailureText; }
  // A stop flag of the one who runs the scan, read beside Stop (which a scan resets when
  // it starts); it must outlive the scan.
  void SetStopSource(const std::atomic<bool>* flag) { StopSource = flag; }

 protected:
  // Ends the scan as a failure: the scanner returns right after.
  void Fail(std::string text) { FailureText = std::move(text); }
  bool StopRequested() const {
    if (StopsHeldOff) return false;
    return Stop.load(std::memory_order_relaxed) || (StopSource && StopSource->load(std::memory_order_acquire));
  }
  // While set, a stop already asked for waits: a deep scan stopped in its pass still lists
  // what the live metadata holds, which the pass's findings join.
  bool StopsHeldOff = false;
  // The flag a long step after the reading (linking the tree) checks: the runner's when set.
  const std::atomic<bool>* LinkStopFlag() const { return StopSource ? StopSource : &Stop; }
  // The files found by content (candidates of the deep pass) that no found file claims
  // (sorted, merged byte ranges), listed under "Found by content", a folder per kind.
  void CarveContent(std::vector<TContentCandidate> candidates, const std::vector<TByteRange>& claimed);
  // Deleted files whose first byte (firstByte gives its volume offset, or nothing) now
  // begins a file of another kind than their name says (by the content candidates), or a
  // whole one of their kind that is longer than they are: other bytes took their place. They are rated Lost, and claim nothing when files are carved,
  // so that the file beginning there is found by its content.
  void MarkOverwrittenByContent(const std::function<std::optional<std::uint64_t>(const TFileInfo*)>& firstByte);
  // What the content detector of the last deep pass found, for CarveContent.
  std::vector<TContentCandidate> ContentCandidates;
  // The space no live file holds that the last deep pass read (sorted, merged; empty when
  // the whole volume was read): a file found by content goes on past what lies between.
  std::vector<TByteRange> FreeRanges;
  // A new zeroed record owned by this scanner until it is destroyed.
  TFileInfo* NewRecord() { return Records.New(); }
  std::size_t RecordCount() const { return Records.Count(); }

 private:
  bool Filter = true;
  std::string FailureText;
  const std::atomic<bool>* StopSource = nullptr;
  TFileInfoStore Records;
};

// The scanner class for the drive's file-system kind, opened on its volume; nullptr for a
// null drive or an unknown kind.
std::unique_ptr<TDiskScaner> CreateScaner(TDiskObject* disk);

}  // namespace restovo
