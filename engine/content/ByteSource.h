// Where a content parser reads a candidate file: the bytes of a volume from the file's
// first byte on, or bytes in memory. A parser hops from header to header, so reads go
// through a window that keeps the last stretch read.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <string_view>
#include <vector>

#include "io/ByteOrder.h"

namespace restovo {

class TByteSource {
 public:
  virtual ~TByteSource() = default;
  // How many bytes may be asked for, from the candidate's first byte.
  virtual std::uint64_t Size() const = 0;
  // Copies bytes [at, at + out.size()) into out; returns how many it delivered, fewer only
  // past the end or where the bytes cannot be read.
  virtual std::size_t Read(std::uint64_t at, std::span<std::byte> out) = 0;
};

class TMemorySource final : public TByteSource {
 public:
  explicit TMemorySource(TBytes bytes) : Bytes(bytes) {}
  std::uint64_t Size() const override { return Bytes.size(); }
  std::size_t Read(std::uint64_t at, std::span<std::byte> out) override;

 private:
  TBytes Bytes;
};

// Reads of a source through a window. Every read past what the source delivers gives 0s
// and makes Has() false, so a parser fed a cut-off or broken file ends; none reads more
// than the source's size.
class TSourceReader {
 public:
  explicit TSourceReader(TByteSource& source);

  std::uint64_t Size() const { return SourceSize; }
  // Whether bytes [at, at + n) can all be read.
  bool Has(std::uint64_t at, std::uint64_t n);
  // Bytes [at, at + n), n up to kMaxSpan; empty when not all of them can be read.
  TBytes Span(std::uint64_t at, std::size_t n);

  std::uint8_t U8(std::uint64_t at);
  std::uint16_t U16Le(std::uint64_t at);
  std::uint32_t U32Le(std::uint64_t at);
  std::uint64_t U64Le(std::uint64_t at);
  std::uint16_t U16Be(std::uint64_t at);
  std::uint32_t U32Be(std::uint64_t at);
  bool Equals(std::uint64_t at, std::string_view text);

  // The first offset in [from, limit) holding `value`, where all bytes up to it could be
  // read; nullopt when there is none or the source ends or breaks before one.
  std::optional<std::uint64_t> FindByte(std::uint64_t from, std::uint64_t limit, std::uint8_t value);
  // The same for the first place where `text` starts.
  std::optional<std::uint64_t> Find(std::uint64_t from, std::uint64_t limit, std::string_view text);

  static constexpr std::size_t kMaxSpan = 64 * 1024;

 private:
  // Makes the window hold [at, at + n) when the source has it.
  bool Load(std::uint64_t at, std::size_t n);

  TByteSource& Source;
  const std::uint64_t SourceSize;
  std::vector<std::byte> Window;
  std::uint64_t WindowAt = 0;
  std::size_t WindowLength = 0;
  static constexpr std::size_t kWindow = 256 * 1024;
};

}  // namespace restovo
