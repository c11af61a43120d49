// Scanner for NTFS volumes: reads the whole master file table in large sequential chunks,
// makes an item for every folder and every deleted file, rates the deleted files against
// the volume bitmap and links them into the old folder tree.
#pragma once

#include <vector>

#include "fs/DiskScaner.h"
#include "fs/ntfs/MftReader.h"
#include "fs/ntfs/NtfsIndexDetector.h"
#include "fs/ntfs/NtfsTree.h"

namespace restovo {

class TNtfsScaner : public TDiskScaner {
 public:
  explicit TNtfsScaner(TDiskObject* disk);

  bool Prepare() override;
  void Scan() override;
  // Only a boot sector that passed its checks gives a size: a refused one may hold anything.
  std::uint64_t DeclaredSize() const override {
    return GeometryValid ? static_cast<std::uint64_t>(Geometry.TotalSectors * Geometry.BytesPerSector) : 0;
  }

  // Where the $MFT's own data lies.
  struct TMftInfo {
    std::int64_t DataSize = 0;
    std::vector<TRunNode> DataRuns;
  };

  // Reads `size` bytes of the $MFT's data at byte `offset` of it; false where the bytes
  // are not on the volume (sparse, past the runs, unreadable).
  bool ReadMftBytes(std::int64_t offset, std::int64_t size, std::byte* out) const;

  TNtfsGeometry Geometry;
  bool GeometryValid = false;  // Geometry comes from a boot sector that passed its checks
  TMftInfo MftInfo;
  std::int64_t RecordCount = 0;
  // One entry per MFT record: the item made from it, or nullptr. Records of live files
  // make no item: nothing shows them.
  std::vector<TFileInfo*> Slots;

 private:
  TFileInfo* MakeItem(const TInodeData& inode);
  // The most bytes a stream's data can hold: what its runs cover, and never more than the
  // volume for data without holes.
  std::int64_t DataLimit(const TNtfsStreamInfo& data, bool attrList) const;
  // size, or limit with the record marked as damaged when size is beyond it.
  static std::int64_t CapToData(TFileInfo* item, std::int64_t size, std::int64_t limit);
  bool LoadVolumeBitmap(TVolumeBitmap& bitmap);
  // The deep pass: FILE records in the clusters the bitmap marks free (all of them without
  // a bitmap), made into items by the numbers they carry, in `found`. False when stopped.
  bool FindRecordsOutsideMft(const TVolumeBitmap& bitmap, std::vector<TFileInfo*>& found);
  // Puts what FindRecordsOutsideMft found under a folder of its own below the root.
  void LinkFoundRecords(std::vector<TFileInfo*>& found, bool stopped);
  // The names the deep pass read in index blocks: placeholder folders get the names their
  // folders had, and files whose record is gone or reused are listed by name, "Lost".
  void LinkIndexNames(TNtfsTreeBuilder& tree, const std::vector<TFileInfo*>& found);
  // A deep scan's view of every record: its sequence number (0: no valid record) and
  // whether it is in use, so an index entry is told from the record that took its number.
  std::vector<std::uint16_t> Sequences;
  std::vector<bool> LiveRecords;
  std::vector<TNtfsIndexEntry> IndexEntries;
  // Whether record n is in use and still the one a reference with this sequence meant.
  bool LiveNow(std::int64_t n, std::uint16_t sequence) const;
  // The clusters of live folders' index blocks. They are in use, so the pass over the free
  // clusters would not read them; the slack after their entries names files removed from
  // those folders, whose records may have been taken since.
  std::vector<TByteRange> LiveIndexRanges;
  // Keys of the names that entries of files in use give (NameInFolderKey), sorted.
  std::vector<std::uint64_t> LiveNameKeys;
  void NoteLiveIndex(const TInodeData& folder, TBytes record);
  // The bytes the files found claim, sorted and merged: not carved again.
  std::vector<TByteRange> ClaimedByFoundFiles() const;
  // A deep scan's second look at the deleted files rated below Good: their bytes, where a
  // parser knows their kind (by name), decide.
  void RateByContent(const std::vector<TFileInfo*>& items);
  // Takes the $MFT's runs (into MftInfo) and its $BITMAP size from the copy of record 0 at
  // cluster lcn; false when it cannot be read or does not say them. A record that breaks
  // off is taken only when damagedToo is set.
  bool LoadMftRecord(std::int64_t lcn, bool damagedToo, std::vector<std::byte>& record, TInodeData& inode,
                     std::int64_t& bitmapSize);
};

}  // namespace restovo
