// The recycle bin: the names recycled files had before they went to the bin.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <span>
#include <string>
#include <vector>

#include "records/TypesDefine.h"

namespace restovo {

// The original file name kept in a recycle-bin information record ("$I..." file): the
// path's last part. Both record versions: version 1 stores the path at offset 24, version
// 2 (written by current systems) a 4-byte character count at 24 and the path at 28.
// Empty when the record holds no path.
std::string ReadRecycleInfoName(std::span<const std::byte> content);

// Information records are a few hundred bytes; more is never read of one.
inline constexpr std::int64_t kMaxRecycleInfoSize = 65536;

// Reads a record's bytes (at most kMaxRecycleInfoSize); false when it cannot be read.
using TRecordReader = std::function<bool(TFileInfo* record, std::vector<std::byte>& out)>;

// Gives recycled files and folders ("$R..." below a recycle-bin folder) the names they
// had before they were recycled, from the "$I..." record of the same name in the same
// folder. The root's own children keep their names. A record that cannot be read, or
// holds no name, leaves the recycled name as it is. Returns how many were renamed.
std::size_t NameRecycledFiles(TFileInfo* root, const TRecordReader& read);

}  // namespace restovo
