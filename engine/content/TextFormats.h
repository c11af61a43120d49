// Text files that close their own structure: RTF and the markup of XML and HTML, each
// measured as a run of text to the end its syntax gives.
#pragma once

#include "content/ContentTypes.h"

namespace restovo {

bool RtfStarts(TBytes head);
// "{\rtf" to the brace that closes that first group, over escaped braces and \bin data;
// the text must stay text on the way.
TContentMeasure MeasureRtf(TSourceReader& bytes, std::uint64_t maxBytes);

bool XmlStarts(TBytes head);
// The declaration, the prolog, then the root element to its closing tag (or its own "/>").
// The root's name tells svg, rss, plist, gpx, kml, xhtml's html.
TContentMeasure MeasureXml(TSourceReader& bytes, std::uint64_t maxBytes);

bool HtmlStarts(TBytes head);
// UTF-8 (or 8-bit) text to the closing </html>; the <title> names the file.
TContentMeasure MeasureHtml(TSourceReader& bytes, std::uint64_t maxBytes);

}  // namespace restovo
