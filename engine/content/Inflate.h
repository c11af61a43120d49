// Inflating a DEFLATE stream (RFC 1951) where it lies among the bytes: to find where it
// ends and check what it unpacks to (its CRC-32 and size), keeping the first bytes of it
// where a parser wants to read them.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "content/ByteSource.h"

namespace restovo {

struct TInflateResult {
  enum class TStatus : std::uint8_t {
    Done,     // the last block ended
    Short,    // the bytes end (or cannot be read) before the last block does
    Broken,   // the stream breaks a rule of the format: Reason says which
    TooLong,  // it unpacks to more than the bound
  };
  TStatus Status = TStatus::Broken;
  std::uint64_t End = 0;   // the first byte after the stream (its last bits padded to a byte)
  std::uint64_t Size = 0;  // the bytes unpacked
  std::uint32_t Crc32 = 0;
  std::string Reason;
};

// Inflates the stream that starts at `at`, reading no byte at or past `limit` and unpacking
// at most maxOutput bytes. The first keepBytes bytes unpacked go to *kept when it is given.
TInflateResult Inflate(TSourceReader& bytes, std::uint64_t at, std::uint64_t limit, std::uint64_t maxOutput,
                       std::vector<std::byte>* kept = nullptr, std::size_t keepBytes = 0);

}  // namespace restovo
