// The data area of a FAT volume that an older one was formatted over with another layout
// (another cluster size, or tables of another size in front of the data): its folders'
// "." entries name their own clusters, so two of them at known offsets tell where the old
// clusters lay. Once that is told, the old clusters are classified as directory clusters
// like the volume's own.
#pragma once

#include <cstdint>
#include <optional>
#include <vector>

#include "fs/DeepPass.h"
#include "fs/fat/FatDirectoryDetector.h"

namespace restovo {

// Where cluster k of a FAT volume lies: DataOffset + (k - 2) * ClusterSize, for k from 2
// to MaxCluster.
struct TFatDataLayout {
  std::uint64_t DataOffset = 0;
  std::uint32_t ClusterSize = 0;
  std::uint32_t MaxCluster = 0;

  std::uint64_t Offset(std::uint32_t cluster) const {
    return DataOffset + std::uint64_t{cluster - 2} * ClusterSize;
  }
  bool operator==(const TFatDataLayout&) const = default;
};

// A folder's first cluster seen at a volume offset: "." and ".." with the clusters they name.
struct TDotSighting {
  std::uint64_t Offset = 0;
  std::uint32_t Self = 0;
  std::uint32_t Parent = 0;
};

// The layout two sightings of one older volume agree on: the cluster size their offsets and
// cluster numbers give (a power of two from 512 bytes to 64 KiB, on a sector), its data area
// on the volume. None when they cannot be of one layout.
std::optional<TFatDataLayout> LayoutFromSightings(const TDotSighting& a, const TDotSighting& b,
                                                  std::uint64_t volumeBytes);

class TFatPreviousLayoutDetector final : public TDeepDetector {
 public:
  // current: the volume's own layout; its own folders are not sightings of another.
  TFatPreviousLayoutDetector(const TFatDataLayout& current, std::uint64_t volumeBytes);

  void Inspect(std::uint64_t offset, TBytes block) override;

  // The older layout once told, and the volume offset from which its clusters were
  // classified as they were read.
  const std::optional<TFatDataLayout>& Layout() const { return Previous; }
  std::uint64_t ToldAt() const { return Told; }
  // What of the pass's ranges lay before that (and the old cluster it began inside): read
  // again after BeginRevisit, those blocks are classified in the older layout too.
  std::vector<TByteRange> RevisitRanges(const std::vector<TByteRange>& passRanges) const;
  void BeginRevisit();
  // Directory clusters of the older layout, by cluster number.
  std::vector<TFatDirectoryDetector::TFound> Found() const;

 private:
  void Sight(std::uint64_t offset, TBytes sector);
  void Classify(std::uint64_t offset, TBytes block);

  const TFatDataLayout Current;
  const std::uint64_t VolumeBytes;
  std::vector<TDotSighting> Sightings;  // of other layouts, the latest ones
  std::optional<TFatDataLayout> Previous;
  std::uint64_t Told = 0;
  bool Revisiting = false;
  std::vector<TFatDirectoryDetector::TFound> Clusters;
  // The start of an old cluster that a block ended inside, kept until the next block.
  std::vector<std::byte> Carry;
  std::uint64_t CarryOffset = 0;
};

}  // namespace restovo
