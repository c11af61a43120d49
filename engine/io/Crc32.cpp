#include "io/Crc32.h"

#include <array>

namespace restovo {

std::uint32_t Crc32Update(std::uint32_t state, TBytes bytes) {
  static const auto table = [] {
    std::array<std::uint32_t, 256> t{};
    for (std::uint32_t i = 0; i < 256; ++i) {
      std::uint32_t c = i;
      for (int k = 0; k < 8; ++k) c = (c & 1) ? 0xEDB88320u ^ (c >> 1) : c >> 1;
      t[i] = c;
    }
    return t;
  }();
  for (std::byte b : bytes) state = table[(state ^ static_cast<std::uint8_t>(b)) & 0xFF] ^ (state >> 8);
  return state;
}

std::uint32_t Crc32(TBytes bytes) { return Crc32Finish(Crc32Update(kCrc32Start, bytes)); }

}  // namespace restovo
