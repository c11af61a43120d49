#include "NTFSScaner.h"

#include <stdexcept>

namespace restovo {

void TNtfsScaner::Scan() {
  TDiskScaner::Scan();
  throw std::runtime_error("NTFS scanning is not available yet.");
}

}  // namespace restovo
