// What reading one structure from a volume came to: read and valid, read but not this
// structure (or damaged past use: skip it), or not read at all.
#pragma once

#include <cstdint>

namespace restovo {

enum class TReadResult : std::uint8_t {
  Ok,
  NotThis,     // the bytes were read; they are not this structure, or too damaged to use
  Unreadable,  // the bytes could not be read: an I/O error, a short read, past the end
};

}  // namespace restovo
