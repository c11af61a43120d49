// What a restore writes: the records asked for, turned into the top records to hand to a
// restore and the set that limits what their folders restore.
#pragma once

#include <cstdint>
#include <memory>
#include <string>

#include "recovery/RestoreJob.h"
#include "recovery/Wildcard.h"

namespace restovo {

struct TRestoreSelection {
  TFileItems Top;                          // handed to the restore, in tree order
  std::shared_ptr<const TRecordSet> Only;  // null: folders restore everything below them
  std::int64_t Files = 0;                  // deleted files that will be written
};

// The path below the volume root: "DCIM/100CANON/IMG_0001.JPG".
std::string RelativePath(const TFileInfo* item);

// Every deleted file below root whose name matches and whose path lies below prefix
// ("DCIM/100CANON"; empty for all), rated Good when onlyGood is set, with the folders above
// it so the tree is kept.
TRestoreSelection SelectMatching(const TFileInfo* root, const TNamePatterns& patterns, const std::string& prefix,
                                 bool onlyGood = false);

// The records a person picked (ticked or selected rows), files and folders. A record that
// lies below a picked folder is left to that folder, so it is written once.
TRestoreSelection SelectPicked(const TFileItems& picked);

}  // namespace restovo
