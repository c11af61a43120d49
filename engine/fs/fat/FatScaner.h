// Scanners for FAT12, FAT16 and FAT32 volumes: geometry from the boot sector, the
// allocation table, cluster chains, the verdict of a deleted file, and the directory walk
// that turns deleted entries into records.
#pragma once

#include <array>
#include <functional>
#include <optional>
#include <cstdint>
#include <string>
#include <unordered_map>
#include <unordered_set>
#include <vector>

#include "io/ByteOrder.h"
#include "fs/DiskScaner.h"
#include "fs/fat/FatDirectoryDetector.h"
#include "fs/fat/FatPreviousLayout.h"
#include "volume/BootSector.h"

namespace restovo {

// Volume byte offset of each cluster of an item, in file order.
using TClusChain = std::vector<std::int64_t>;

struct TFatEntryInfo : TFsRecord {
  bool IsFolder = false;
  bool Deleted = false;  // the entry is marked deleted, or lies in a deleted folder
  std::uint32_t FirstCluster = 0;
  TClusChain Clusters;
  TFileInfo* ParentDir = nullptr;
  // Found in the data area of an older volume this one was formatted over: its cluster k
  // lay at LayoutDataOffset + (k - 2) * LayoutClusterSize. 0: the volume's own layout.
  std::uint64_t LayoutDataOffset = 0;
  std::uint32_t LayoutClusterSize = 0;
  // Where such a file's data starts on the volume (its first cluster is 2 or more).
  std::uint64_t LayoutStart() const {
    return LayoutDataOffset + std::uint64_t{FirstCluster - 2} * LayoutClusterSize;
  }
};

struct TFatDirInfo : TFsRecord {
  std::vector<std::int32_t> FileIndexes;
  bool Pending = true;  // no deleted file has been found in it or below it yet
  bool ChainFound = false;  // its clusters were found by their contents, not guessed
  TFatEntryInfo Entry;  // the folder's own entry; Clusters are its clusters
};

enum TFatParseStatus : std::int32_t {
  psOk = 0,
  psReadFailed = 3,
  psInvalidEntry = 4,
  psEndOfDirectory = 5,
  psNoMemory = 6,
};

// The 8.3 name of a short entry: base, or base.ext; the NT case bits are honoured,
// bytes above 0x7F are code page 437, a leading 0x05 stands for 0xE5, and a deleted
// entry's lost first character becomes "$".
std::string ShortEntryName(TBytes entry, bool deleted);
// A long name from its entries in disk order (the last part of the name comes first).
std::string AssembleLongName(const std::vector<std::array<std::byte, 32>>& entries);
// Whether a long-name run (in disk order) belongs whole to the short entry after it: the
// checksums match (for a deleted entry, for the first name byte the checksum gives, which
// is then put in *firstByte) and no part of the name is missing. A run whose checksum fits
// but which lost its first parts is Partial: the short name is the truer one.
enum class TLongNameFit : std::uint8_t { None, Partial, Whole };
TLongNameFit FitLongName(const std::vector<std::array<std::byte, 32>>& entries, TBytes shortEntry,
                         std::uint8_t* firstByte);
// DOS date and time (local) to UTC; 0 for an invalid date.
FILETIME DosDateTimeToFileTime(std::uint16_t date, std::uint16_t time);

class TFatScaner : public TDiskScaner {
 public:
  explicit TFatScaner(TDiskObject* disk);

  void Clear() override;
  bool Prepare() override;
  void Scan() override;
  std::uint64_t DeclaredSize() const override { return TotalSectors * BytesPerSector; }

  // A table entry no copy of the table gives: neither free nor taken.
  static constexpr std::uint32_t kUnknownEntry = 0xFFFFFFFFu;
  // Entry k of the allocation table, from the active copy or, where that cannot be read,
  // another; kUnknownEntry when none can be read there, BadMark past the table.
  std::uint32_t GetFatEntry(std::uint32_t cluster);
  bool IsClusterFree(std::uint32_t cluster);
  bool IsDataCluster(std::uint64_t cluster) const {
    return cluster >= 2 && cluster <= std::uint64_t{DataClusterCount} + 1;
  }
  std::int64_t ClusterOffset(std::uint32_t cluster) const {
    return DataOffset + static_cast<std::int64_t>(cluster - 2) * ClusterSize;
  }
  void BuildFileChain(TFatEntryInfo& entry, std::int64_t size);
  // The clusters a deleted file's data lies in, as runs [from, to) of cluster numbers: from
  // its first cluster on, passing over clusters that live files hold now, never past the
  // volume's end, however large the size field.
  void ForEachDeletedRun(std::uint32_t first, std::int64_t size,
                         const std::function<void(std::uint32_t from, std::uint32_t to)>& run);
  void BuildFolderChain(TFileInfo* folder);
  TRecoverState RateDeletedFile(const TFatEntryInfo& entry, std::int64_t size);
  bool IsValidEntry(TBytes entry);

