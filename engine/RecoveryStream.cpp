#include "RecoveryStream.h"

#include <algorithm>
#include <cstring>
#include <stdexcept>

#include "FatScaner.h"

namespace restovo {

TRecoveryStream::TRecoveryStream(TDiskObject* disk, TFileInfo* info)
    : Disk(disk), Info(info), Scaner(CreateScaner(disk)) {}

TRecoveryStream::~TRecoveryStream() = default;

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

std::int64_t TRecoveryFatStream::Seek(std::int64_t offset, TSeekOrigin origin) {
  if (!Info) return Position;
  switch (origin) {
    case soBeginning: Position = offset; break;
    case soCurrent: Position += offset; break;
    case soEnd: Position = Info->Size - offset; break;
  }
  Position = std::clamp<std::int64_t>(Position, 0, Info->Size);
  return Position;
}

std::unique_ptr<TRecoveryStream> CreateStream(TDiskObject* disk, TFileInfo* info) {
  if (!disk) return nullptr;
  switch (disk->FsKind) {
    case fkFat12:
    case fkFat16:
    case fkFat32: return std::make_unique<TRecoveryFatStream>(disk, info);
    default: return nullptr;
  }
}

}  // namespace restovo
