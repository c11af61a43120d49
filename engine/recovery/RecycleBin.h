// The recycle bin: the names recycled files had before they went to the bin.
#pragma once

#include <cstddef>
#include <span>
#include <string>

namespace restovo {

// The original file name kept in a recycle-bin information record ("$I..." file): the
// path's last part. Both record versions: version 1 stores the path at offset 24, version
// 2 (written by current systems) a 4-byte character count at 24 and the path at 28.
// Empty when the record holds no path.
std::string ReadRecycleInfoName(std::span<const std::byte> content);

}  // namespace restovo
