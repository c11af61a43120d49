// Scanner for NTFS volumes.
#pragma once

#include "DiskScaner.h"

namespace restovo {

class TNtfsScaner : public TDiskScaner {
 public:
  using TDiskScaner::TDiskScaner;
  void Scan() override;
};

}  // namespace restovo
