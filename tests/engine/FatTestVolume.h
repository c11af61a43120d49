// A FAT volume made by mkfs.fat, held in memory and patched byte by byte, so each test
// can build exactly the directory entries and table values it is about.
#pragma once

#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "fs/DiskScaner.h"
#include "TestSupport.h"

namespace restovo {

class FatTestVolume {
 public:
  // options go to mkfs.fat ("-F 16 -s 2"), size in KiB.
  FatTestVolume(const std::string& options, int kib) {
    TempDir dir;
    const std::string path = dir.Path() + "/v.img";
    const std::string cmd =
        "mkfs.fat " + options + " -C '" + path + "' " + std::to_string(kib) + " >/dev/null 2>&1";
    if (std::system(cmd.c_str()) != 0) throw std::runtime_error("mkfs.fat failed: " + cmd);
    Bytes = ReadWholeFile(path);
    Bps = U16(11);
    Spc = U8(13);
    Reserved = U16(14);
    Fats = U8(16);
    RootEntries = U16(17);
    FatSectors = U16(22) ? U16(22) : U32(36);
    Fat32 = U16(22) == 0;
    const std::uint32_t total = U16(19) ? U16(19) : U32(32);
    RootStart = (Reserved + std::uint64_t{Fats} * FatSectors) * Bps;
    DataStart = RootStart + (RootEntries * 32u + Bps - 1) / Bps * Bps;
    Clusters = static_cast<std::uint32_t>((total - DataStart / Bps) / Spc);
    Fat12 = !Fat32 && Clusters < 4085;
  }

  std::uint32_t ClusterSize() const { return Bps * Spc; }
  std::uint64_t ClusterOffset(std::uint32_t k) const {
    return DataStart + std::uint64_t{k - 2} * ClusterSize();
  }
  // Where the root folder's entries start: the fixed region, or the FAT32 root cluster.
  std::uint64_t RootOffset() const { return Fat32 ? ClusterOffset(U32(44)) : RootStart; }

  // Writes table entry k in every table copy.
  void SetFat(std::uint32_t k, std::uint32_t value) {
    for (std::uint32_t f = 0; f < Fats; ++f) SetFatIn(f, k, value);
  }
  void SetFatIn(std::uint32_t table, std::uint32_t k, std::uint32_t value) {
    const std::uint64_t base = (Reserved + std::uint64_t{table} * FatSectors) * Bps;
    if (Fat32) {
      PutU32(Bytes, base + 4ull * k, (U32(base + 4ull * k) & 0xF0000000u) | value);
    } else if (!Fat12) {
      PutU16(Bytes, base + 2ull * k, static_cast<std::uint16_t>(value));
    } else {
      const std::uint64_t at = base + k + k / 2;
      std::uint16_t w = U16(at);
      w = (k & 1) ? static_cast<std::uint16_t>((w & 0x000F) | (value << 4))
                  : static_cast<std::uint16_t>((w & 0xF000) | (value & 0xFFF));
      PutU16(Bytes, at, w);
    }
  }
  // Marks a chain of clusters as one live chain ending in an end mark.
  void Chain(std::initializer_list<std::uint32_t> clusters) {
    const std::uint32_t eoc = Fat32 ? 0x0FFFFFFF : Fat12 ? 0xFFF : 0xFFFF;
    auto it = clusters.begin();
    while (it != clusters.end()) {
      auto next = it + 1;
      SetFat(*it, next == clusters.end() ? eoc : *next);
      it = next;
    }
  }

  // A short entry at `at`. name11 is the raw 11-byte name ("README  TXT").
  void Entry(std::uint64_t at, const char* name11, std::uint8_t attr, std::uint32_t cluster,
             std::uint32_t size, bool deleted = false) {
    std::memcpy(Bytes.data() + at, name11, 11);
    if (deleted) Bytes[at] = std::byte{0xE5};
    Bytes[at + 11] = std::byte{attr};
    PutU16(Bytes, at + 20, static_cast<std::uint16_t>(cluster >> 16));
    PutU16(Bytes, at + 26, static_cast<std::uint16_t>(cluster & 0xFFFF));
    PutU32(Bytes, at + 28, size);
    PutU16(Bytes, at + 24, (44 << 9) | (7 << 5) | 1);   // 2024-07-01
    PutU16(Bytes, at + 22, (10 << 11) | (30 << 5) | 7);  // 10:30:14
    PutU16(Bytes, at + 16, (44 << 9) | (6 << 5) | 30);  // 2024-06-30
    PutU16(Bytes, at + 18, (44 << 9) | (7 << 5) | 2);
  }
  // The long-name entries for `name` (up to 13 units per entry), in disk order, at `at`,
  // carrying the checksum of the short entry's raw name `short11` ("REPORT~1DOC", as it was
  // before any deletion mark); returns the position just after them.
  std::uint64_t LongName(std::uint64_t at, const std::u16string& name, const char* short11, bool deleted = false) {
    std::uint8_t checksum = 0;
    for (int i = 0; i < 11; ++i)
      checksum = static_cast<std::uint8_t>(((checksum & 1) << 7) + (checksum >> 1) + static_cast<std::uint8_t>(short11[i]));
    const std::size_t parts = (name.size() + 12) / 13;
    for (std::size_t n = parts; n-- > 0;) {
      std::vector<char16_t> units(13, 0xFFFF);
      for (std::size_t i = 0; i < 13; ++i) {
        const std::size_t src = n * 13 + i;
        if (src < name.size()) units[i] = name[src];
        else if (src == name.size()) units[i] = 0;
      }
      Bytes[at] = std::byte(deleted ? 0xE5 : ((n + 1) | (n + 1 == parts ? 0x40 : 0)));
      Bytes[at + 11] = std::byte{0x0F};
      Bytes[at + 13] = std::byte{checksum};
      for (int i = 0; i < 5; ++i) PutU16(Bytes, at + 1 + 2 * i, units[i]);
      for (int i = 0; i < 6; ++i) PutU16(Bytes, at + 14 + 2 * i, units[5 + i]);
      for (int i = 0; i < 2; ++i) PutU16(Bytes, at + 28 + 2 * i, units[11 + i]);
      at += 32;
    }
    return at;
  }

  // A drive object over these bytes as they are now.
  std::unique_ptr<TDiskObject> Disk(const std::string& root = "mem.img/") const {
    TVolumeLocation loc;
    loc.Memory = MakeMemoryDevice(Bytes);
    return std::make_unique<TDiskObject>(root, "mem.img", loc);
  }

  std::uint8_t U8(std::uint64_t at) const { return static_cast<std::uint8_t>(Bytes[at]); }
  std::uint16_t U16(std::uint64_t at) const { return static_cast<std::uint16_t>(U8(at) | U8(at + 1) << 8); }
  std::uint32_t U32(std::uint64_t at) const { return U16(at) | std::uint32_t{U16(at + 2)} << 16; }

  std::vector<std::byte> Bytes;
  std::uint32_t Bps = 0, Spc = 0, Reserved = 0, Fats = 0, RootEntries = 0, FatSectors = 0;
  std::uint32_t Clusters = 0;
  std::uint64_t RootStart = 0, DataStart = 0;
  bool Fat32 = false, Fat12 = false;
};

}  // namespace restovo
