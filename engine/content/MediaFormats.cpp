#include "content/MediaFormats.h"

#include <algorithm>
#include <array>
#include <cstring>
#include <string>

#include "content/MeasureResults.h"

namespace restovo {

using content::CutOff;
using content::HeadIs;
using content::Result;

// ---- ISO base media ----

namespace {

std::string_view Text(TBytes b) { return {reinterpret_cast<const char*>(b.data()), b.size()}; }

bool IsBrandText(TBytes b) {
  return b.size() == 4 && std::all_of(b.begin(), b.end(), [](std::byte x) {
           const auto c = static_cast<std::uint8_t>(x);
           return c >= 0x20 && c < 0x7F;
         });
}

constexpr std::array<std::string_view, 13> kHeifBrands = {"heic", "heix", "heim", "heis", "hevc", "hevx", "hevm",
                                                          "hevs", "mif1", "msf1", "mif2", "avif", "avis"};

bool FtypStarts(TBytes head) {
  if (head.size() < 12 || !HeadIs(head.subspan(4), "ftyp")) return false;
  const std::uint32_t size = static_cast<std::uint32_t>(ReadU8(head, 0)) << 24 | ReadU8(head, 1) << 16 |
                             ReadU8(head, 2) << 8 | ReadU8(head, 3);
  return size >= 16 && size <= 1024 && size % 4 == 0 && IsBrandText(head.subspan(8, 4));
}

bool IsHeifBrand(std::string_view brand) {
  return std::find(kHeifBrands.begin(), kHeifBrands.end(), brand) != kHeifBrands.end();
}

// The extension one brand tells, or empty for a brand shared by many kinds (isom, mp42).
std::string_view BrandExtension(std::string_view brand) {
  if (brand == "qt  ") return "mov";
  if (brand == "M4A " || brand == "M4B " || brand == "M4P ") return "m4a";
  if (brand == "M4V " || brand == "M4VH" || brand == "M4VP") return "m4v";
  if (brand.substr(0, 3) == "3gp" || brand.substr(0, 3) == "3gg" || brand.substr(0, 3) == "3ge" ||
      brand.substr(0, 3) == "3gs")
    return "3gp";
  if (brand.substr(0, 3) == "3g2") return "3g2";
  if (brand == "avif" || brand == "avis") return "avif";
  if (IsHeifBrand(brand) && brand.substr(0, 1) == "h") return "heic";
  return {};
}

// Top-level boxes a writer puts in a file; after the movie and its media, only these are
// taken as the file's own.
bool IsTopLevelBox(std::string_view type) {
  static constexpr std::string_view kTypes[] = {"ftyp", "pdin", "moov", "moof", "mfra", "mdat", "free", "skip",
                                                "wide", "meta", "meco", "uuid", "sidx", "ssix", "styp", "prft",
                                                "emsg", "udta", "pnot", "jumb"};
  return std::find(std::begin(kTypes), std::end(kTypes), type) != std::end(kTypes);
}

std::uint64_t U64Be(TSourceReader& bytes, std::uint64_t at) {
  return static_cast<std::uint64_t>(bytes.U32Be(at)) << 32 | bytes.U32Be(at + 4);
}

}  // namespace

bool HeifStarts(TBytes head) { return FtypStarts(head) && IsHeifBrand(Text(head.subspan(8, 4))); }
bool Mp4Starts(TBytes head) { return FtypStarts(head) && !IsHeifBrand(Text(head.subspan(8, 4))); }

TContentMeasure MeasureIsoMedia(TSourceReader& bytes, std::uint64_t maxBytes) {
  const TBytes head = bytes.Span(0, 12);
  if (!FtypStarts(head)) return Result(TContentVerdict::NotThisType, 0);
  const std::uint64_t limit = std::min(bytes.Size(), maxBytes);
  const std::uint32_t ftypSize = bytes.U32Be(0);
  if (!bytes.Has(0, ftypSize)) return CutOff(bytes, maxBytes, "MP4");
  // The brands: the major one, then the compatible ones, tell the kind.
  const std::string major(Text(bytes.Span(8, 4)));
  const bool heif = IsHeifBrand(major);
  const std::string_view kind = heif ? "HEIF" : "MP4";
  std::string extension(BrandExtension(major));
  for (std::uint64_t b = 16; extension.empty() && b + 4 <= ftypSize; b += 4)
    extension = BrandExtension(Text(bytes.Span(b, 4)));
  if (extension.empty()) extension = heif ? "heif" : "mp4";

  bool header = false, media = false;
  std::string last = "ftyp";
  std::uint64_t at = ftypSize;
  for (int boxes = 1;; ++boxes) {
    const bool complete = header && media;
    auto whole = [&] {
      TContentMeasure m = Result(TContentVerdict::Whole, at);
      m.Extension = extension;
      return m;
    };
    if (at >= limit || !bytes.Has(at, 8)) return complete ? whole() : CutOff(bytes, maxBytes, kind);
    std::uint64_t size = bytes.U32Be(at);
    const std::string type(Text(bytes.Span(at + 4, 4)));
    std::uint64_t headerBytes = 8;
    if (size == 1) {
      if (!bytes.Has(at, 16)) return complete ? whole() : CutOff(bytes, maxBytes, kind);
      size = U64Be(bytes, at + 8);
      headerBytes = 16;
    } else if (size == 0) {
      size = limit - at;  // the last box: it runs to the end of the file
    }
    if (!IsTopLevelBox(type) || size < headerBytes || boxes > (1 << 20)) {
      if (complete) return whole();
      if (boxes == 1) return Result(TContentVerdict::NotThisType, 0);
      return Result(TContentVerdict::Damaged, at,
                    "The " + std::string(kind) + " data breaks off after its " + last + " box, before its " +
                        (header ? "media data" : heif ? "picture's description (meta)" : "movie header (moov)"));
    }
    if (size > limit - at || !bytes.Has(at, size)) return CutOff(bytes, maxBytes, kind);
    if (type == "mdat") media = true;
    if (type == "moov" && !heif) header = true;
    if (type == "meta" && heif) {
      header = true;
      // A picture may keep its data in the meta box itself (idat) instead of in mdat.
      std::uint64_t child = at + headerBytes + 4;
      for (int k = 0; k < 64 && child + 8 <= at + size; ++k) {
        const std::uint32_t childSize = bytes.U32Be(child);
        if (bytes.Equals(child + 4, "idat")) media = true;
        if (childSize < 8) break;
        child += childSize;
      }
    }
    last = type;
    at += size;
  }
}

}  // namespace restovo
