// Documents by their content: PDF, measured from its own structure.
#pragma once

#include "content/ContentTypes.h"

namespace restovo {

bool PdfStarts(TBytes head);
// To the "%%EOF" after the last revision: a revision appended later (an incremental
// update) starts right after an "%%EOF" with an object or a cross-reference table. The
// last revision's "startxref" must point at its cross-reference table.
TContentMeasure MeasurePdf(TSourceReader& bytes, std::uint64_t maxBytes);

}  // namespace restovo
