#include "recovery/RecoveryStream.h"

#include <algorithm>
#include <cstring>
#include <stdexcept>

#include "fs/fat/FatScaner.h"
#include "fs/ntfs/Lznt1.h"
#include "fs/ntfs/NtfsDataInfo.h"
#include "fs/ntfs/NTFSScaner.h"

namespace restovo {

TRecoveryStream::TRecoveryStream(TDiskObject* disk, TFileInfo* info, bool ownScanner)
    : Disk(disk), Info(info), Scaner(ownScanner ? CreateScaner(disk) : nullptr) {}

TRecoveryStream::~TRecoveryStream() = default;

std::int64_t TRecoveryStream::Seek(std::int64_t offset, TSeekOrigin origin) {
  if (!Info) return Position;
  switch (origin) {
    case soBeginning: Position = offset; break;
    case soCurrent: Position += offset; break;
    case soEnd: Position = Info->Size - offset; break;
  }
  Position = std::clamp<std::int64_t>(Position, 0, Info->Size);
  return Position;
}


TRecoveryFatStream::TRecoveryFatStream(TDiskObject* disk, TFileInfo* info)
    : TRecoveryStream(disk, info) {
  auto* fat = dynamic_cast<TFatScaner*>(Scaner.get());
  if (!fat) throw std::runtime_error("The drive is not a FAT volume.");
  if (!Info || !Info->FsData) {
    Info = nullptr;
    return;
  }
  Entry = dynamic_cast<TFatEntryInfo*>(Info->FsData.get());
  if (!Entry) {
    Info = nullptr;
    return;
  }
  fat->BuildFileChain(*Entry, Info->Size);
  ClusterData.resize(fat->ClusterSize);
}

std::int64_t TRecoveryFatStream::Read(void* buffer, std::int64_t count) {
  if (!Info || ClusterData.empty()) return 0;
  const auto clusterSize = static_cast<std::int64_t>(ClusterData.size());
  auto* out = static_cast<std::byte*>(buffer);
  std::int64_t delivered = 0;
  // Data the chain does not cover, or a cluster the volume cannot give in full, ends the
  // data here for this and every later read.
  while (count > 0 && Position < Info->Size && !Failed) {
    const std::int64_t index = Position / clusterSize;
    if (index >= static_cast<std::int64_t>(Entry->Clusters.size())) {
      Failed = true;
      break;
    }
    const auto& clusters = Entry->Clusters;
    // Whole clusters that lie one after another on the volume go straight into the
    // caller's buffer in one read: a 64 KiB request is one read, not sixteen.
    if (Position == index * clusterSize && count >= 2 * clusterSize) {
      std::int64_t run = 1;
      const std::int64_t most = std::min(count, Info->Size - Position) / clusterSize;
      while (run < most && index + run < static_cast<std::int64_t>(clusters.size()) &&
             clusters[static_cast<std::size_t>(index + run)] ==
                 clusters[static_cast<std::size_t>(index)] + run * clusterSize) {
        ++run;
      }
      const std::int64_t bytes = run * clusterSize;
      if (run >= 2 && ReadVolume(Scaner->Volume, out, static_cast<std::uint32_t>(bytes),
                                 static_cast<std::uint64_t>(clusters[static_cast<std::size_t>(index)])) == bytes) {
        Position += bytes;
        out += bytes;
        delivered += bytes;
        count -= bytes;
        continue;
      }
      // A short read falls through to the cluster-by-cluster path, which finds where
      // the readable data ends.
    }
    if (index != CachedIndex) {
      BytesInBuffer = ReadVolume(Scaner->Volume, ClusterData.data(), static_cast<std::uint32_t>(clusterSize),
                                 static_cast<std::uint64_t>(Entry->Clusters[static_cast<std::size_t>(index)]));
      CachedIndex = static_cast<std::int32_t>(index);
      if (BytesInBuffer < clusterSize) {
        Failed = true;
        break;
      }
    }
    const std::int64_t offset = Position - index * clusterSize;
    const std::int64_t n = std::min({clusterSize - offset, Info->Size - Position, count});
    std::memcpy(out, ClusterData.data() + offset, static_cast<std::size_t>(n));
    Position += n;
    out += n;
    delivered += n;
    count -= n;
  }
  return delivered;
}

TRecoveryNtfsStream::TRecoveryNtfsStream(TDiskObject* disk, TFileInfo* info)
    : TRecoveryStream(disk, info, false) {
  Source = disk ? dynamic_cast<const TNtfsScaner*>(disk->Scaner.get()) : nullptr;
  if (!Source) throw std::runtime_error("The drive has not been scanned as an NTFS volume.");
  if (!Info || Info->IsFolder || Info->InUse) {
    Info = nullptr;
    return;
  }
  if (Info->Damage & rdNameOnly) {
    RefusalText = "Only the file's name was found; where its data lay is not known, so it cannot be restored.";
    Failed = true;
    return;
  }
  ClusterBytes = Source->Geometry.ClusterBytes();
  InitializedSize = Info->Size;
  if (const auto* data = dynamic_cast<const TNtfsDataInfo*>(Info->FsData.get())) {
    if (data->Flags & TNtfsDataInfo::kEncrypted) {
      RefusalText = "The file is encrypted; its data cannot be restored readably.";
      Failed = true;
      return;
    }
    if (data->InitializedSize >= 0) InitializedSize = std::min(InitializedSize, data->InitializedSize);
    if ((data->Flags & TNtfsDataInfo::kCompressed) && data->CompressionUnit > 0 && data->CompressionUnit < 16)
      UnitClusters = 1u << data->CompressionUnit;
  }
  if (Info->Resident) {
    // The value is in the item's own record, read again through the $MFT's runs.
    IsResident = true;
    const std::int64_t recordBytes = Source->Geometry.BytesPerRecord;
    std::vector<std::byte> record(static_cast<std::size_t>(recordBytes));
    const auto* data = dynamic_cast<const TNtfsDataInfo*>(Info->FsData.get());
    const bool read = data && data->RecordOffset >= 0
                          ? ReadVolumeExact(Source->Volume, record.data(), static_cast<std::uint32_t>(recordBytes),
                                            static_cast<std::uint64_t>(data->RecordOffset)) == TReadResult::Ok
                          : Source->ReadMftBytes(Info->RecordNo * recordBytes, recordBytes, record.data());
    if (!read ||
        !CheckFixups(Source->Geometry, record.data(), recordBytes) || Info->Size < 0 ||
        Info->ResidentOffset + Info->Size > recordBytes) {  // a value may end at the record's end
      Failed = true;
      return;
    }
    ResidentData.assign(record.begin() + Info->ResidentOffset,
                        record.begin() + Info->ResidentOffset + Info->Size);
  }
}

bool TRecoveryNtfsStream::ReadRuns(std::int64_t position, std::int64_t count, std::byte* out) {
  // Walk the runs covering [position, position + count): clusters are read, holes are zeros.
  std::int64_t prev = 0;
  std::int64_t done = 0;
  for (const TRunNode& run : Info->Runs) {
    const std::int64_t runFrom = prev * ClusterBytes, runTo = run.NextVcn * ClusterBytes;
    prev = run.NextVcn;
    const std::int64_t from = std::max(position + done, runFrom);
    const std::int64_t to = std::min(position + count, runTo);
    if (from >= to) continue;
    if (from != position + done) return false;  // a gap in the runs: data missing
    std::byte* dest = out + (from - position);
    if (run.Lcn < 0) {
      std::memset(dest, 0, static_cast<std::size_t>(to - from));
    } else {
      const auto n = static_cast<std::uint32_t>(to - from);
      const auto at = static_cast<std::uint64_t>(run.Lcn * ClusterBytes + (from - runFrom));
      if (ReadVolume(Source->Volume, dest, n, at) != n) return false;
    }
    done = to - position;
    if (done == count) return true;
  }
  return done == count;
}

bool TRecoveryNtfsStream::LoadUnit(std::int64_t unit) {
  const std::int64_t unitBytes = static_cast<std::int64_t>(UnitClusters) * ClusterBytes;
  const std::int64_t firstVcn = unit * UnitClusters, endVcn = firstVcn + UnitClusters;
  std::vector<TUnitPiece> pieces;
  std::int64_t prev = 0;
  for (const TRunNode& run : Info->Runs) {
    const std::int64_t from = std::max(prev, firstVcn), to = std::min(run.NextVcn, endVcn);
    if (from < to) pieces.push_back({run.Lcn < 0 ? -1 : run.Lcn + (from - prev), static_cast<std::uint64_t>(to - from)});
    prev = run.NextVcn;
  }
  const auto kind = ClassifyCompressionUnit(pieces, UnitClusters);
  if (!kind) return false;
  UnitData.assign(static_cast<std::size_t>(unitBytes), std::byte{0});
  if (*kind == TUnitKind::Sparse) return true;
  if (*kind == TUnitKind::Raw) return ReadRuns(unit * unitBytes, unitBytes, UnitData.data());
  Packed.clear();
  for (const TUnitPiece& p : pieces) {
    if (p.Lcn < 0) break;
    const std::size_t at = Packed.size();
    const std::int64_t bytes = static_cast<std::int64_t>(p.Clusters) * ClusterBytes;
    Packed.resize(at + static_cast<std::size_t>(bytes));
    if (ReadVolume(Source->Volume, Packed.data() + at, static_cast<std::uint32_t>(bytes),
                   static_cast<std::uint64_t>(p.Lcn * ClusterBytes)) != bytes) {
      return false;
    }
  }
  return DecompressNtfsUnit(Packed, UnitData);
}

bool TRecoveryNtfsStream::ReadCompressed(std::int64_t position, std::int64_t count, std::byte* out) {
  const std::int64_t unitBytes = static_cast<std::int64_t>(UnitClusters) * ClusterBytes;
  std::int64_t done = 0;
  while (done < count) {
    const std::int64_t unit = (position + done) / unitBytes;
    if (unit != CachedUnit) {
      if (!LoadUnit(unit)) return false;
      CachedUnit = unit;
    }
    const std::int64_t offset = position + done - unit * unitBytes;
    const std::int64_t n = std::min(unitBytes - offset, count - done);
    std::memcpy(out + done, UnitData.data() + offset, static_cast<std::size_t>(n));
    done += n;
  }
  return true;
}

std::int64_t TRecoveryNtfsStream::Read(void* buffer, std::int64_t count) {
  if (!Info || Failed || count <= 0 || Position >= Info->Size) return 0;
  const std::int64_t n = std::min(count, Info->Size - Position);
  auto* out = static_cast<std::byte*>(buffer);
  if (IsResident) {
    std::memcpy(out, ResidentData.data() + Position, static_cast<std::size_t>(n));
    Position += n;
    return n;
  }
  // Bytes past the initialized size were never written: they read as zeros.
  const std::int64_t stored = std::clamp<std::int64_t>(InitializedSize - Position, 0, n);
  if (stored > 0) {
    const bool ok = UnitClusters ? ReadCompressed(Position, stored, out) : ReadRuns(Position, stored, out);
    if (!ok) {
      Failed = true;
      return 0;
    }
  }
  std::memset(out + stored, 0, static_cast<std::size_t>(n - stored));
  Position += n;
  return n;
}

TRecoveryCarvedStream::TRecoveryCarvedStream(TDiskObject* disk, TFileInfo* info) : TRecoveryStream(disk, info, false) {
  const auto* data = info ? dynamic_cast<const TCarvedDataInfo*>(info->FsData.get()) : nullptr;
  if (!data || !disk || !disk->Scaner) {
    Info = nullptr;
    return;
  }
  // One stretch from its offset, or the pieces it went on in past clusters in use.
  Pieces = data->Pieces;
  if (Pieces.empty()) Pieces.push_back({data->Offset, static_cast<std::uint64_t>(std::max<std::int64_t>(info->Size, 0))});
}

std::int64_t TRecoveryCarvedStream::Read(void* buffer, std::int64_t count) {
  if (!Info || Failed) return 0;
  std::int64_t done = 0;
  auto* out = static_cast<std::byte*>(buffer);
  while (done < count && Position < Info->Size) {
    // The piece holding Position: pieces are few, and read in order.
    std::uint64_t start = 0;
    std::size_t i = 0;
    while (i < Pieces.size() && start + Pieces[i].Length <= static_cast<std::uint64_t>(Position)) start += Pieces[i++].Length;
    if (i == Pieces.size()) break;
    const std::uint64_t within = static_cast<std::uint64_t>(Position) - start;
    const auto want = static_cast<std::uint32_t>(std::min<std::uint64_t>(
        {static_cast<std::uint64_t>(count - done), Pieces[i].Length - within,
         static_cast<std::uint64_t>(Info->Size - Position), std::uint64_t{1} << 30}));
    const std::uint32_t got = ReadVolume(Disk->Scaner->Volume, out + done, want, Pieces[i].Start + within);
    done += got;
    Position += got;
    if (got < want) {
      Failed = true;
      break;
    }
  }
  return done;
}

std::unique_ptr<TRecoveryStream> CreateStream(TDiskObject* disk, TFileInfo* info) {
  if (!disk) return nullptr;
  if (info && dynamic_cast<const TCarvedDataInfo*>(info->FsData.get()))
    return std::make_unique<TRecoveryCarvedStream>(disk, info);
  switch (disk->FsKind) {
    case fkFat12:
    case fkFat16:
    case fkFat32: return std::make_unique<TRecoveryFatStream>(disk, info);
    case fkNtfs: return std::make_unique<TRecoveryNtfsStream>(disk, info);
    default: return nullptr;
  }
}

}  // namespace restovo
