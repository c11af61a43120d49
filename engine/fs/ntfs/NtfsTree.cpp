#include "fs/ntfs/NtfsTree.h"

#include <algorithm>
#include <bit>
#include <cmath>

#include "fs/SharedClusters.h"
#include "fs/ntfs/NtfsDataInfo.h"

namespace restovo {

bool TVolumeBitmap::InUse(std::int64_t cluster) const {
  if (cluster < 0 || cluster / 8 >= LengthBytes()) return false;
  return (Bytes[static_cast<std::size_t>(cluster / 8)] >> (cluster % 8)) & 1;
}

std::int64_t TVolumeBitmap::CountInUse(std::int64_t first, std::int64_t count) const {
  const std::int64_t end = std::min(first + count, LengthBytes() * 8);
  std::int64_t used = 0;
  std::int64_t cl = std::max<std::int64_t>(first, 0);
  while (cl < end && cl % 8 != 0) used += InUse(cl++);
  while (cl + 8 <= end) {
    used += std::popcount(Bytes[static_cast<std::size_t>(cl / 8)]);
    cl += 8;
  }
  while (cl < end) used += InUse(cl++);
  return used;
}

namespace {

bool HasHoles(const TFileInfo* item) {
  const auto* info = dynamic_cast<const TNtfsDataInfo*>(item->FsData.get());
  return info && (info->Flags & (TNtfsDataInfo::kSparse | TNtfsDataInfo::kCompressed));
}

}  // namespace

void RateItem(TFileInfo* item, const TVolumeBitmap& bitmap) {
  if (item == nullptr || bitmap.Empty()) return;
  if (item->InUse) {
    item->State = rsGood;
  } else if (item->IsFolder) {
    item->State = rsFolder;
  } else if (item->Resident) {
    item->State = rsGood;
  } else if (item->HasAttrList) {
    item->State = rsLost;
  } else if (item->Runs.empty() || (item->Runs.front().Lcn < 0 && !HasHoles(item))) {
    item->State = rsLost;
  } else {
    const bool holes = HasHoles(item);
    std::int64_t checked = 0, overwritten = 0, prev = 0;
    for (const TRunNode& run : item->Runs) {
      const std::int64_t clusters = std::max<std::int64_t>(run.NextVcn - prev, 0);
      if (run.Lcn < 0) {
        if (!holes) {
          ++overwritten;
          ++checked;
        }
      } else {
        checked += clusters;
        overwritten += bitmap.CountInUse(run.Lcn, clusters);
      }
      prev = run.NextVcn;
    }
    if (overwritten == 0 || checked == 0) {
      item->State = rsGood;
    } else {
      const auto used = static_cast<std::int64_t>(
          std::nearbyint(static_cast<double>(overwritten) * 100.0 / static_cast<double>(checked)));
      const std::int64_t free = 100 - used;
      item->State = free == 100 ? rsGood : free >= 80 ? rsPoor : free >= 50 ? rsVeryPoor : rsLost;
    }
  }
}

namespace {

// Deleted, non-resident files from record 16 on whose first run is not sparse.
bool TakesPart(const TFileInfo* item) {
  return item && !item->IsFolder && !item->InUse && !item->Resident && !item->Runs.empty() &&
         item->Runs.front().Lcn >= 0;
}

template <class Fn>
void ForEachRun(const TFileInfo* item, Fn&& fn) {
  std::int64_t prev = 0;
  for (const TRunNode& run : item->Runs) {
    const std::int64_t clusters = run.NextVcn - prev;
    if (run.Lcn >= 0 && clusters > 0) fn(run.Lcn, run.Lcn + clusters);
    prev = run.NextVcn;
  }
}

}  // namespace

void RateSharedClusters(const std::vector<TFileInfo*>& slots, std::int64_t totalBits) {
  if (slots.size() <= 16 || totalBits <= 0) return;
  std::vector<TClaimRun> runs;
  std::vector<bool> beyond(slots.size(), false);
  for (std::size_t i = 16; i < slots.size(); ++i) {
    if (!TakesPart(slots[i])) continue;
    ForEachRun(slots[i], [&](std::int64_t from, std::int64_t to) {
      beyond[i] = beyond[i] || to > totalBits;
      runs.push_back({from, std::min(to, totalBits), static_cast<std::uint32_t>(i)});
    });
  }
  const std::vector<bool> shared = FindSharedOwners(std::move(runs), slots.size());
  for (std::size_t i = 16; i < slots.size(); ++i) {
    TFileInfo* item = slots[i];
    if (!TakesPart(item)) continue;
    if (beyond[i]) item->State = rsLost;
    else if (shared[i] && item->State == rsGood) item->State = rsPoor;
  }
}

TFileInfo* TNtfsTreeBuilder::NewPlaceholderFolder(std::int64_t recordNo) {
  TFileInfo* p = NewRecord();
  p->Name = "Directory" + std::to_string(recordNo);
  p->ParentRecordNo = 5;
  p->RecordNo = recordNo;
  p->IsFolder = true;
  p->CreationTime = LocalDateTimeToFileTime(NowLocal());
  p->Parent = Slots.size() > 5 ? Slots[5] : nullptr;
  return p;
}

void TNtfsTreeBuilder::AddChild(TFileInfo* parent, TFileInfo* child) {
  if (!parent->Children) parent->Children = std::make_unique<TFileItems>();
  parent->Children->push_back(child);
  child->Linked = true;
  child->Parent = parent;
}

TFileInfo* TNtfsTreeBuilder::ParentFolder(std::int64_t parentNo) const {
  if (parentNo < 0 || parentNo >= static_cast<std::int64_t>(Slots.size())) return nullptr;
  TFileInfo* p = Slots[static_cast<std::size_t>(parentNo)];
  if (p && p == Root) return p;
  // A parent record that is now a file, or a folder record without a usable name, cannot
  // show its children: they go to a placeholder instead of vanishing from the tree.
  if (!p || !p->IsFolder || p->Name.empty() || p->Name == "." || p->Name == "..") return nullptr;
  return p;
}

TFileInfo* TNtfsTreeBuilder::PlaceholderFor(std::int64_t parentNo, bool useSlot) {
  const bool inRange = parentNo >= 0 && parentNo < static_cast<std::int64_t>(Slots.size());
  if (!useSlot || !inRange) {
    TFileInfo*& aside = AsidePlaceholders[parentNo];
    if (!aside) {
      aside = NewPlaceholderFolder(parentNo);
      if (Root) AddChild(Root, aside);
    }
    return aside;
  }
  TFileInfo* p = NewPlaceholderFolder(parentNo);
  Slots[static_cast<std::size_t>(parentNo)] = p;
  if (Root) AddChild(Root, p);
  return p;
}

void TNtfsTreeBuilder::LinkFolderChain(TFileInfo* folder) {
  // Walk up one folder at a time; a parent met twice on the way means the parents loop.
  Chain.clear();
  TFileInfo* f = folder;
  while (f && f != Root && !f->Linked && !f->Name.empty() && f->Name != "." && f->Name != ".." &&
         !Stopped()) {
    Chain.insert(f);
    TFileInfo* p = ParentFolder(f->ParentRecordNo);
    if (p && Chain.count(p)) p = PlaceholderFor(f->ParentRecordNo, false);
    else if (!p) p = PlaceholderFor(f->ParentRecordNo, true);
    AddChild(p, f);
    f = p;
  }
}

TFileInfo* TNtfsTreeBuilder::BuildTree() {
  if (Slots.size() <= 15) return nullptr;
  Root = Slots[5];
  for (std::size_t i = 0; i < Slots.size() && !Stopped(); ++i) {
    TFileInfo* item = Slots[i];
    if (!item) continue;
    if (item == Root) {
      item->Parent = nullptr;
      continue;
    }
    if (item->Name.empty()) {
      Slots[i] = nullptr;
      continue;
    }
    if (item->Name == "." || item->Name == "..") continue;
    if (item->IsFolder || item->InUse || item->Linked) continue;
    if (SkipEmpty && item->Size == 0) continue;
    TFileInfo* p = ParentFolder(item->ParentRecordNo);
    if (!p) {
      p = PlaceholderFor(item->ParentRecordNo, true);
      AddChild(p, item);
      continue;
    }
    AddChild(p, item);
    LinkFolderChain(p);
  }
  return Root;
}

}  // namespace restovo
