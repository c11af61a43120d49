// Scanners for FAT12, FAT16 and FAT32 volumes.
#pragma once

#include "DiskScaner.h"

namespace restovo {

class TFatScaner : public TDiskScaner {
 public:
  using TDiskScaner::TDiskScaner;
  void Scan() override;
};

class TFat12Scaner : public TFatScaner {
 public:
  using TFatScaner::TFatScaner;
};

class TFat16Scaner : public TFat12Scaner {
 public:
  using TFat12Scaner::TFat12Scaner;
};

class TFat32Scaner : public TFatScaner {
 public:
  using TFatScaner::TFatScaner;
};

}  // namespace restovo
