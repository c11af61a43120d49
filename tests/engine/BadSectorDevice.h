// A test device over bytes in memory whose reads fail where they touch a bad stretch.
#pragma once

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <utility>
#include <vector>

#include "io/VolumeAccess.h"

namespace restovo {

// Volume bytes whose reads fail where they touch a bad stretch, as a disk with bad sectors
// does: the bytes before it are delivered, a read that starts in it gets -1.
class TBadSectorDevice final : public TVolumeDevice {
 public:
  TBadSectorDevice(std::vector<std::byte> bytes, std::vector<std::pair<std::uint64_t, std::uint64_t>> bad)
      : Bytes(std::move(bytes)), Bad(std::move(bad)) {}
  std::int64_t ReadAt(void* buffer, std::size_t count, std::uint64_t offset) override {
    if (offset >= Bytes.size()) return 0;
    std::uint64_t end = std::min<std::uint64_t>(offset + count, Bytes.size());
    for (const auto& [from, to] : Bad) {
      if (offset >= from && offset < to) return -1;
      if (from > offset && from < end) end = from;
    }
    std::memcpy(buffer, Bytes.data() + offset, end - offset);
    return static_cast<std::int64_t>(end - offset);
  }
  std::uint64_t Size() const override { return Bytes.size(); }

 private:
  std::vector<std::byte> Bytes;
  std::vector<std::pair<std::uint64_t, std::uint64_t>> Bad;
};

}  // namespace restovo