  bool ContiguousDeletedDirs = true;
  std::uint32_t EocMark = 0;
  std::uint32_t BadMark = 0;
  std::uint32_t EocMark2 = 0;
  std::int32_t ParseStatus = psOk;
  TBootInfo Boot;  // what the boot sector says, through the one boot-sector parser
  std::uint32_t BytesPerSector = 0;
  std::uint32_t RootDirSectors = 0;
  std::uint64_t FatBytes = 0;
  std::uint64_t FirstDataSector = 0;
  std::int64_t DataOffset = 0;
  std::uint64_t TotalSectors = 0;
  std::uint32_t DataClusterCount = 0;
  std::uint8_t ActiveFat = 0;
  std::int32_t RootIndex = 0;
  TFileItems Folders;

 protected:
  // Byte position of cluster k's entry inside one allocation table, and its decoding.
  virtual std::uint64_t LocateFatEntry(std::uint32_t cluster) const = 0;
  virtual std::uint32_t DecodeFatEntry(std::uint32_t cluster, TBytes at) const = 0;
  virtual void BuildRootFolder() = 0;
  virtual std::uint32_t MaxClusterNumber() const = 0;
  virtual std::uint32_t EntryBits() const = 0;

  // Sets the marks, runs the common boot-sector part and derives the geometry.
  bool PrepareVariant(std::uint32_t eoc, std::uint32_t bad, std::uint32_t eoc2);
  // The cluster offsets of a live chain from `first`: at most `limit` clusters, and never
  // more than the volume has, so a looping chain ends.
  TClusChain FollowChain(std::uint32_t first, bool checkStop, std::uint64_t limit = UINT64_MAX);
  // Clusters a folder can have: 2 MiB of entries.
  std::uint64_t MaxFolderClusters() const;
  // Makes the root record with the given chain and puts it first in Folders; a FAT32 root
  // names its first cluster so no deleted folder can lead back into it.
  void MakeRootRecord(TClusChain chain, std::uint32_t firstCluster = 0);

  std::int64_t RootRegionEnd = 0;  // FAT12/16: end of the fixed root region

 private:
  struct TWorkEntry;
  // position is a byte offset inside one table.
  bool ReadFatWindow(std::uint64_t position, std::uint32_t width);
  std::uint64_t TableCopyOffset(std::uint32_t copy) const;
  // Bytes [start, start + length) of the table, each from the first copy that gives it;
  // the length of the prefix read.
  std::uint32_t ReadTableBytes(std::uint64_t start, std::uint32_t length, std::byte* out);
  // Whether one copy of the table lies whole on the source and starts as the boot sector
  // says (its media byte); a scan without one has nothing to go by.
  bool TableReadable();
  void WalkFolder(TFileInfo* folder, TFileItems* subFolders);
  // Whether the cluster at `offset` carries on a deleted folder whose clusters are guessed.
  bool FollowsAsFolderCluster(std::int64_t offset);
  void WalkTree(TFileInfo* folder, std::int64_t index, std::int64_t count);
  void HandleEntry(TFileInfo* folder, TFileItems* subFolders, TWorkEntry& work);
  TFileInfo* NewRecordFrom(const TWorkEntry& work, std::string name);
  void AddFolderRecord(const TWorkEntry& work, TFileItems& target, bool rootLevel);
  void AddFileRecord(const TWorkEntry& work);
  void ReportProgress(std::int64_t folder, std::int64_t folders, std::int64_t part, std::int64_t parts);

