// LZNT1, the compression of NTFS compressed data streams, and how the run list of such a
// stream tells which compression units are stored raw, compressed or not at all.
//
// Reading a non-resident $DATA attribute whose CompressionUnit field is non-zero:
//   1. From VCN 0 on, the stream is cut into compression units of 2^CompressionUnit
//      clusters (16 clusters, 64 KiB with 4 KiB clusters). A run may span several units
//      and a unit may take pieces of several runs, so cut the runs at unit boundaries.
//   2. ClassifyCompressionUnit tells from a unit's pieces how the unit is stored:
//        Raw         every cluster allocated: the unit's bytes as they are, no framing.
//        Compressed  allocated clusters, then a sparse run up to the unit's end: the
//                    allocated clusters, joined in VCN order, hold LZNT1 chunks, and
//                    DecompressNtfsUnit turns them into the unit's bytes.
//        Sparse      no cluster allocated: the unit reads as zeros.
//   3. The run list of a compressed stream covers whole units (its allocated size is a
//      multiple of the unit), so the last unit is classified like any other. Cut the
//      joined units at the data size; bytes past the initialized size read as zeros.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>

namespace restovo {

// Every chunk stands for this many bytes of output, however few its data make.
inline constexpr std::size_t Lznt1ChunkSize = 4096;

struct TLznt1Result {
  // Bytes at the start of the output that were written: decoded data, and zeros in the
  // gaps behind chunks that decode to less than Lznt1ChunkSize and are followed by
  // another chunk. On failure, what was decoded before the fault.
  std::size_t Written = 0;
  bool Ok = false;
};

// Decodes a stream of LZNT1 chunks into `out`; chunk n lands at n * Lznt1ChunkSize.
// The stream ends at a zero chunk header, where fewer than two input bytes are left, or
// once `out` is full: the slack of a unit's last cluster past its chunks may hold
// anything. Fails on a chunk that runs past the input, a back-reference before the
// start of its chunk, a chunk that decodes to more than Lznt1ChunkSize bytes, or output
// that does not fit `out`. Never reads or writes outside `in` and `out`.
// The three signature bits of a chunk header are not checked.
TLznt1Result Lznt1Decompress(std::span<const std::byte> in, std::span<std::byte> out);

// One compression unit: decodes the joined allocated clusters `compressed` into `unit`
// (unit-size bytes) and zero-fills whatever the chunks do not cover, so a unit whose
// data ends early reads as zeros from there. On failure `unit` still holds what was
// decoded before the fault, then zeros.
bool DecompressNtfsUnit(std::span<const std::byte> compressed, std::span<std::byte> unit);

enum class TUnitKind { Raw, Compressed, Sparse };

// One piece of a compression unit's run list, in VCN order. A negative Lcn is a sparse
// run, as in TRunNode.
struct TUnitPiece {
  std::int64_t Lcn = -1;
  std::uint64_t Clusters = 0;
};

// How a unit of `unitClusters` clusters is stored, from its pieces. Empty when the
// pieces do not add up to exactly the unit, or when an allocated piece follows a sparse
// one, which no writer of compressed streams produces; the caller treats the unit as
// damaged then.
std::optional<TUnitKind> ClassifyCompressionUnit(std::span<const TUnitPiece> pieces,
                                                 std::uint64_t unitClusters);

}  // namespace restovo
