#include "fs/SharedClusters.h"

#include <algorithm>

namespace restovo {

std::vector<bool> FindSharedOwners(std::vector<TClaimRun> runs, std::size_t owners) {
  std::vector<bool> shared(owners, false);
  runs.erase(std::remove_if(runs.begin(), runs.end(), [&](const TClaimRun& r) { return r.From >= r.To || r.Owner >= owners; }),
             runs.end());
  std::sort(runs.begin(), runs.end(), [](const TClaimRun& a, const TClaimRun& b) { return a.From < b.From; });
  // In order of their starts, a run that starts before the furthest end so far overlaps the
  // run that reaches that end; every run that overlaps another is met this way, either as
  // the later run or as the one that reaches furthest.
  std::int64_t furthest = INT64_MIN;
  std::uint32_t reaching = 0;
  for (const TClaimRun& r : runs) {
    if (r.From < furthest) {
      shared[r.Owner] = true;
      shared[reaching] = true;
    }
    if (r.To > furthest) {
      furthest = r.To;
      reaching = r.Owner;
    }
  }
  return shared;
}

}  // namespace restovo
