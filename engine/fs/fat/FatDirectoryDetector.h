// Directory clusters of a FAT volume told by their contents: the deep pass hands every
// free cluster to this detector, which keeps the ones whose 32-byte slots are directory
// entries, with what they say about the folder they belong to.
#pragma once

#include <cstdint>
#include <vector>

#include "fs/DeepPass.h"
#include "io/ByteOrder.h"

namespace restovo {

// The checksum a long-name entry carries of the 11 name bytes of its short entry.
std::uint8_t ShortNameChecksum(TBytes name11);

// What one cluster's slots say.
struct TDirClusterShape {
  bool IsDirectory = false;
  bool HasDots = false;     // starts with "." and "..": the folder's first cluster
  std::uint32_t Self = 0;   // the "." entry's cluster
  std::uint32_t Parent = 0; // the ".." entry's cluster; 0 for the root
  bool Ended = false;       // an end-of-directory mark: the folder does not go on
  std::uint32_t Entries = 0;  // short entries other than "." and ".."
  std::uint32_t MaxFirstCluster = 0;  // the highest first cluster those entries name
  // The first slots are long-name entries whose short entry lies in this cluster or, when
  // HeadOpen, in none: then they finish a run begun in the folder's previous cluster.
  bool HeadIsLong = false;
  std::uint8_t HeadChecksum = 0;
  // The last slots are long-name entries whose short entry follows in the next cluster.
  bool TailOpen = false;
  std::uint8_t TailChecksum = 0;
  // The first slot is a short entry that is not deleted: its name's checksum.
  bool HeadIsShort = false;
  std::uint8_t HeadShortChecksum = 0;
};

// Classifies one cluster. maxCluster: the highest cluster number of the volume. Only a
// cluster whose slots up to the end mark are all plausible entries, with at least one short
// entry, is a directory: short names of legal upper-case characters, attributes and dates
// that can be, cluster numbers on the volume; long-name entries with their fixed fields.
TDirClusterShape ClassifyDirectoryCluster(TBytes cluster, std::uint32_t maxCluster);

class TFatDirectoryDetector final : public TDeepDetector {
 public:
  struct TFound {
    std::uint32_t Cluster = 0;
    TDirClusterShape Shape;
  };

  TFatDirectoryDetector(std::uint64_t dataOffset, std::uint32_t clusterSize, std::uint32_t maxCluster)
      : DataOffset(dataOffset), ClusterSize(clusterSize), MaxCluster(maxCluster) {}

  void Inspect(std::uint64_t offset, TBytes block) override;
  // In the order of the volume when the pass reads its ranges in order.
  const std::vector<TFound>& Found() const { return Clusters; }

 private:
  const std::uint64_t DataOffset;
  const std::uint32_t ClusterSize;
  const std::uint32_t MaxCluster;
  std::vector<TFound> Clusters;
};

}  // namespace restovo
