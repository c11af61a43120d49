// Sound, video and the pictures kept in their containers: ISO base media (MP4, MOV, 3GP,
// M4A, HEIC, AVIF), MP3, FLAC and Ogg, each measured from its own structure.
#pragma once

#include "content/ContentTypes.h"

namespace restovo {

// ISO base media with a HEIF brand (HEIC, AVIF), and with any other brand (MP4, MOV, ...).
bool HeifStarts(TBytes head);
bool Mp4Starts(TBytes head);
// The top-level boxes from "ftyp": the file ends after the last of them once the movie's
// header ("moov", or "meta" for a HEIF picture) and its media data were both there. The
// brands tell the extension: mp4, m4v, mov, 3gp, m4a, heic, heif, avif.
TContentMeasure MeasureIsoMedia(TSourceReader& bytes, std::uint64_t maxBytes);

}  // namespace restovo
