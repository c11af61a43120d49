// Files that hold others or keep their own page structure: ZIP (and the formats built on
// it) and SQLite databases, each measured from its own structure.
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

}  // namespace restovo
