// The verdicts of deleted NTFS files and the folder tree they are shown in. Works on plain
// data: items, the slot array (one item per MFT record number) and the volume bitmap.
#pragma once

#include <atomic>
#include <cstdint>
#include <functional>
#include <unordered_map>
#include <unordered_set>
#include <vector>

#include "records/TypesDefine.h"

namespace restovo {

// One bit per cluster, least significant bit first; 1 = in use. Clusters past its end
// count as free.
class TVolumeBitmap {
 public:
  TVolumeBitmap() = default;
  explicit TVolumeBitmap(std::vector<std::uint8_t> bytes) : Bytes(std::move(bytes)) {}
  bool Empty() const { return Bytes.empty(); }
  std::int64_t LengthBytes() const { return static_cast<std::int64_t>(Bytes.size()); }
  bool InUse(std::int64_t cluster) const;
  // Clusters in use among [first, first + count).
  std::int64_t CountInUse(std::int64_t first, std::int64_t count) const;

 private:
  std::vector<std::uint8_t> Bytes;
};

// Sets item->State from the bitmap: live and resident items are "Good", folders rsFolder,
// items with an attribute list or without data runs "Lost", others by the share of their
// clusters still free. Holes of a sparse or compressed stream are part of its layout, not
// lost data. An empty bitmap changes nothing.
void RateItem(TFileInfo* item, const TVolumeBitmap& bitmap);

// Deleted non-resident files from record 16 on that claim a cluster another one claims too
// drop from "Good" to "Poor"; a cluster at or past totalBits makes a file "Lost". Memory
// grows with the number of runs, not of clusters.
void RateSharedClusters(const std::vector<TFileInfo*>& slots, std::int64_t totalBits);

// Links deleted files and the folders above them under the root (slot 5). A parent that is
// gone (no record, not a folder, no name, a number past the slots, or a loop of parents) is
// replaced by a placeholder folder "Directory<N>" under the root.
class TNtfsTreeBuilder {
 public:
  TNtfsTreeBuilder(std::vector<TFileInfo*>& slots, std::function<TFileInfo*()> newRecord,
                   const std::atomic<bool>* stop, bool skipEmptyFiles)
      : Slots(slots), NewRecord(std::move(newRecord)), Stop(stop), SkipEmpty(skipEmptyFiles) {}

  TFileInfo* BuildTree();
  void LinkFolderChain(TFileInfo* folder);
  TFileInfo* NewPlaceholderFolder(std::int64_t recordNo);
  void AddChild(TFileInfo* parent, TFileInfo* child);

 private:
  bool Stopped() const { return Stop && Stop->load(std::memory_order_relaxed); }
  // The folder that holds an item with this parent number, or nullptr when it is gone.
  TFileInfo* ParentFolder(std::int64_t parentNo) const;
  // A placeholder for a parent that is gone: stored in its slot when the number has one,
  // else kept aside so items with the same missing parent share it.
  TFileInfo* PlaceholderFor(std::int64_t parentNo, bool useSlot);

  std::vector<TFileInfo*>& Slots;
  std::function<TFileInfo*()> NewRecord;
  const std::atomic<bool>* Stop;
  bool SkipEmpty;
  TFileInfo* Root = nullptr;
  std::unordered_map<std::int64_t, TFileInfo*> AsidePlaceholders;
  std::unordered_set<const TFileInfo*> Chain;
};

}  // namespace restovo
