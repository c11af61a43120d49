// The deep scan's directory-cluster detector and the long-name fit over arbitrary bytes:
// every cluster size the input can be cut into, and every run of slots before a short entry.
#include <array>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <vector>

#include "fs/fat/FatDirectoryDetector.h"
#include "fs/fat/FatScaner.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  using namespace restovo;
  const TBytes bytes(reinterpret_cast<const std::byte*>(data), size);
  for (std::size_t cluster = 512; cluster <= 4096 && cluster <= size; cluster *= 2) {
    TFatDirectoryDetector detector(0, static_cast<std::uint32_t>(cluster), 1u << 20);
    detector.Inspect(0, bytes);
    for (const auto& found : detector.Found())
      if (found.Cluster < 2 || found.Cluster > (1u << 20) + 1) __builtin_trap();
  }
  std::vector<std::array<std::byte, 32>> run;
  for (std::size_t at = 0; at + 32 <= size; at += 32) {
    const TBytes slot = bytes.subspan(at, 32);
    if ((std::to_integer<std::uint8_t>(slot[11]) & 0x3F) == 0x0F && run.size() < 24) {
      run.emplace_back();
      std::memcpy(run.back().data(), slot.data(), 32);
      continue;
    }
    std::uint8_t first = 0;
    (void)FitLongName(run, slot, &first);
    run.clear();
  }
  return 0;
}
