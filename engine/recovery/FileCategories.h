// What kind of file a found record is: pictures, music, films, documents, archives, mail.
#pragma once

#include <string>
#include <vector>

#include "records/TypesDefine.h"

namespace restovo {

// One category: its extensions as "*.bmp|*.dib|..." and the files of the last scan in it.
struct TFilterResult {
  std::string Mask;
  TFileItems Files;
};
using AFilterResult = std::vector<TFilterResult>;

enum TCategory { catImages, catAudios, catVideos, catDocuments, catCompressed, catEmail, catAllFiles, catCount };

// The seven categories, in the order the search box offers them; "All Files" has no mask.
AFilterResult CreateCategories();

// The category a file name belongs to, or -1. The lower-cased extension (dot included)
// must have four characters or more, or be ".rm" or ".7z"; it then counts when a mask
// contains it (without the dot) anywhere, so ".ocx" is a document (inside "*.docx") and
// ".mpe" a video (inside "*.mpeg").
int CategoryOf(const AFilterResult& categories, const std::string& name);

}  // namespace restovo
