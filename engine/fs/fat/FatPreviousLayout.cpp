#include "fs/fat/FatPreviousLayout.h"

#include <algorithm>
#include <bit>
#include <cstring>

#include "fs/fat/FatLayout.h"

namespace restovo {

namespace {

constexpr std::size_t kSector = 512;
// Sightings kept to pair a new one with: the folders of one older volume lie close together.
constexpr std::size_t kRecentSightings = 64;

bool IsDot(TBytes e, const char* name) {
  return std::memcmp(e.data() + fat::kName, name, fat::kNameBytes) == 0 &&
         (ReadU8(e, fat::kAttributes) & fat::kAttrFolder) != 0;
}

std::uint32_t FirstCluster(TBytes e) {
  return (std::uint32_t{ReadU16(e, fat::kClusterHigh)} << 16) | ReadU16(e, fat::kClusterLow);
}

}  // namespace

std::optional<TFatDataLayout> LayoutFromSightings(const TDotSighting& a, const TDotSighting& b,
                                                  std::uint64_t volumeBytes) {
  const TDotSighting& lo = a.Self < b.Self ? a : b;
  const TDotSighting& hi = a.Self < b.Self ? b : a;
  // Clusters are numbered in the order they lie on the volume.
  if (lo.Self == hi.Self || lo.Self < 2 || hi.Offset <= lo.Offset) return std::nullopt;
  const std::uint64_t bytes = hi.Offset - lo.Offset, clusters = hi.Self - lo.Self;
  if (bytes % clusters != 0) return std::nullopt;
  const std::uint64_t size = bytes / clusters;
  if (size < kSector || size > 65536 || !std::has_single_bit(size)) return std::nullopt;
  const std::uint64_t before = std::uint64_t{lo.Self - 2} * size;
  if (before > lo.Offset) return std::nullopt;
  TFatDataLayout layout;
  layout.DataOffset = lo.Offset - before;
  layout.ClusterSize = static_cast<std::uint32_t>(size);
  // A data area starts behind a boot sector and its tables, on a sector.
  if (layout.DataOffset < kSector || layout.DataOffset % kSector != 0 || layout.DataOffset >= volumeBytes)
    return std::nullopt;
  layout.MaxCluster = static_cast<std::uint32_t>(
      std::min<std::uint64_t>((volumeBytes - layout.DataOffset) / size + 1, fat::kFat32MaxCluster));
  return layout;
}

TFatPreviousLayoutDetector::TFatPreviousLayoutDetector(const TFatDataLayout& current, std::uint64_t volumeBytes)
    : Current(current), VolumeBytes(volumeBytes) {}

void TFatPreviousLayoutDetector::Inspect(std::uint64_t offset, TBytes block) {
  if (Revisiting) {
    const std::uint64_t end = Told + (Previous ? Previous->ClusterSize : 0);
    if (offset < end) Classify(offset, block.first(static_cast<std::size_t>(std::min<std::uint64_t>(block.size(), end - offset))));
    return;
  }
  if (Previous) return Classify(offset, block);
  for (std::size_t at = 0; at + 2 * fat::kEntryBytes <= block.size() && !Previous; at += kSector)
    Sight(offset + at, block.subspan(at, 2 * fat::kEntryBytes));
  // From the block where the layout was told on, its clusters are classified as read.
  if (Previous) {
    Told = offset;
    Classify(offset, block);
  }
}

void TFatPreviousLayoutDetector::Sight(std::uint64_t offset, TBytes sector) {
  if (!IsDot(sector, ".          ") || !IsDot(sector.subspan(fat::kEntryBytes), "..         ")) return;
  const TDotSighting seen{offset, FirstCluster(sector), FirstCluster(sector.subspan(fat::kEntryBytes))};
  if (seen.Self < 2) return;
  // The volume's own folders name the cluster they lie in.
  if (Current.ClusterSize > 0 && offset >= Current.DataOffset &&
      (offset - Current.DataOffset) % Current.ClusterSize == 0 && seen.Self <= Current.MaxCluster &&
      Current.Offset(seen.Self) == offset)
    return;
  for (const TDotSighting& other : Sightings) {
    const std::optional<TFatDataLayout> layout = LayoutFromSightings(other, seen, VolumeBytes);
    if (layout && !(*layout == Current)) {
      Previous = layout;
      return;
    }
  }
  if (Sightings.size() == kRecentSightings) Sightings.erase(Sightings.begin());
  Sightings.push_back(seen);
}

void TFatPreviousLayoutDetector::Classify(std::uint64_t offset, TBytes block) {
  const TFatDataLayout& layout = *Previous;
  const std::uint64_t size = layout.ClusterSize;
  const std::uint64_t end = offset + block.size();
  auto keep = [&](std::uint64_t start, TBytes cluster) {
    const std::uint64_t k = (start - layout.DataOffset) / size + 2;
    if (k > layout.MaxCluster) return;
    const TDirClusterShape shape = ClassifyDirectoryCluster(cluster, layout.MaxCluster);
    if (shape.IsDirectory) Clusters.push_back({static_cast<std::uint32_t>(k), shape});
  };
  // An old cluster begun at the end of the last block goes on in this one when it follows.
  if (!Carry.empty()) {
    if (offset == CarryOffset + Carry.size()) {
      const std::size_t need = std::min<std::size_t>(size - Carry.size(), block.size());
      Carry.insert(Carry.end(), block.begin(), block.begin() + static_cast<std::ptrdiff_t>(need));
      if (Carry.size() < size) return;
      keep(CarryOffset, Carry);
    }
    Carry.clear();
  }
  std::uint64_t start = layout.DataOffset;
  if (offset > start) start += (offset - start + size - 1) / size * size;
  for (; start + size <= end; start += size) keep(start, block.subspan(static_cast<std::size_t>(start - offset), size));
  if (start < end) {
    CarryOffset = start;
    const TBytes tail = block.subspan(static_cast<std::size_t>(start - offset));
    Carry.assign(tail.begin(), tail.end());
  }
}

std::vector<TByteRange> TFatPreviousLayoutDetector::RevisitRanges(const std::vector<TByteRange>& passRanges) const {
  std::vector<TByteRange> out;
  if (!Previous) return out;
  const std::uint64_t end = Told + Previous->ClusterSize;
  for (const TByteRange& r : passRanges) {
    if (r.Start >= end) break;
    out.push_back({r.Start, std::min(r.Length, end - r.Start)});
  }
  return out;
}

void TFatPreviousLayoutDetector::BeginRevisit() {
  Revisiting = true;
  Carry.clear();
}

std::vector<TFatDirectoryDetector::TFound> TFatPreviousLayoutDetector::Found() const {
  std::vector<TFatDirectoryDetector::TFound> out(Clusters);
  std::stable_sort(out.begin(), out.end(), [](const auto& a, const auto& b) { return a.Cluster < b.Cluster; });
  out.erase(std::unique(out.begin(), out.end(), [](const auto& a, const auto& b) { return a.Cluster == b.Cluster; }),
            out.end());
  return out;
}

}  // namespace restovo
