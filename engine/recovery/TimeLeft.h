// How long a long job still needs, from how far it got in how long: said only once enough
// of it has run for the figure to mean something.
#pragma once

#include <chrono>
#include <cstdint>

namespace restovo {

class TTimeLeft {
 public:
  using TClock = std::chrono::steady_clock;

  void Start(TClock::time_point now) { Begin = now; }
  // Seconds left when `done` of `total` is done at `now`, at the pace so far; -1 while
  // too little has run (under two seconds, or under 2 % of the work) to tell.
  std::int64_t SecondsLeft(std::int64_t done, std::int64_t total, TClock::time_point now) const {
    if (total <= 0 || done <= 0 || done >= total) return done >= total && total > 0 ? 0 : -1;
    const double elapsed = std::chrono::duration<double>(now - Begin).count();
    const double share = static_cast<double>(done) / static_cast<double>(total);
    if (elapsed < 2.0 || share < 0.02) return -1;
    return static_cast<std::int64_t>(elapsed * (1.0 - share) / share + 0.5);
  }

 private:
  TClock::time_point Begin{};
};

}  // namespace restovo
