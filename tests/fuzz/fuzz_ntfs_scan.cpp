// NTFS over arbitrary bytes: one FILE record through the fixup check and the attribute,
// index-root and run-list parsers, the first bytes as an index record, the record and
// index detectors of the deep pass over all of them, then whole scans of the bytes as a
// volume, quick and deep.
#include <cstddef>
#include <algorithm>
#include <cstdint>
#include <vector>

#include "fs/DiskScaner.h"
#include "fs/ntfs/MftReader.h"
#include "fs/ntfs/NtfsIndexDetector.h"
#include "fs/ntfs/NtfsLayout.h"
#include "fs/ntfs/NtfsRecordDetector.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  using namespace restovo;
  std::vector<std::byte> bytes(reinterpret_cast<const std::byte*>(data),
                               reinterpret_cast<const std::byte*>(data) + size);
  TNtfsGeometry g;
  g.BytesPerSector = 512;
  g.SectorsPerCluster = 8;
  g.BytesPerRecord = 1024;
  std::vector<std::byte> record(bytes.begin(), bytes.begin() + static_cast<std::ptrdiff_t>(std::min<std::size_t>(size, 1024)));
  if (CheckFixups(g, record.data(), static_cast<std::int64_t>(record.size()))) {
    TInodeData inode;
    inode.Reset(1);
    ParseFileRecord(record, inode);
    // A folder's index root, as a deep scan reads a live folder's.
    for (const TNtfsIndexEntry& e : ParseIndexNode(ResidentValue(record, ntfs::kIndexRoot, u"$I30"), ntfs::kRootNode, 1 << 20))
      if (e.ParentRecord() >= (1 << 20) || e.Name.empty()) __builtin_trap();
  }
  std::vector<TRunNode> runs;
  std::int64_t allocated = 0;
  DecodeRunList(bytes, 0, runs, allocated);
  TNtfsRecordDetector detector(g, [](std::uint64_t, std::int64_t number, std::span<std::byte> found) {
    TInodeData inode;
    inode.Reset(number);
    ParseFileRecord(TBytes(found.data(), found.size()), inode);
  });
  detector.Inspect(0, bytes);
  // Entries checked whole, in use and in slack, whatever the header says.
  for (const TNtfsIndexEntry& e : ParseIndexRecord(TBytes(bytes).first(std::min<std::size_t>(size, 4096)), 1 << 20))
    if (e.Record() >= (1 << 20) || e.ParentRecord() >= (1 << 20) || e.Name.empty()) __builtin_trap();
  TNtfsIndexDetector indexes(g, 1 << 20);
  indexes.Inspect(0, bytes);

  TVolumeLocation location;
  location.Memory = MakeMemoryDevice(std::move(bytes));
  TDiskObject disk("fuzz/", "fuzz", location);
  disk.FsKind = fkNtfs;
  for (const bool deep : {false, true}) {
    auto scaner = CreateScaner(&disk);
    scaner->Deep = deep;
    scaner->Scan();
  }
  return 0;
}
