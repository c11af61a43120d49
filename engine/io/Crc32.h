// The CRC-32 of IEEE 802.3 (reflected, polynomial 0xEDB88320), as GPT headers, PNG chunks
// and ZIP members carry it.
#pragma once

#include <cstdint>

#include "io/ByteOrder.h"

namespace restovo {

std::uint32_t Crc32(TBytes bytes);
// For bytes that come in pieces: start with kCrc32Start, feed each piece, finish with
// Crc32Finish.
inline constexpr std::uint32_t kCrc32Start = 0xFFFFFFFFu;
std::uint32_t Crc32Update(std::uint32_t state, TBytes bytes);
inline std::uint32_t Crc32Finish(std::uint32_t state) { return state ^ 0xFFFFFFFFu; }

}  // namespace restovo
