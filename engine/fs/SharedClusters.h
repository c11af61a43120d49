// Clusters that more than one deleted file claims: at most one of them can still hold its
// own bytes there, so none of them can be rated as intact on the strength of the table or
// bitmap alone.
#pragma once

#include <cstdint>
#include <vector>

namespace restovo {

// Clusters [From, To) claimed by one owner (an index the caller chose).
struct TClaimRun {
  std::int64_t From = 0;
  std::int64_t To = 0;
  std::uint32_t Owner = 0;
};

// For each owner below `owners`, whether one of its runs shares a cluster with another run
// (of another owner, or another of its own). One sort of the runs; memory grows with them.
std::vector<bool> FindSharedOwners(std::vector<TClaimRun> runs, std::size_t owners);

}  // namespace restovo
