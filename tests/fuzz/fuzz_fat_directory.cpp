// The deep scan's directory-cluster detectors and the long-name fit over arbitrary bytes:
// every cluster size the input can be cut into, an older layout told from the folders in it
// (handed over in blocks of odd sizes, then read again), and every run of slots before a
// short entry.
#include <array>
#include <cstddef>
#include <cstdint>
#include <algorithm>
#include <cstring>
#include <vector>

#include "fs/fat/FatDirectoryDetector.h"
#include "fs/fat/FatPreviousLayout.h"
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
  {
    const std::uint64_t volume = std::uint64_t{size} * 8;
    TFatPreviousLayoutDetector previous({4096, 4096, 1000}, volume);
    const std::size_t block = 1536;
    auto pass = [&] {
      for (std::size_t at = 0; at < size; at += block)
        previous.Inspect(8192 + at, bytes.subspan(at, std::min(block, size - at)));
    };
    pass();
    previous.BeginRevisit();
    pass();
    for (const auto& found : previous.Found())
      if (found.Cluster < 2 || !previous.Layout() || found.Cluster > previous.Layout()->MaxCluster) __builtin_trap();
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
