// Little-endian reads from byte spans. Out-of-range reads give 0, so a parser fed a
// short or damaged buffer sees zeros instead of reading past it.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>

namespace restovo {

using TBytes = std::span<const std::byte>;

inline std::uint8_t ReadU8(TBytes b, std::size_t at) {
  return at < b.size() ? static_cast<std::uint8_t>(b[at]) : 0;
}

inline std::uint16_t ReadU16(TBytes b, std::size_t at) {
  return static_cast<std::uint16_t>(ReadU8(b, at) | (ReadU8(b, at + 1) << 8));
}

inline std::uint32_t ReadU32(TBytes b, std::size_t at) {
  return static_cast<std::uint32_t>(ReadU16(b, at)) |
         (static_cast<std::uint32_t>(ReadU16(b, at + 2)) << 16);
}

inline std::uint64_t ReadU64(TBytes b, std::size_t at) {
  return static_cast<std::uint64_t>(ReadU32(b, at)) |
         (static_cast<std::uint64_t>(ReadU32(b, at + 4)) << 32);
}

inline TBytes AsBytes(const void* data, std::size_t size) {
  return {static_cast<const std::byte*>(data), size};
}

}  // namespace restovo
