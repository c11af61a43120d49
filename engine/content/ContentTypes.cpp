#include "content/ContentTypes.h"

#include <algorithm>
#include <array>
#include <string>

#include "content/ContainerFormats.h"
#include "content/DocumentFormats.h"
#include "content/ImageFormats.h"
#include "content/MediaFormats.h"
#include "content/TextFormats.h"

namespace restovo {

namespace {

constexpr std::uint64_t kMiB = 1024 * 1024;

// Most specific first: the first whose start matches is taken.
constexpr std::array kTypes = {
    TContentType{"JPEG", "jpg", 4, JpegStarts, MeasureJpeg, 512 * kMiB, "jpg jpeg jpe jfif"},
    TContentType{"PNG", "png", 16, PngStarts, MeasurePng, 1024 * kMiB, "png"},
    TContentType{"GIF", "gif", 6, GifStarts, MeasureGif, 256 * kMiB, "gif"},
    TContentType{"BMP", "bmp", 30, BmpStarts, MeasureBmp, 1024 * kMiB, "bmp dib"},
    TContentType{"TIFF", "tif", 8, TiffStarts, MeasureTiff, 2048 * kMiB, "tif tiff cr2 nef arw dng orf rw2"},
    TContentType{"PDF", "pdf", 8, PdfStarts, MeasurePdf, 4096 * kMiB, "pdf"},
    TContentType{"OLE", "ole", 32, CompoundStarts, MeasureCompound, 4096 * kMiB,
                 "doc dot xls xlt ppt pps pot msi msp mst msg ole"},
    TContentType{"WAV", "wav", 16, WavStarts, MeasureRiff, 4096 * kMiB, "wav"},
    TContentType{"AVI", "avi", 16, AviStarts, MeasureRiff, 4096 * kMiB, "avi"},
    TContentType{"WebP", "webp", 16, WebpStarts, MeasureRiff, 256 * kMiB, "webp"},
    TContentType{"HEIF", "heic", 12, HeifStarts, MeasureIsoMedia, 1024 * kMiB, "heic heif hif avif"},
    TContentType{"FLAC", "flac", 8, FlacStarts, MeasureFlac, 2048 * kMiB, "flac"},
    TContentType{"Ogg", "ogg", 27, OggStarts, MeasureOgg, 2048 * kMiB, "ogg oga ogv opus spx"},
    TContentType{"MP4", "mp4", 12, Mp4Starts, MeasureIsoMedia, 64 * 1024 * kMiB, "mp4 m4v mov qt 3gp 3g2 m4a m4b"},
    TContentType{"7z", "7z", 8, SevenZipStarts, MeasureSevenZip, 64 * 1024 * kMiB, "7z"},
    TContentType{"GZIP", "gz", 10, GzipStarts, MeasureGzip, 4096 * kMiB, "gz tgz"},
    TContentType{"SQLite", "sqlite", 16, SqliteStarts, MeasureSqlite, 64 * 1024 * kMiB, "sqlite sqlite3 db"},
    TContentType{"ZIP", "zip", 30, ZipStarts, MeasureZip, 16 * 1024 * kMiB,
                 "zip docx xlsx pptx odt ods odp epub jar apk"},
    TContentType{"RTF", "rtf", 5, RtfStarts, MeasureRtf, 512 * kMiB, "rtf"},
    TContentType{"XML", "xml", 9, XmlStarts, MeasureXml, 256 * kMiB, "xml svg rss plist gpx kml xsl"},
    TContentType{"HTML", "html", 17, HtmlStarts, MeasureHtml, 64 * kMiB, "html htm xhtml"},
    // A frame header is a weak start: last, after every kind with a signature.
    TContentType{"MP3", "mp3", 10, Mp3Starts, MeasureMp3, 1024 * kMiB, "mp3 mp2 mpa"},
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

const TContentType* ContentTypeForName(std::string_view fileName) {
  const std::size_t dot = fileName.rfind('.');
  if (dot == std::string_view::npos || dot + 1 == fileName.size()) return nullptr;
  std::string extension(fileName.substr(dot + 1));
  for (char& c : extension)
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
  for (const TContentType& t : kTypes) {
    for (std::string_view list = t.Extensions; !list.empty();) {
      const std::size_t space = list.find(' ');
      if (list.substr(0, space) == extension) return &t;
      list = space == std::string_view::npos ? std::string_view() : list.substr(space + 1);
    }
  }
  return nullptr;
}

TContentCheck CheckContent(TByteSource& bytes, std::string_view fileName) {
  TContentCheck check;
  TSourceReader reader(bytes);
  const TBytes head = reader.Span(0, static_cast<std::size_t>(std::min<std::uint64_t>(reader.Size(), 64)));
  const TContentType* type = ContentTypeOf(head);
  if (!type) {
    // Named as a kind whose start is not there: other bytes took the file's place.
    if (const TContentType* named = ContentTypeForName(fileName)) {
      check.Checked = true;
      check.Reason = "The file does not begin as a " + std::string(named->Name) + " file does";
    }
    return check;
  }
  check.Checked = true;
  const TContentMeasure m = type->Measure(reader, type->MaxBytes);
  switch (m.Verdict) {
    case TContentVerdict::Whole: {
      // Bytes after the structure's end (a second picture a camera appends, padding) are
      // the file's own: its size says so.
      check.Passed = true;
      const std::uint64_t size = reader.Size();
      check.Exact = m.Length == size;
      if (m.Length < size && size - m.Length < 16) {
        const TBytes tail = reader.Span(m.Length, static_cast<std::size_t>(size - m.Length));
        check.Exact = !tail.empty() && std::all_of(tail.begin(), tail.end(), [](std::byte b) { return b == std::byte{0}; });
      }
      break;
    }
    case TContentVerdict::NotThisType:
      check.Reason = "The file begins as a " + std::string(type->Name) + " file but is none";
      break;
    case TContentVerdict::Truncated:
      check.Reason = "The " + std::string(type->Name) + " data ends before the file's end";
      break;
    case TContentVerdict::Damaged:
      check.Reason = m.Reason;
      break;
  }
  return check;
}

const TContentType* ContentTypeNamed(std::string_view name) {
  for (const TContentType& t : kTypes)
    if (t.Name == name) return &t;
  return nullptr;
}

}  // namespace restovo
