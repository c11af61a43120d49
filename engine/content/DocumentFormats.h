// Documents by their content: PDF and the compound files of older Office documents and
// installer packages, measured from their own structure.
#pragma once

#include "content/ContentTypes.h"

namespace restovo {

bool PdfStarts(TBytes head);
// To the "%%EOF" after the last revision: a revision appended later (an incremental
// update) starts right after an "%%EOF" with an object or a cross-reference table. The
// last revision's "startxref" must point at its cross-reference table.
TContentMeasure MeasurePdf(TSourceReader& bytes, std::uint64_t maxBytes);

bool CompoundStarts(TBytes head);
// A compound file (DOC, XLS, PPT, MSI): its header, the sectors of its allocation table
// (the header's and the DIFAT chain's); it ends with the last sector in use. Its directory's
// stream names tell the extension, its SummaryInformation's title names it.
TContentMeasure MeasureCompound(TSourceReader& bytes, std::uint64_t maxBytes);

}  // namespace restovo
