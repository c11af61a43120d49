// Index blocks (INDX records of folders' $I30 indexes): the deep pass hands every free
// cluster to this detector, and the blocks of live folders. Each entry names a file, its folder
// and its sizes and times; entries removed from a folder stay in the block's slack after
// the entries in use, so both are read.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "fs/DeepPass.h"
#include "volume/BootSector.h"

namespace restovo {

struct TNtfsIndexEntry {
  std::uint64_t File = 0;    // reference: record number and, in the top 16 bits, its sequence
  std::uint64_t Parent = 0;  // reference of the folder
  std::u16string Name;
  std::uint8_t NameSpace = 0;
  bool IsDirectory = false;
  std::int64_t Size = 0;
  std::uint64_t Created = 0, Written = 0, Accessed = 0;  // FILETIME
  bool InSlack = false;  // after the entries in use: removed from the folder
  // Only its key was left (its first bytes were overwritten): File is 0, the record it was
  // in is not known.
  bool Headless = false;

  std::int64_t Record() const;
  std::uint16_t Sequence() const { return static_cast<std::uint16_t>(File >> 48); }
  std::int64_t ParentRecord() const;
  std::uint16_t ParentSequence() const { return static_cast<std::uint16_t>(Parent >> 48); }
};

// A key for a name in a folder (a hash: equal keys may, rarely, be different names).
std::uint64_t NameInFolderKey(std::int64_t parentRecord, const std::u16string& name);

// The entries of one fixed-up index record of `bytes` bytes, in use and in slack, each
// checked as a whole: lengths inside the record, a name of legal characters, times a volume
// can hold, references below maxRecord. In the slack, keys whose entry's first bytes were
// overwritten come too, as Headless entries, except copies of entries still in use.
std::vector<TNtfsIndexEntry> ParseIndexRecord(TBytes record, std::int64_t maxRecord);
// The same for the node whose header is at `node`: in a folder's $INDEX_ROOT value, at
// ntfs::kRootNode.
std::vector<TNtfsIndexEntry> ParseIndexNode(TBytes bytes, std::size_t node, std::int64_t maxRecord);

class TNtfsIndexDetector final : public TDeepDetector {
 public:
  TNtfsIndexDetector(const TNtfsGeometry& geometry, std::int64_t maxRecord);
  void Inspect(std::uint64_t offset, TBytes block) override;
  // When set, only the entries it accepts are kept; of the others, only their names'
  // keys, so a copy of one without its record number can be told.
  std::function<bool(const TNtfsIndexEntry&)> Keep;
  std::vector<std::uint64_t> TakeLeftOutNames() { return std::move(LeftOut); }

  // In the order they were read.
  const std::vector<TNtfsIndexEntry>& Found() const { return Entries; }
  std::vector<TNtfsIndexEntry> Take() { return std::move(Entries); }

 private:
  // A whole record's bytes, fixed up in place: its entries, when the fixups hold (false
  // when they do not).
  bool TakeRecord(std::vector<std::byte>& record);

  const TNtfsGeometry Geometry;
  const std::int64_t MaxRecord;
  std::vector<std::byte> Scratch;
  // The start of a record the last block broke off in: its bytes, its size, and where the
  // block ended.
  std::vector<std::byte> Carry;
  std::size_t CarryWanted = 0;
  std::uint64_t CarryEnd = 0;
  std::vector<TNtfsIndexEntry> Entries;
  std::vector<std::uint64_t> LeftOut;
};

}  // namespace restovo
