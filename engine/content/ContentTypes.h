// The kinds of file the deep scan knows by their content: for each, how its start is told
// and how its length is found from its own structure, in one table.
#pragma once

#include <cstdint>
#include <span>
#include <string>
#include <string_view>

#include "content/ByteSource.h"

namespace restovo {

enum class TContentVerdict : std::uint8_t {
  NotThisType,  // the start only looked like one: no file of this kind is there
  Whole,        // the structure runs to its end, every check held
  Damaged,      // the structure is there, but a check failed: Reason says which
  Truncated,    // the bytes end (or cannot be read) before the file's end
};

// "whole", "damaged", "truncated" (or "none" for NotThisType), as the terminal's JSON says it.
const char* ContentVerdictText(TContentVerdict verdict);

struct TContentMeasure {
  TContentVerdict Verdict = TContentVerdict::NotThisType;
  // The file's length: to its end when Whole or Damaged (as far as the structure could be
  // followed), all the bytes there were when Truncated.
  std::uint64_t Length = 0;
  std::string Reason;     // what failed, in words a person understands
  std::string Extension;  // a more precise one than the type's, where the content tells
  // A name the content gives the file, without extension: a photo's time and camera
  // ("2024-06-15 10.00.00 Canon EOS 80D"), a song's or a document's title, the name a
  // GZIP member was packed from; empty when it gives none.
  std::string Title;
};

struct TContentType {
  std::string_view Name;       // "JPEG"
  std::string_view Extension;  // "jpg"
  std::size_t HeadBytes;       // how many first bytes Starts needs
  // Whether a file of this kind may start with these bytes (a cheap test, run on every
  // candidate place).
  bool (*Starts)(TBytes head);
  // Follows the structure from the first byte; never reads past maxBytes.
  TContentMeasure (*Measure)(TSourceReader& bytes, std::uint64_t maxBytes);
  // The longest file of this kind the scan follows: a bound on work for a damaged file,
  // not a guess at its size.
  std::uint64_t MaxBytes;
  // The extensions files of this kind are named with, space-separated, in lower case.
  std::string_view Extensions;
};

std::span<const TContentType> ContentTypes();
// The first type whose start matches, or nullptr.
const TContentType* ContentTypeOf(TBytes head);
const TContentType* ContentTypeNamed(std::string_view name);
// The kind a file named so should be, or nullptr for an extension no type knows.
const TContentType* ContentTypeForName(std::string_view fileName);

// What the content of a file says of it, held against its name.
struct TContentCheck {
  bool Checked = false;  // a type knows it, by its content or by its name
  bool Passed = false;   // its structure holds to its end
  // Passed, and its structure ends where the file does (or only zeros follow, a writer's
  // padding): the bytes are that file's, not the start of a longer one.
  bool Exact = false;
  std::string Reason;    // why it did not pass
};
// Checks the bytes of a file named fileName: the kind its first bytes start, else the kind
// its name says it is. A file of a kind no parser knows is not checked.
TContentCheck CheckContent(TByteSource& bytes, std::string_view fileName);

}  // namespace restovo
