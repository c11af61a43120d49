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

bool Mp3Starts(TBytes head);
// An ID3v2 tag, MPEG audio frames one after the other (each header's bit rate, sample rate
// and padding give its length) and an ID3v1 tag. An encoder's info frame counts the frames
// and their bytes: a stream that ends before them is cut off or broken. The tag's title
// names the file.
TContentMeasure MeasureMp3(TSourceReader& bytes, std::uint64_t maxBytes);

bool FlacStarts(TBytes head);
// "fLaC", the metadata blocks to the one marked last, then the frames to the last sample
// STREAMINFO counts: each frame's header is checked by its CRC-8, its subframes are walked
// bit by bit to its end and its bytes checked by the CRC-16 there. The Vorbis comment's
// TITLE names the file.
TContentMeasure MeasureFlac(TSourceReader& bytes, std::uint64_t maxBytes);

bool OggStarts(TBytes head);
// Pages from a stream's first one, each checked by its CRC, to the page that ends the last
// stream begun. The first stream tells the extension (ogg, opus, ogv, oga, spx), its
// comment's TITLE names the file.
TContentMeasure MeasureOgg(TSourceReader& bytes, std::uint64_t maxBytes);

}  // namespace restovo
