#include "content/ContentTypes.h"

#include <array>

#include "content/ContainerFormats.h"
#include "content/DocumentFormats.h"
#include "content/ImageFormats.h"

namespace restovo {

namespace {

constexpr std::uint64_t kMiB = 1024 * 1024;

// Most specific first: the first whose start matches is taken.
constexpr std::array kTypes = {
    TContentType{"JPEG", "jpg", 4, JpegStarts, MeasureJpeg, 512 * kMiB},
    TContentType{"PNG", "png", 16, PngStarts, MeasurePng, 1024 * kMiB},
    TContentType{"GIF", "gif", 6, GifStarts, MeasureGif, 256 * kMiB},
    TContentType{"BMP", "bmp", 30, BmpStarts, MeasureBmp, 1024 * kMiB},
    TContentType{"TIFF", "tif", 8, TiffStarts, MeasureTiff, 2048 * kMiB},
    TContentType{"PDF", "pdf", 8, PdfStarts, MeasurePdf, 4096 * kMiB},
    TContentType{"WAV", "wav", 16, WavStarts, MeasureRiff, 4096 * kMiB},
    TContentType{"AVI", "avi", 16, AviStarts, MeasureRiff, 4096 * kMiB},
    TContentType{"WebP", "webp", 16, WebpStarts, MeasureRiff, 256 * kMiB},
    TContentType{"SQLite", "sqlite", 16, SqliteStarts, MeasureSqlite, 64 * 1024 * kMiB},
    TContentType{"ZIP", "zip", 30, ZipStarts, MeasureZip, 16 * 1024 * kMiB},
};

}  // namespace

const char* ContentVerdictText(TContentVerdict verdict) {
  switch (verdict) {
    case TContentVerdict::Whole: return "whole";
    case TContentVerdict::Damaged: return "damaged";
    case TContentVerdict::Truncated: return "truncated";
    default: return "none";
  }
}

std::span<const TContentType> ContentTypes() { return kTypes; }

const TContentType* ContentTypeOf(TBytes head) {
  for (const TContentType& t : kTypes)
    if (head.size() >= t.HeadBytes && t.Starts(head)) return &t;
  return nullptr;
}

const TContentType* ContentTypeNamed(std::string_view name) {
  for (const TContentType& t : kTypes)
    if (t.Name == name) return &t;
  return nullptr;
}

}  // namespace restovo
