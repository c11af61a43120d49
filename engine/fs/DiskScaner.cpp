#include "fs/DiskScaner.h"

#include <sys/stat.h>
#include <sys/statvfs.h>

#include <algorithm>
#include <filesystem>
#include <unordered_set>

#include "io/BlockProbe.h"
#include "volume/BootSector.h"
#include "volume/DriveList.h"

namespace restovo {

namespace {

// File-system name and label of a volume: libblkid's view for files and devices, the
// engine's own boot-sector reading for memory volumes and for what libblkid refuses.
std::string ProbeFileSystem(const TVolumeLocation& location, const TVolumeHandle& volume,
                            std::string* label, TBootInfo* boot, const TProbedName* probed = nullptr) {
  TBootInfo own;
  const bool haveBoot = ReadBootInfo(volume, own);
  if (boot) *boot = own;
  if (probed && !probed->FileSystem.empty()) {
    if (label) *label = probed->Label;
    return probed->FileSystem;
  }
  if (!location.Source.empty()) {
    TBlkidInfo blkid;
    if (ProbeWithBlkid(location.Source, volume.Offset(), volume.Size(), blkid)) {
      if (label) *label = blkid.Label;
      return FileSystemNameFromBlkid(blkid);
    }
  }
  if (label) *label = own.Label;
  return haveBoot ? FsKindName(own.Kind) : std::string();
}

std::uint32_t ReadDriveType(const TVolumeLocation& location) {
  if (location.Memory) return dtImage;
  struct stat st {};
  if (::stat(location.Source.c_str(), &st) != 0) return dtNoRootDir;
  if (!S_ISBLK(st.st_mode)) return dtImage;
  const std::string dir = SysfsBlockDir(TSystemPaths{}, st.st_rdev);
  return dir.empty() ? dtFixed : DriveTypeFromSysfs(dir);
}

}  // namespace

std::string GetFileSystemName(const TVolumeLocation& location) {
  const TVolumeHandle volume = OpenVolume(location);
  if (!volume.IsValid()) return {};
  return ProbeFileSystem(location, volume, nullptr, nullptr);
}

TDiskObject::TDiskObject(const std::string& root, const std::string& name,
                         const TVolumeLocation& location, const std::string& mountPoint,
                         const TProbedName* probed)
    : Root(root), Name(name), MountPoint(mountPoint), Location(location) {
  Refresh(probed);
}

TDiskObject::~TDiskObject() {
  Clear();
  Scaner.reset();
}

void TDiskObject::Refresh(const TProbedName* probed) {
  DriveType = ReadDriveType(Location);
  const TVolumeHandle volume = OpenVolume(Location);
  OpenError = volume.OpenError;
  TBootInfo boot;
  FileSystem = ProbeFileSystem(Location, volume, &VolumeLabel, &boot, probed);
  SerialNumber = boot.Serial;
  TotalSize = static_cast<std::int64_t>(boot.ClusterSize * boot.TotalClusters);
  FreeSize = 0;
  struct statvfs vfs {};
  if (!MountPoint.empty() && ::statvfs(MountPoint.c_str(), &vfs) == 0) {
    FreeSize = static_cast<std::int64_t>(vfs.f_bfree * vfs.f_frsize);
  } else if (const std::int64_t free = CountFreeClusters(volume, boot); free > 0) {
    FreeSize = free * static_cast<std::int64_t>(boot.ClusterSize);
  }
  FsKind = DetectFsKind(FileSystem);
  // The platform calls FAT12 and FAT16 both "FAT"; their tables differ, so the boot sector
  // decides which reader a "FAT" volume gets.
  if (FsKind == fkFat16 && boot.Kind == fkFat12) FsKind = fkFat12;
  DisplayName = VolumeLabel.empty() ? Name : VolumeLabel + " (" + Name + ")";
}

bool TDiskObject::IsDriveValid() {
  DriveType = ReadDriveType(Location);
  return DriveType != dtNoRootDir;
}

void TDiskObject::Clear() {
  if (Scaner) Scaner->Clear();
}

TDiskScaner::TDiskScaner(TDiskObject* disk) : Disk(disk) {}

TDiskScaner::~TDiskScaner() = default;

void TDiskScaner::Open() {
  // The drive holds where its volume is.
  if (Disk) Volume = OpenVolume(Disk->Location);
  if (Disk && !Volume.IsValid()) Disk->OpenError = Volume.OpenError;
  Prepare();
  ProgressStep = 1048576;
  SkipEmptyFiles = true;
  SetFilterEnabled(true);
}

int TDiskScaner::AddItem(TFileInfo* item) {
  if (Filter && !Accept(item)) return 0;
  Items.push_back(item);
  return static_cast<int>(Items.size() - 1);
}

void TDiskScaner::CarveContent(std::vector<TContentCandidate> candidates, const std::vector<TByteRange>& claimed) {
  if (!RootItem || candidates.empty()) return;
  const std::vector<TCarvedFile> files =
      MeasureCandidates(Volume, std::move(candidates), claimed, FreeRanges, [this] { return StopRequested(); });
  if (files.empty()) return;
  auto folder = [this](TFileInfo* parent, std::string name) {
    TFileInfo* f = NewRecord();
    f->IsFolder = true;
    f->InUse = true;  // no folder of the volume, deleted or not: a place to list them
    f->State = rsFolder;
    f->Name = std::move(name);
    f->Parent = parent;
    return f;
  };
  TFileInfo* top = folder(RootItem, "Found by content");
  std::vector<std::pair<const TContentType*, TFileInfo*>> kinds;  // a folder per kind
  std::vector<std::size_t> numbers;
  std::unordered_set<std::string> names;  // titles given so far
  for (const TCarvedFile& c : files) {
    auto kind = std::find_if(kinds.begin(), kinds.end(), [&](const auto& k) { return k.first == c.Type; });
    if (kind == kinds.end()) {
      kinds.emplace_back(c.Type, folder(top, std::string(c.Type->Name)));
      numbers.push_back(0);
      kind = std::prev(kinds.end());
    }
    const std::size_t k = static_cast<std::size_t>(kind - kinds.begin());
    TFileInfo* item = NewRecord();
    // Named by what the content says of itself (a photo's time and camera), else by kind
    // and number in the order they lie on the volume; a name met twice gets the number too.
    std::string number = std::to_string(++numbers[k]);
    if (number.size() < 5) number.insert(0, 5 - number.size(), '0');
    const std::string extension(c.Measure.Extension.empty() ? c.Type->Extension : c.Measure.Extension);
    const std::string title = MakeSafeName(c.Measure.Title);
    item->Name = (title.empty() ? std::string(c.Type->Name) : title) + " " + number + "." + extension;
    if (!title.empty() && names.insert(title + "." + extension).second) item->Name = title + "." + extension;
    item->Size = static_cast<std::int64_t>(c.Measure.Length);
    item->State = c.Measure.Verdict == TContentVerdict::Whole ? rsGood : rsPoor;
    if (c.Measure.Verdict != TContentVerdict::Whole) item->Damage |= rdContent;
    auto data = std::make_unique<TCarvedDataInfo>();
    data->Offset = c.Offset;
    data->Pieces = c.Pieces;
    data->Verdict = c.Measure.Verdict;
    data->Reason = c.Measure.Reason;
    item->FsData = std::move(data);
    item->Parent = kind->second;
    if (!Accept(item)) continue;
    AddItem(item);
    LinkToParent(item);
  }
}

void TDiskScaner::MarkOverwrittenByContent(
    const std::function<std::optional<std::uint64_t>(const TFileInfo*)>& firstByte) {
  if (ContentCandidates.empty()) return;
  std::vector<TContentCandidate> starts = ContentCandidates;
  std::sort(starts.begin(), starts.end(),
            [](const TContentCandidate& a, const TContentCandidate& b) { return a.Offset < b.Offset; });
  for (TFileInfo* item : Items) {
    if (StopRequested()) return;
    if (item->IsFolder || item->InUse || item->Size <= 0) continue;
    const TContentType* named = ContentTypeForName(item->Name);
    if (!named) continue;
    const std::optional<std::uint64_t> at = firstByte(item);
    if (!at) continue;
    const auto it = std::lower_bound(starts.begin(), starts.end(), *at,
                                     [](const TContentCandidate& c, std::uint64_t o) { return c.Offset < o; });
    if (it == starts.end() || it->Offset != *at) continue;
    // Of its own kind, a whole file that goes on past its size is another, longer one.
    if (it->Type == named) {
      const TCarvedFile there = MeasureCandidate(Volume, *it, FreeRanges);
      if (there.Measure.Verdict != TContentVerdict::Whole || there.Measure.Length <= static_cast<std::uint64_t>(item->Size))
        continue;
    }
    item->State = rsLost;
    item->Damage |= rdContentFailed;
  }
}

// Records belong to the scanner's store and go with it; nothing to release one by one.
void TDiskScaner::FreeItem(TFileInfo*) {}

void TDiskScaner::Clear() {
  Items.clear();
  FolderList.clear();
}

bool TDiskScaner::Prepare() {
  Stop = false;
  Clear();
  return true;
}

void TDiskScaner::Scan() {
  Clear();
  Stop = false;
  FailedReads = UnreadBytes = MissingTail = 0;
  DeepBytesRead = DeepBytesToRead = 0;
  DeepSeconds = 0;
  FailureText.clear();
  Volume.ResetReadStats();
}

void TDiskScaner::NoteScanReads() {
  const std::uint64_t declared = DeclaredSize();
  MissingTail = Volume.IsValid() && declared > Volume.Size() ? declared - Volume.Size() : 0;
  FailedReads = Volume.FailedReads();
  UnreadBytes = Volume.UnreadBytes() + MissingTail;
}

bool TDiskScaner::Accept(const TFileInfo* item) const {
  if (item == nullptr) return false;
  if (SkipEmptyFiles && !item->IsFolder && item->Size == 0) return false;
  if (item->IsFolder) return true;
  // NTFS system records below 16, except the root folder (5) and the volume bitmap (6).
  if (item->RecordNo < 16) return item->RecordNo == 0 || item->RecordNo == 5 || item->RecordNo == 6;
  return true;
}

std::string TDiskScaner::GetRootPath() const { return Disk ? Disk->Root : std::string(); }

void TDiskScaner::SetFilterEnabled(bool enabled) {
  if (Filter == enabled) return;
  Filter = enabled;
  if (!enabled) SkipEmptyFiles = false;
}

}  // namespace restovo
