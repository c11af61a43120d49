// Files that hold others or keep their own page structure: ZIP (and the formats built on
// it), GZIP, 7z, SQLite databases and RIFF (WAV, AVI, WebP), each measured from its own
// structure.
#pragma once

#include "content/ContentTypes.h"

namespace restovo {

bool ZipStarts(TBytes head);
// Local entries, the central directory and its end record; what the members say tells the
// formats built on ZIP (docx, xlsx, pptx, odt, ods, odp, epub, jar, apk).
TContentMeasure MeasureZip(TSourceReader& bytes, std::uint64_t maxBytes);

bool SqliteStarts(TBytes head);
// Page size times the page count the header keeps, when the header says it is current.
TContentMeasure MeasureSqlite(TSourceReader& bytes, std::uint64_t maxBytes);

bool WavStarts(TBytes head);
bool AviStarts(TBytes head);
bool WebpStarts(TBytes head);
// The size in the RIFF header, for the forms it holds: WAV sound, AVI video, WebP pictures.
TContentMeasure MeasureRiff(TSourceReader& bytes, std::uint64_t maxBytes);

bool SevenZipStarts(TBytes head);
// The signature header (its CRC checked) points at the header after the packed data: the
// archive ends with it, and its CRC is checked too.
TContentMeasure MeasureSevenZip(TSourceReader& bytes, std::uint64_t maxBytes);

bool GzipStarts(TBytes head);
// Each member's header, its deflate stream inflated to the last block, then the CRC-32 and
// the size of what it unpacks to, both checked; members one after the other. The name the
// header keeps names the file.
TContentMeasure MeasureGzip(TSourceReader& bytes, std::uint64_t maxBytes);

}  // namespace restovo
