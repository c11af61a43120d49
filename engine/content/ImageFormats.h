// Pictures by their content: JPEG, PNG, GIF, BMP and TIFF with the camera raw formats built
// on it, each measured from its own structure.
#pragma once

#include "content/ContentTypes.h"

namespace restovo {

bool JpegStarts(TBytes head);
// Markers and segment lengths up to the EOI after the last scan; segments are passed over by
// their length, so an EXIF thumbnail's own EOI does not end the picture.
TContentMeasure MeasureJpeg(TSourceReader& bytes, std::uint64_t maxBytes);

bool PngStarts(TBytes head);
// Chunks from IHDR to IEND, each chunk's CRC checked.
TContentMeasure MeasurePng(TSourceReader& bytes, std::uint64_t maxBytes);

bool GifStarts(TBytes head);
// Color tables, extension and image blocks to the trailer.
TContentMeasure MeasureGif(TSourceReader& bytes, std::uint64_t maxBytes);

bool BmpStarts(TBytes head);
// The size in the file header, checked against the pixel array the info header describes.
TContentMeasure MeasureBmp(TSourceReader& bytes, std::uint64_t maxBytes);

bool TiffStarts(TBytes head);
// The end of the last thing the directories point at: directories, out-of-line values,
// strips, tiles and embedded previews, over the chain of directories and those below
// (EXIF, sub-images). The camera raw formats built on TIFF are told by their headers and
// their makers: cr2, nef, arw, dng, orf, rw2.
TContentMeasure MeasureTiff(TSourceReader& bytes, std::uint64_t maxBytes);

}  // namespace restovo