  // The deep scan's parts: the free clusters read for directory clusters, these chained into
  // folders, and the folders no walk reached put in the tree after it.
  struct TFoundFolder {
    TClusChain Clusters;
    std::uint32_t Parent = 0;  // the ".." cluster; kNoParent for a run of clusters without "."
    bool Reached = false;      // walked as part of the tree
    bool TailOpen = false;     // its last cluster ends inside a long-name run
    std::uint8_t TailChecksum = 0;
    std::uint32_t MaxFirstCluster = 0;  // the highest first cluster its entries name
  };
  static constexpr std::uint32_t kNoParent = 0xFFFFFFFFu;
  // A deep scan's progress: the pass is most of it, the walk the rest.
  static constexpr std::int64_t kProgressScale = 100000;
  static constexpr std::int64_t kDeepShare = 95000;
  void RunDeepPass();
  // The folders of an older volume's data area, walked in its layout under a folder of their
  // own at the top of the tree.
  void WalkPreviousLayout();
  // The volume bytes an item of the older layout holds, in this volume's clusters [from, to).
  bool PreviousLayoutRun(const TFatEntryInfo& entry, std::int64_t size, std::uint32_t& from, std::uint32_t& to) const;
  TRecoverState RatePreviousLayoutFile(const TFatEntryInfo& entry, std::int64_t size);
  void ChainFoundClusters(const std::vector<TFatDirectoryDetector::TFound>& found);
  void AttachUnreachedFolders();
  // Deleted files whose clusters another deleted file claims too lose "Good".
  void RateSharedClusters();
  // A deep scan's second look at the deleted files rated below Good: their bytes, where a
  // parser knows their kind (by name), decide.
  void RateByContent();
  // The bytes the deleted files found claim, sorted and merged: not carved again.
  std::vector<TByteRange> ClaimedByFoundFiles();
  // The name, for a deleted entry, after the long-name run before it (emptied).
  std::string EntryName(TBytes entry, bool deleted, std::vector<std::array<std::byte, 32>>& longName);

  std::uint64_t FatOffset = 0;  // volume offset of the table that is read
  std::vector<std::byte> FatWindow;
  std::uint64_t FatWindowStart = 0;
  bool WholeFatTried = false;
  std::unordered_set<std::uint64_t> FatUnreadable;  // table sectors no copy gives
  std::vector<std::byte> ClusterBuf;
  // Folder clusters walked so far (first cluster → walked as a live folder), so that a
  // deleted folder pointing back at an ancestor cannot loop.
  std::unordered_map<std::uint32_t, bool> WalkedFolders;
  std::unordered_map<std::uint32_t, TFoundFolder> FoundFolders;  // by first cluster
  std::vector<std::uint32_t> FoundOrder;                        // first clusters, in volume order
  std::unordered_map<std::uint32_t, TFileInfo*> FolderByCluster;  // walked folders; 0 is the root
  // Where folders no walk reached go when their parent is not known.
  TFileInfo* AttachRoot = nullptr;
  // An older layout the deep pass found, and its directory clusters.
  std::optional<TFatDataLayout> PreviousLayout;
  std::vector<TFatDirectoryDetector::TFound> PreviousFound;
  // While the older layout is walked, DataOffset, ClusterSize and DataClusterCount are its
  // own, the allocation table says nothing about its clusters, and this is the volume's.
  std::optional<TFatDataLayout> OwnLayout;
  // The volume's own layout, also while the older one is walked.
  TFatDataLayout OwnDataLayout() const {
    return OwnLayout ? *OwnLayout
                     : TFatDataLayout{static_cast<std::uint64_t>(DataOffset), ClusterSize, DataClusterCount + 1};
  }
};

class TFat12Scaner : public TFatScaner {
 public:
  using TFatScaner::TFatScaner;
  bool Prepare() override;

 protected:
  std::uint64_t LocateFatEntry(std::uint32_t cluster) const override;
  std::uint32_t DecodeFatEntry(std::uint32_t cluster, TBytes at) const override;
  void BuildRootFolder() override;
  std::uint32_t MaxClusterNumber() const override { return 0xFF6; }
  std::uint32_t EntryBits() const override { return 12; }
};

class TFat16Scaner : public TFat12Scaner {
 public:
  using TFat12Scaner::TFat12Scaner;
  bool Prepare() override;

 protected:
  std::uint64_t LocateFatEntry(std::uint32_t cluster) const override;
  std::uint32_t DecodeFatEntry(std::uint32_t cluster, TBytes at) const override;
  std::uint32_t MaxClusterNumber() const override { return 0xFFF6; }
  std::uint32_t EntryBits() const override { return 16; }
};

class TFat32Scaner : public TFatScaner {
 public:
  using TFatScaner::TFatScaner;
  bool Prepare() override;

 protected:
  std::uint64_t LocateFatEntry(std::uint32_t cluster) const override;
  std::uint32_t DecodeFatEntry(std::uint32_t cluster, TBytes at) const override;
  void BuildRootFolder() override;
  std::uint32_t MaxClusterNumber() const override { return 0x0FFFFFF6; }
  std::uint32_t EntryBits() const override { return 32; }
};

}  // namespace restovo
