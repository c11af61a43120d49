#include "FatScaner.h"

#include <stdexcept>

namespace restovo {

void TFatScaner::Scan() {
  TDiskScaner::Scan();
  throw std::runtime_error("FAT scanning is not available yet.");
}

}  // namespace restovo
