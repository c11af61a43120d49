#include "fs/ntfs/NTFSScaner.h"

#include <algorithm>
#include <limits>
#include <array>
#include <functional>
#include <memory>
#include <span>
#include <unordered_map>
#include <unordered_set>

#include "fs/ContentVerdict.h"
#include "fs/DeepPass.h"
#include "fs/ntfs/NtfsDataInfo.h"
#include "fs/ntfs/NtfsLayout.h"
#include "fs/ntfs/NtfsRecordDetector.h"
#include "volume/BootSectorLayout.h"

namespace restovo {

namespace {

// Records are read this many bytes at a time, split only where the $MFT's runs split.
constexpr std::int64_t kChunkBytes = 1 << 20;
constexpr std::int64_t kMaxRecords = 0x7FFFFFF;

}  // namespace

TNtfsScaner::TNtfsScaner(TDiskObject* disk) : TDiskScaner(disk) {}

bool TNtfsScaner::Prepare() {
  const bool ok = TDiskScaner::Prepare();
  MftInfo = {};
  Slots.clear();
  RecordCount = 0;
  std::array<std::byte, boot::kSectorBytes> bootSector{};
  if (ReadVolumeExact(Volume, bootSector.data(), boot::kSectorBytes, 0) == TReadResult::Ok &&
      ParseNtfsBootSector(bootSector, Geometry))
    ClusterSize = static_cast<std::uint32_t>(Geometry.ClusterBytes());
  else
    ClusterSize = 0;
  return ok;
}

bool TNtfsScaner::ReadMftBytes(std::int64_t offset, std::int64_t size, std::byte* out) const {
  const std::int64_t cluster = Geometry.ClusterBytes();
  std::int64_t prevVcn = 0;
  bool complete = true;
  for (const TRunNode& run : MftInfo.DataRuns) {
    const std::int64_t runStart = prevVcn * cluster;
    const std::int64_t runEnd = run.NextVcn * cluster;
    prevVcn = run.NextVcn;
    const std::int64_t from = std::max(offset, runStart);
    const std::int64_t to = std::min(offset + size, runEnd);
    if (from >= to) continue;
    if (run.Lcn < 0) {
      complete = false;
      continue;
    }
    const auto n = static_cast<std::uint32_t>(to - from);
    const auto at = static_cast<std::uint64_t>(run.Lcn * cluster + (from - runStart));
    if (ReadVolume(Volume, out + (from - offset), n, at) != n) complete = false;
  }
  return complete && prevVcn * cluster >= offset + size;
}

bool TNtfsScaner::LoadVolumeBitmap(TVolumeBitmap& bitmap) {
  const std::int64_t recordBytes = Geometry.BytesPerRecord;
  std::vector<std::byte> record(static_cast<std::size_t>(recordBytes));
  TInodeData inode;
  inode.Reset(6);
  if (!ReadMftBytes(6 * recordBytes, recordBytes, record.data()) ||
      !CheckFixups(Geometry, record.data(), recordBytes) ||
      ParseFileRecord(record, inode) != TRecordKind::Base) {
    return false;
  }
  const TNtfsStreamInfo* data = inode.UnnamedData();
  if (!data) return false;
  // The bitmap holds a bit per cluster; anything beyond that is damage, not data. Clusters
  // past the end of the device hold nothing to rate, so a boot sector claiming a far larger
  // volume than the device is cannot make this allocation large.
  std::int64_t clusters = Geometry.TotalClusters();
  if (const auto device = static_cast<std::int64_t>(std::min<std::uint64_t>(Volume.Size(), INT64_MAX)); device > 0)
    clusters = std::min(clusters, device / Geometry.ClusterBytes() + 1);
  const std::int64_t needed = (clusters + 7) / 8;
  const std::int64_t size = std::min(data->DataSize, needed);
  if (size <= 0) return false;
  std::vector<std::uint8_t> bytes(static_cast<std::size_t>(size));
  const std::int64_t cluster = Geometry.ClusterBytes();
  std::int64_t prev = 0;
  std::int64_t done = 0;
  for (const TRunNode& run : data->Runs) {
    if (done >= size || run.Lcn < 0) break;
    const std::int64_t bytesInRun = (run.NextVcn - prev) * cluster;
    prev = run.NextVcn;
    const std::int64_t n = std::min(bytesInRun, size - done);
    for (std::int64_t part = 0; part < n;) {
      const auto piece = static_cast<std::uint32_t>(std::min<std::int64_t>(n - part, kChunkBytes));
      const auto at = static_cast<std::uint64_t>(run.Lcn * cluster + part);
      if (ReadVolume(Volume, bytes.data() + done + part, piece, at) != piece) return false;
      part += piece;
    }
    done += n;
  }
  if (done < size) return false;
  bitmap = TVolumeBitmap(std::move(bytes));
  return true;
}

std::int64_t TNtfsScaner::DataLimit(const TNtfsStreamInfo& data, bool attrList) const {
  const std::int64_t cluster = Geometry.ClusterBytes();
  const std::int64_t volume = Geometry.TotalSectors * Geometry.BytesPerSector;  // in range: the boot check
  // Data without holes lies on the volume, so it is never larger than the volume. Where
  // the runs are not all here (in extension records, or not decodable) the size cannot be
  // checked against them.
  const bool holes = data.Flags & (TNtfsDataInfo::kSparse | TNtfsDataInfo::kCompressed);
  if (attrList || data.Runs.empty()) return holes ? std::numeric_limits<std::int64_t>::max() : volume;
  const std::int64_t lastVcn = data.Runs.empty() ? 0 : data.Runs.back().NextVcn;
  const std::int64_t covered = cluster > 0 && lastVcn > std::numeric_limits<std::int64_t>::max() / cluster
                                   ? std::numeric_limits<std::int64_t>::max()
                                   : lastVcn * cluster;
  return holes ? covered : std::min(covered, volume);
}

std::int64_t TNtfsScaner::CapToData(TFileInfo* item, std::int64_t size, std::int64_t limit) {
  if (size <= limit) return size;
  item->Damage |= rdSizeBeyondData;
  item->ClaimedSize = size;
  return limit;
}

TFileInfo* TNtfsScaner::MakeItem(const TInodeData& inode) {
  const bool folder = inode.IsDirectory || inode.RecordNo == 5;
  // Live files are never shown or restored: keeping them would only cost memory.
  if (inode.InUse && !folder) return nullptr;
  const std::u16string& name = inode.LongName.empty() ? inode.DosName : inode.LongName;
  const TNtfsStreamInfo* data = folder ? nullptr : inode.UnnamedData();
  if (!inode.InUse && name.empty() && !data && !inode.HasResident && inode.ResidentSize == 0) return nullptr;
  TFileInfo* item = NewRecord();
  item->Name = MakeSafeName(Utf16ToUtf8(name));
  item->CreationTime = inode.CreationTime;
  item->LastWriteTime = inode.WriteTime;
  item->LastAccessTime = inode.AccessTime;
  item->RecordNo = inode.RecordNo;
  item->ParentRecordNo = inode.ParentRecordNo;
  item->InUse = inode.InUse;
  item->HasAttrList = inode.HasAttrList;
  item->IsFolder = folder;
  if (inode.BrokenOff) item->Damage |= rdRecordBrokenOff;
  if (data) {
    // A broken-off record may have lost part of its run list, as runs in extension records
    // are not here: its size cannot be held against the runs it still has.
    item->Size = CapToData(item, data->DataSize, DataLimit(*data, inode.HasAttrList || inode.BrokenOff));
    item->AllocClusters = data->AllocClusters;
    item->Runs = data->Runs;
    const bool partlyInitialized = data->InitializedSize < data->DataSize;
    if (partlyInitialized ||
        (data->Flags & (TNtfsDataInfo::kCompressed | TNtfsDataInfo::kEncrypted | TNtfsDataInfo::kSparse))) {
      auto info = std::make_unique<TNtfsDataInfo>();
      info->Flags = data->Flags;
      info->CompressionUnit = data->CompressionUnit;
      if (partlyInitialized) info->InitializedSize = data->InitializedSize;
      item->FsData = std::move(info);
    }
  } else if (!folder) {
    const std::int64_t room = Geometry.BytesPerRecord - static_cast<std::int64_t>(inode.ResidentOffset);
    item->Size = inode.HasResident ? CapToData(item, inode.ResidentSize, std::max<std::int64_t>(room, 0))
                                   : inode.ResidentSize;
    item->Resident = inode.HasResident;
    item->ResidentOffset = inode.ResidentOffset;
  }
  return item;
}

bool TNtfsScaner::LoadMftRecord(std::int64_t lcn, bool damagedToo, std::vector<std::byte>& record,
                                TInodeData& inode, std::int64_t& bitmapSize) {
  if (lcn < 0 || lcn >= Geometry.TotalClusters()) return false;
  const std::int64_t recordBytes = Geometry.BytesPerRecord;
  const auto at = static_cast<std::uint64_t>(lcn * Geometry.ClusterBytes());
  inode.Reset(0);
  if (ReadVolumeExact(Volume, record.data(), static_cast<std::uint32_t>(recordBytes), at) != TReadResult::Ok ||
      !CheckFixups(Geometry, record.data(), recordBytes) || ParseFileRecord(record, inode) != TRecordKind::Base ||
      (inode.BrokenOff && !damagedToo)) {
    return false;
  }
  const TNtfsStreamInfo* mftData = inode.UnnamedData();
  const TNtfsStreamInfo* mftBitmap = inode.Find(ntfs::kBitmap, u"");
  if (!mftData || mftData->Runs.empty() || mftData->DataSize == 0 || !mftBitmap || mftBitmap->DataSize == 0)
    return false;
  MftInfo.DataSize = mftData->DataSize;
  MftInfo.DataRuns = mftData->Runs;
  bitmapSize = mftBitmap->DataSize;
  return true;
}

void TNtfsScaner::Scan() {
  TDiskScaner::Scan();
  Slots.clear();
  RootItem = nullptr;
  std::array<std::byte, boot::kSectorBytes> bootSector{};
  if (ReadVolumeExact(Volume, bootSector.data(), boot::kSectorBytes, 0) != TReadResult::Ok) {
    Fail("The boot sector cannot be read");
    return;
  }
  GeometryValid = ParseNtfsBootSector(bootSector, Geometry);
  if (!GeometryValid) {
    Fail("The boot sector does not describe an NTFS volume");
    return;
  }
  ClusterSize = static_cast<std::uint32_t>(Geometry.ClusterBytes());
  if (StopRequested()) return;

  // Record 0 tells where the rest of the $MFT lies. When it cannot be read or is damaged,
  // the first record of $MFTMirr is a copy of it.
  const std::int64_t recordBytes = Geometry.BytesPerRecord;
  std::vector<std::byte> record(static_cast<std::size_t>(recordBytes));
  TInodeData inode;
  std::int64_t bitmapSize = 0;
  if (!LoadMftRecord(Geometry.MftLcn, false, record, inode, bitmapSize) &&
      !LoadMftRecord(Geometry.MftMirrLcn, false, record, inode, bitmapSize) &&
      !LoadMftRecord(Geometry.MftLcn, true, record, inode, bitmapSize) &&
      !LoadMftRecord(Geometry.MftMirrLcn, true, record, inode, bitmapSize)) {
    Fail("The master file table cannot be read");
    return;
  }
  // A damaged $BITMAP size can be beyond any volume: its count of bits is capped, never
  // multiplied past the 64-bit range.
  const std::int64_t bitmapBits = bitmapSize > std::numeric_limits<std::int64_t>::max() / 8
                                      ? std::numeric_limits<std::int64_t>::max()
                                      : bitmapSize * 8;
  RecordCount = std::min(bitmapBits, MftInfo.DataSize / recordBytes);
  // Never more records than the volume has room for, nor than the device holds: the slot
  // array is sized from this.
  RecordCount = std::min(RecordCount, Geometry.TotalSectors * Geometry.BytesPerSector / recordBytes);
  RecordCount = std::min(RecordCount, static_cast<std::int64_t>(std::min<std::uint64_t>(Volume.Size(), INT64_MAX)) / recordBytes);
  if (RecordCount > kMaxRecords || RecordCount < 2) {
    Fail("The master file table cannot be read");
    return;
  }
  Slots.assign(static_cast<std::size_t>(RecordCount), nullptr);
  Sequences.clear();
  LiveRecords.clear();
  IndexEntries.clear();
  LiveIndexRanges.clear();
  LiveNameKeys.clear();
  if (Deep) {
    Sequences.assign(static_cast<std::size_t>(RecordCount), 0);
    LiveRecords.assign(static_cast<std::size_t>(RecordCount), false);
  }

  TVolumeBitmap bitmap;
  // Without a readable volume bitmap the files are still listed; their verdicts then rest
  // on what the records say alone.
  LoadVolumeBitmap(bitmap);

  // A small $MFT gets a buffer of its own size; the buffer is never zeroed up front, as every
  // byte of it is read into before use.
  const std::int64_t perChunk = std::clamp<std::int64_t>(kChunkBytes / recordBytes, 1, RecordCount);
  const auto chunkBytes = static_cast<std::size_t>(perChunk * recordBytes);
  const auto chunkBuffer = std::make_unique_for_overwrite<std::byte[]>(chunkBytes);
  const std::span<std::byte> chunk(chunkBuffer.get(), chunkBytes);
  bool stopped = false;
  for (std::int64_t first = 0; first < RecordCount && !stopped; first += perChunk) {
    const std::int64_t count = std::min(perChunk, RecordCount - first);
    const std::uint64_t failedBefore = Volume.FailedReads(), unreadBefore = Volume.UnreadBytes();
    if (!ReadMftBytes(first * recordBytes, count * recordBytes, chunk.data())) {
      // Part of the chunk is not on the volume: read it record by record, so each record
      // that can be read is kept and the others fail their check. Only what fails then
      // counts as unreadable.
      Volume.SetReadStats(failedBefore, unreadBefore);
      std::fill(chunk.begin(), chunk.end(), std::byte{0});
      for (std::int64_t k = 0; k < count; ++k)
        ReadMftBytes((first + k) * recordBytes, recordBytes, chunk.data() + k * recordBytes);
    }
    for (std::int64_t k = 0; k < count; ++k) {
      const std::int64_t i = first + k;
      if (StopRequested()) {
        stopped = true;
        break;
      }
      if (i == 0) continue;
      std::byte* rec = chunk.data() + k * recordBytes;
      if (!CheckFixups(Geometry, rec, recordBytes)) continue;
      if (Deep) {
        const TBytes header(rec, static_cast<std::size_t>(recordBytes));
        Sequences[static_cast<std::size_t>(i)] = ReadU16(header, ntfs::kRecordSequence);
        LiveRecords[static_cast<std::size_t>(i)] = (ReadU16(header, ntfs::kRecordFlags) & ntfs::kRecordInUse) != 0;
      }
      // A deep scan's pass over the free clusters follows: the $MFT is its first tenth.
      if (i % 1000 == 0 && OnProgress) OnProgress(this, Deep ? RecordCount * 10 : RecordCount, i);
      inode.Reset(i);
      if (ParseFileRecord(TBytes(rec, static_cast<std::size_t>(recordBytes)), inode) != TRecordKind::Base)
        continue;
      if (Deep && inode.InUse && inode.IsDirectory)
        NoteLiveIndex(inode, TBytes(rec, static_cast<std::size_t>(recordBytes)));
      TFileInfo* item = MakeItem(inode);
      if (!item) continue;
      RateItem(item, bitmap);
      // A damaged record (its size field, or its attributes broken off) is no longer
      // trusted in full.
      if (item->Damage != rdNone && item->State < rsPoor) item->State = rsPoor;
      if (!Accept(item)) continue;  // its slot stays empty
      Slots[static_cast<std::size_t>(i)] = item;
      if (i >= 6 && !item->IsFolder && !item->InUse) AddItem(item);
    }
  }

  // A missing root record would hide every found file: stand in for it.
  if (Slots.size() > 5 && !Slots[5]) {
    TFileInfo* root = NewRecord();
    root->IsFolder = true;
    root->InUse = true;
    root->RecordNo = 5;
    root->ParentRecordNo = 5;
    root->State = rsFolder;
    root->Name = GetRootPath();
    Slots[5] = root;
  }
  // What only the deep scan's linking needs goes once that is done.
  auto release = [this] {
    IndexEntries = {};
    Sequences = {};
    LiveRecords = {};
    LiveIndexRanges = {};
    LiveNameKeys = {};
    ContentCandidates = {};
  };
  if (stopped && !KeepStoppedResults) return release();
  // After a stop the tree of what was found is still built, so it can be shown. It is built
  // before a deep pass, so that a pass stopped then has only its own finds left to link.
  TNtfsTreeBuilder tree(Slots, [this] { return NewRecord(); }, stopped ? nullptr : LinkStopFlag(), SkipEmptyFiles);
  RootItem = tree.BuildTree();
  if (RootItem) RootItem->Name = GetRootPath();

  std::vector<TFileInfo*> found;
  if (Deep && !stopped) stopped = !FindRecordsOutsideMft(bitmap, found);
  if (!stopped) {
    const std::int64_t totalBits =
        bitmap.Empty() ? 0 : std::min(bitmap.LengthBytes() * 8, Geometry.TotalClusters());
    if (found.empty()) {
      RateSharedClusters(Slots, totalBits);
    } else {
      // Files of the $MFT and files found beside it claim clusters against each other too.
      std::vector<TFileInfo*> all(Slots);
      all.insert(all.end(), found.begin(), found.end());
      RateSharedClusters(all, totalBits);
    }
    if (Deep) {
      RateByContent(Slots);
      RateByContent(found);
    }
  }
  if (!stopped || KeepStoppedResults) {
    if (RootItem && !found.empty()) LinkFoundRecords(found, stopped);
    if (RootItem && !IndexEntries.empty()) LinkIndexNames(tree, found);
  }
  if (Deep && !stopped && !StopRequested()) {
    const std::int64_t cluster = Geometry.ClusterBytes(), clusters = Geometry.TotalClusters();
    MarkOverwrittenByContent([&](const TFileInfo* item) -> std::optional<std::uint64_t> {
      if (item->Resident || item->Runs.empty() || item->Runs.front().Lcn < 0 || item->Runs.front().Lcn >= clusters)
        return std::nullopt;
      return static_cast<std::uint64_t>(item->Runs.front().Lcn) * static_cast<std::uint64_t>(cluster);
    });
  }
  // Last: what no file found by structure claims may be a file known by its content.
  if (Deep && !stopped && !StopRequested()) CarveContent(std::move(ContentCandidates), ClaimedByFoundFiles());
  FreeRanges = {};
  release();
}

void TNtfsScaner::RateByContent(const std::vector<TFileInfo*>& items) {
  // Where the bitmap or another deleted record leaves a verdict in doubt, the bytes of the
  // kinds a parser knows decide: read along the runs, as a restore reads them. Resident,
  // compressed, sparse and encrypted data is left to the records.
  const std::int64_t cluster = Geometry.ClusterBytes(), clusters = Geometry.TotalClusters();
  std::vector<std::int64_t> pieces;
  for (TFileInfo* item : items) {
    if (StopRequested()) return;
    if (!item || item->IsFolder || item->InUse || item->Resident || item->State == rsGood || item->Size <= 0 ||
        item->Runs.empty() || !ContentTypeForName(item->Name))
      continue;
    if (const auto* data = dynamic_cast<const TNtfsDataInfo*>(item->FsData.get());
        data && (data->Flags & (TNtfsDataInfo::kCompressed | TNtfsDataInfo::kSparse | TNtfsDataInfo::kEncrypted)))
      continue;
    pieces.clear();
    const std::int64_t wanted = (item->Size + cluster - 1) / cluster;
    std::int64_t vcn = 0;
    bool whole = true;
    for (const TRunNode& run : item->Runs) {
      const std::int64_t length = run.NextVcn - vcn;
      vcn = run.NextVcn;
      if (run.Lcn < 0 || length <= 0 || run.Lcn + length > clusters) {
        whole = false;
        break;
      }
      for (std::int64_t k = 0; k < length && static_cast<std::int64_t>(pieces.size()) < wanted; ++k)
        pieces.push_back((run.Lcn + k) * cluster);
    }
    if (!whole || static_cast<std::int64_t>(pieces.size()) < wanted) continue;
    TPiecesSource bytes(Volume, pieces, static_cast<std::uint32_t>(cluster), static_cast<std::uint64_t>(item->Size));
    restovo::RateByContent(item, bytes);
  }
}

std::vector<TByteRange> TNtfsScaner::ClaimedByFoundFiles() const {
  std::vector<TByteRange> claimed;
  const auto cluster = static_cast<std::uint64_t>(Geometry.ClusterBytes());
  const std::int64_t clusters = Geometry.TotalClusters();
  for (const TFileInfo* item : Items) {
    // A deleted file whose bytes are another file's now claims none of them.
    if (!item->InUse && (item->Damage & rdContentFailed)) continue;
    std::int64_t vcn = 0;
    for (const TRunNode& run : item->Runs) {
      const std::int64_t length = run.NextVcn - vcn;
      vcn = run.NextVcn;
      // Runs a damaged record puts past the volume claim nothing there is.
      if (run.Lcn < 0 || length <= 0 || run.Lcn >= clusters) continue;
      const std::int64_t n = std::min(length, clusters - run.Lcn);
      claimed.push_back({static_cast<std::uint64_t>(run.Lcn) * cluster, static_cast<std::uint64_t>(n) * cluster});
    }
  }
  return MergeRanges(std::move(claimed));
}

bool TNtfsScaner::FindRecordsOutsideMft(const TVolumeBitmap& bitmap, std::vector<TFileInfo*>& found) {
  const std::int64_t recordBytes = Geometry.BytesPerRecord;
  // A number no record of this volume can have is damage; it never sizes the slots. Nor
  // does a number past the device: a boot sector claiming terabytes on a small card would
  // let one found record's number size them at gigabytes.
  const auto onDevice = static_cast<std::int64_t>(std::min<std::uint64_t>(Volume.Size(), INT64_MAX));
  const std::int64_t maxNumber = std::min(Geometry.TotalSectors * Geometry.BytesPerSector, onDevice) / recordBytes;
  TInodeData inode;
  TNtfsRecordDetector records(Geometry, [&](std::uint64_t offset, std::int64_t number, std::span<std::byte> rec) {
    if (number < 16 || number >= maxNumber) return;
    inode.Reset(number);
    if (ParseFileRecord(TBytes(rec.data(), rec.size()), inode) != TRecordKind::Base) return;
    // The volume it belonged to is gone: what it held is deleted, whatever it says.
    inode.InUse = false;
    TFileInfo* item = MakeItem(inode);
    if (!item) return;
    auto* info = dynamic_cast<TNtfsDataInfo*>(item->FsData.get());
    if (!info) {
      auto made = std::make_unique<TNtfsDataInfo>();
      info = made.get();
      item->FsData = std::move(made);
    }
    info->RecordOffset = static_cast<std::int64_t>(offset);
    RateItem(item, bitmap);
    if (item->Damage != rdNone && item->State < rsPoor) item->State = rsPoor;
    if (!Accept(item)) return;
    if (found.size() <= static_cast<std::size_t>(number)) found.resize(static_cast<std::size_t>(number) + 1, nullptr);
    // A record met twice (an older copy) keeps the first one found.
    if (!found[static_cast<std::size_t>(number)]) found[static_cast<std::size_t>(number)] = item;
  });
  const std::int64_t clusters = Geometry.TotalClusters();
  const std::vector<TByteRange> ranges =
      RangesOfUnits(0, static_cast<std::uint64_t>(clusters), 0, static_cast<std::uint64_t>(Geometry.ClusterBytes()),
                    Volume.Size(),
                    [&](std::uint64_t k) { return bitmap.Empty() || !bitmap.InUse(static_cast<std::int64_t>(k)); });
  const std::vector<TByteRange> toRead = MergeRanges([&] {
    std::vector<TByteRange> all = ranges;
    all.insert(all.end(), LiveIndexRanges.begin(), LiveIndexRanges.end());
    return all;
  }());
  LiveIndexRanges = {};
  TNtfsIndexDetector indexes(Geometry, maxNumber);
  // The entries of files in use now are of no help, and live folders hold most entries.
  indexes.Keep = [this](const TNtfsIndexEntry& e) { return !LiveNow(e.Record(), e.Sequence()); };
  TDeepPass pass(Volume, static_cast<std::uint32_t>(Geometry.ClusterBytes()));
  TContentDetector content(static_cast<std::uint32_t>(Geometry.ClusterBytes()));
  pass.AddDetector(&records);
  pass.AddDetector(&indexes);
  pass.AddDetector(&content);
  pass.StopRequested = [this] { return StopRequested(); };
  // The $MFT's own read was the first part of the bar; the pass is the rest.
  pass.OnProgress = [this](std::uint64_t done, std::uint64_t total) {
    if (OnProgress && total > 0) OnProgress(this, 1000, 100 + static_cast<std::int64_t>(done * 900 / total));
  };
  const TDeepPassReport report = pass.Run(toRead);
  DeepBytesRead = report.BytesRead;
  DeepBytesToRead = report.BytesToRead;
  DeepSeconds = report.Seconds;
  IndexEntries = indexes.Take();
  ContentCandidates = content.Take();
  FreeRanges = ranges;
  {
    const std::vector<std::uint64_t> leftOut = indexes.TakeLeftOutNames();
    LiveNameKeys.insert(LiveNameKeys.end(), leftOut.begin(), leftOut.end());
  }
  std::sort(LiveNameKeys.begin(), LiveNameKeys.end());
  return !report.Stopped;
}

bool TNtfsScaner::LiveNow(std::int64_t n, std::uint16_t sequence) const {
  return n >= 0 && n < static_cast<std::int64_t>(Sequences.size()) && Sequences[static_cast<std::size_t>(n)] != 0 &&
         LiveRecords[static_cast<std::size_t>(n)] && Sequences[static_cast<std::size_t>(n)] == sequence;
}

void TNtfsScaner::NoteLiveIndex(const TInodeData& folder, TBytes record) {
  // The entries in the folder's record name files in use too: after a block was split, a
  // copy of one can be left in its slack.
  for (const TNtfsIndexEntry& e : ParseIndexNode(ResidentValue(record, ntfs::kIndexRoot, u"$I30"), ntfs::kRootNode,
                                                 static_cast<std::int64_t>(Slots.size())))
    if (!e.InSlack && !e.Headless) LiveNameKeys.push_back(NameInFolderKey(e.ParentRecord(), e.Name));
  const TNtfsStreamInfo* index = folder.Find(ntfs::kIndexAllocation, u"$I30");
  if (!index || index->DataSize <= 0) return;
  const auto cluster = static_cast<std::uint64_t>(Geometry.ClusterBytes());
  const auto clusters = static_cast<std::uint64_t>(Geometry.TotalClusters());
  // The runs as far as the index's size goes, on the volume: a damaged record cannot make
  // the pass read more than the volume has.
  auto left = static_cast<std::uint64_t>(index->DataSize);
  std::int64_t vcn = 0;
  for (const TRunNode& run : index->Runs) {
    if (left == 0) break;
    const std::int64_t length = run.NextVcn - vcn;
    vcn = run.NextVcn;
    if (length <= 0 || run.Lcn < 0 || static_cast<std::uint64_t>(run.Lcn) >= clusters) continue;
    const std::uint64_t n =
        std::min({static_cast<std::uint64_t>(length), clusters - static_cast<std::uint64_t>(run.Lcn),
                  (left + cluster - 1) / cluster});
    LiveIndexRanges.push_back({static_cast<std::uint64_t>(run.Lcn) * cluster, n * cluster});
    left -= std::min(left, n * cluster);
  }
}

void TNtfsScaner::LinkFoundRecords(std::vector<TFileInfo*>& found, bool stopped) {
  // Slot 5 is the folder they hang under: the found root when there is one, else one made.
  if (found.size() <= 16) found.resize(17, nullptr);
  TFileInfo* top = found[5];
  if (!top) {
    top = NewRecord();
    top->IsFolder = true;
    top->RecordNo = 5;
    top->ParentRecordNo = 5;
    top->State = rsFolder;
    found[5] = top;
  }
  top->Name = "Previous file system";
  for (TFileInfo* item : found)
    if (item && !item->IsFolder && item != top) AddItem(item);
  TNtfsTreeBuilder tree(found, [this] { return NewRecord(); }, stopped ? nullptr : LinkStopFlag(), SkipEmptyFiles);
  tree.BuildTree();
  if (!top->Children || top->Children->empty()) return;
  top->Parent = RootItem;
  LinkToParent(top, nullptr);
}

void TNtfsScaner::LinkIndexNames(TNtfsTreeBuilder& tree, const std::vector<TFileInfo*>& found) {
  // One entry per file in a folder: copies of a block repeat entries, and a file's short
  // DOS name stands beside its long one.
  std::vector<TNtfsIndexEntry>& entries = IndexEntries;
  // Entries without their record number (Headless) go last, one per name in a folder.
  std::stable_sort(entries.begin(), entries.end(), [](const TNtfsIndexEntry& a, const TNtfsIndexEntry& b) {
    if (a.Headless != b.Headless) return b.Headless;
    if (a.Headless) return std::tie(a.Parent, a.Name) < std::tie(b.Parent, b.Name);
    if (a.File != b.File) return a.File < b.File;
    if (a.Parent != b.Parent) return a.Parent < b.Parent;
    return (a.NameSpace == ntfs::kNameSpaceDos) < (b.NameSpace == ntfs::kNameSpaceDos);
  });
  entries.erase(std::unique(entries.begin(), entries.end(),
                            [](const TNtfsIndexEntry& a, const TNtfsIndexEntry& b) {
                              return a.Headless == b.Headless && a.File == b.File && a.Parent == b.Parent &&
                                     (!a.Headless || a.Name == b.Name);
                            }),
                entries.end());
  // A key without its record is a copy of an entry read whole, or of one of a file in use,
  // when its folder holds that name.
  {
    std::vector<std::uint64_t> whole;
    for (const TNtfsIndexEntry& e : entries)
      if (!e.Headless) whole.push_back(NameInFolderKey(e.ParentRecord(), e.Name));
    std::sort(whole.begin(), whole.end());
    std::erase_if(entries, [&](const TNtfsIndexEntry& e) {
      if (!e.Headless) return false;
      const std::uint64_t key = NameInFolderKey(e.ParentRecord(), e.Name);
      return std::binary_search(whole.begin(), whole.end(), key) ||
             std::binary_search(LiveNameKeys.begin(), LiveNameKeys.end(), key);
    });
  }

  auto at = [](const std::vector<TFileInfo*>& v, std::int64_t n) -> TFileInfo* {
    return n >= 0 && n < static_cast<std::int64_t>(v.size()) ? v[static_cast<std::size_t>(n)] : nullptr;
  };
  auto known = [](std::int64_t n, const std::vector<std::uint16_t>& v) {
    return n >= 0 && n < static_cast<std::int64_t>(v.size()) && v[static_cast<std::size_t>(n)] != 0;
  };
  // Whether record n is still the one an entry with this sequence number meant: the same
  // number, or one more once the record was freed.
  auto stillThere = [&](std::int64_t n, std::uint16_t sequence) {
    if (n == 5 || sequence == 0 || !known(n, Sequences)) return true;
    const std::uint16_t now = Sequences[static_cast<std::size_t>(n)];
    return now == sequence || (!LiveRecords[static_cast<std::size_t>(n)] && now == static_cast<std::uint16_t>(sequence + 1));
  };
  auto isPlaceholder = [](const TFileInfo* item, std::int64_t n) {
    return item && item->IsFolder && !item->FsData && item->ParentRecordNo == 5 &&
           item->Name == "Directory" + std::to_string(n);
  };
  // The record's own item, when it is of this entry (a record knows more than an entry).
  auto listed = [&](std::int64_t n, const TNtfsIndexEntry& e, const std::string& name) {
    const TFileInfo* record = at(Slots, n);
    if (record && !isPlaceholder(record, n) && record->ParentRecordNo == e.ParentRecord() &&
        (record->Name == name || stillThere(n, e.Sequence())))
      return true;
    const TFileInfo* old = at(found, n);
    return old && old->ParentRecordNo == e.ParentRecord() && old->Name == name;
  };

  struct TNamed {
    TFileInfo* Folder;
    std::uint16_t ParentSequence;
  };
  std::unordered_map<std::int64_t, TNamed> named;     // folders an entry names, by record
  std::unordered_map<std::int64_t, TFileInfo*> aside;  // stand-ins for folder records taken since
  std::unordered_set<std::int64_t> linking;
  // The folder an entry's parent reference leads to, linked into the tree.
  std::function<TFileInfo*(std::int64_t, std::uint16_t)> folderOf = [&](std::int64_t p, std::uint16_t sequence) {
    if (p == 5) return RootItem;
    if (const auto it = named.find(p); it != named.end() && !linking.count(p)) {
      TFileInfo* f = it->second.Folder;
      if (!f->Linked) {
        linking.insert(p);
        TFileInfo* up = folderOf(f->ParentRecordNo, it->second.ParentSequence);
        linking.erase(p);
        tree.AddChild(up, f);
      }
      return f;
    }
    TFileInfo* record = at(Slots, p);
    if (record && record->IsFolder && !record->Name.empty() && !linking.count(p) && stillThere(p, sequence)) {
      if (!record->Linked && record != RootItem) tree.LinkFolderChain(record);
      return record;
    }
    TFileInfo*& stand = aside[p];
    if (!stand) {
      stand = tree.NewPlaceholderFolder(p);
      tree.AddChild(RootItem, stand);
    }
    return stand;
  };

  // What an entry says of its file: name, place and times.
  auto takeEntry = [](TFileInfo* item, const TNtfsIndexEntry& e, const std::string& name) {
    item->Name = name;
    item->RecordNo = e.Record();
    item->ParentRecordNo = e.ParentRecord();
    item->CreationTime = e.Created;
    item->LastWriteTime = e.Written;
    item->LastAccessTime = e.Accessed;
  };
  const auto volumeBytes = static_cast<std::int64_t>(DeclaredSize());
  // The names that records give files in their folders.
  std::unordered_set<std::uint64_t> knownNames;
  if (std::any_of(entries.begin(), entries.end(), [](const TNtfsIndexEntry& e) { return e.Headless; }))
    for (const std::vector<TFileInfo*>* records : {static_cast<const std::vector<TFileInfo*>*>(&Slots), &found})
      for (const TFileInfo* r : *records)
        if (r && !r->IsFolder) knownNames.insert(NameInFolderKey(r->ParentRecordNo, Utf8ToUtf16(r->Name)));
  for (const bool folders : {true, false}) {
    for (const TNtfsIndexEntry& e : entries) {
      if (StopRequested() && !KeepStoppedResults) return;
      const std::int64_t n = e.Record(), p = e.ParentRecord();
      if (e.Headless) {
        // Without its record number it names no folder, and a file only where its folder
        // lists no file of that name.
        if (folders || e.IsDirectory || knownNames.count(NameInFolderKey(p, e.Name))) continue;
      } else if (e.IsDirectory != folders || n < 16 || LiveNow(n, e.Sequence())) {
        continue;
      }
      const std::string name = MakeSafeName(Utf16ToUtf8(e.Name));
      if (name.empty() || name == "." || name == ".." || (!e.Headless && listed(n, e, name))) continue;
      if (folders) {
        if (named.count(n)) continue;
        TFileInfo* record = at(Slots, n);
        if (isPlaceholder(record, n)) {
          // The stand-in the tree made for a folder whose record is gone gets its name and
          // its place back, with what was linked below it.
          if (TFileInfo* up = record->Parent; up && up->Children)
            std::erase(*up->Children, record);
          record->Linked = false;
          record->Parent = nullptr;
          takeEntry(record, e, name);
          named[n] = {record, e.ParentSequence()};
          continue;
        }
        // A folder record that is still this folder names it itself.
        if (record && record->IsFolder && stillThere(n, e.Sequence())) continue;
        TFileInfo* f = NewRecord();
        takeEntry(f, e, name);
        f->IsFolder = true;
        f->State = rsFolder;
        named[n] = {f, e.ParentSequence()};
        continue;
      }
      if (SkipEmptyFiles && e.Size == 0) continue;
      // Its record is gone or holds another file now: the name, size and times are all
      // that is known, so nothing of its data can be restored yet.
      TFileInfo* item = NewRecord();
      takeEntry(item, e, name);
      item->Size = volumeBytes > 0 ? std::min(e.Size, volumeBytes) : e.Size;
      item->State = rsLost;
      item->Damage = rdNameOnly;
      if (!Accept(item)) continue;
      tree.AddChild(folderOf(p, e.ParentSequence()), item);
      AddItem(item);
    }
    if (folders) {
      // Renamed stand-ins hold what the records linked below them: back into the tree.
      for (auto& [n, f] : named)
        if (f.Folder->Children && !f.Folder->Children->empty() && !f.Folder->Linked) folderOf(n, 0);
    }
  }
}

}  // namespace restovo
