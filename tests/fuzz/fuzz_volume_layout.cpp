// Partition tables, boot sectors and the free-space count over arbitrary disk bytes.
#include <cstddef>
#include <cstdint>
#include <vector>

#include "volume/BootSector.h"
#include "volume/PartitionTable.h"
#include "io/VolumeAccess.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  using namespace restovo;
  std::vector<std::byte> bytes(reinterpret_cast<const std::byte*>(data),
                               reinterpret_cast<const std::byte*>(data) + size);
  TVolumeLocation location;
  location.Memory = MakeMemoryDevice(bytes);
  const TVolumeHandle disk = OpenVolume(location);
  const TPartitionTable table = ReadPartitionTable(disk);
  for (const TPartition& p : table.Partitions) {
    TVolumeLocation part = location;
    part.Offset = p.Offset;
    part.Length = p.Length;
    TBootInfo boot;
    const TVolumeHandle volume = OpenVolume(part);
    if (ReadBootInfo(volume, boot)) CountFreeClusters(volume, boot);
  }
  TBootInfo boot;
  if (ReadBootInfo(disk, boot)) CountFreeClusters(disk, boot);
  return 0;
}
