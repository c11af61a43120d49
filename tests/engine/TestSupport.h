// Shared helpers of the engine tests: scratch folders, time zones, fixture images.
#pragma once

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <stdexcept>
#include <ctime>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#ifndef RESTOVO_FIXTURE_DIR
#define RESTOVO_FIXTURE_DIR "fixtures"
#endif

namespace restovo {

class TempDir {
 public:
  TempDir() {
    std::string pattern = (std::filesystem::temp_directory_path() / "restovo-test-XXXXXX").string();
    if (::mkdtemp(pattern.data()) == nullptr) throw std::runtime_error("mkdtemp failed");
    Dir = pattern;
  }
  ~TempDir() {
    std::error_code ec;
    std::filesystem::remove_all(Dir, ec);
  }
  TempDir(const TempDir&) = delete;
  TempDir& operator=(const TempDir&) = delete;
  const std::string& Path() const { return Dir; }

 private:
  std::string Dir;
};

class ScopedTimeZone {
 public:
  explicit ScopedTimeZone(const char* tz) {
    if (const char* old = std::getenv("TZ")) Old = old, HadOld = true;
    ::setenv("TZ", tz, 1);
    ::tzset();
  }
  ~ScopedTimeZone() {
    if (HadOld) ::setenv("TZ", Old.c_str(), 1);
    else ::unsetenv("TZ");
    ::tzset();
  }
  ScopedTimeZone(const ScopedTimeZone&) = delete;
  ScopedTimeZone& operator=(const ScopedTimeZone&) = delete;

 private:
  std::string Old;
  bool HadOld = false;
};

inline std::string FixturePath(const std::string& name) {
  return std::string(RESTOVO_FIXTURE_DIR) + "/" + name;
}

// Skips the calling test when a fixture image was not built (its builder says why).
#define REQUIRE_FIXTURE(path)                                                       \
  do {                                                                              \
    if (!std::filesystem::exists(path)) GTEST_SKIP() << "fixture missing: " << path; \
  } while (0)

inline std::vector<std::byte> ReadWholeFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary | std::ios::ate);
  std::vector<std::byte> out(static_cast<std::size_t>(std::max<std::streamoff>(in.tellg(), 0)));
  in.seekg(0);
  in.read(reinterpret_cast<char*>(out.data()), static_cast<std::streamsize>(out.size()));
  return out;
}

inline void PutU16(std::vector<std::byte>& b, std::size_t at, std::uint16_t v) {
  b[at] = std::byte(v & 0xFF);
  b[at + 1] = std::byte(v >> 8);
}

inline void PutU32(std::vector<std::byte>& b, std::size_t at, std::uint32_t v) {
  PutU16(b, at, static_cast<std::uint16_t>(v & 0xFFFF));
  PutU16(b, at + 2, static_cast<std::uint16_t>(v >> 16));
}

inline void PutU64(std::vector<std::byte>& b, std::size_t at, std::uint64_t v) {
  PutU32(b, at, static_cast<std::uint32_t>(v));
  PutU32(b, at + 4, static_cast<std::uint32_t>(v >> 32));
}

}  // namespace restovo
