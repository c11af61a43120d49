#include "recovery/TimeLeft.h"

#include <gtest/gtest.h>

namespace restovo {
namespace {

TEST(TimeLeft, SaysNothingUntilEnoughHasRunThenFollowsThePace) {
  using namespace std::chrono_literals;
  const auto t0 = TTimeLeft::TClock::time_point{} + 100s;
  TTimeLeft left;
  left.Start(t0);
  struct Case {
    const char* what;
    std::chrono::milliseconds elapsed;
    std::int64_t done, total, seconds;
  } cases[] = {
      {"too soon", 1500ms, 50, 100, -1},
      {"too little done", 10s, 1, 100, -1},
      {"a quarter in 10 s", 10s, 25, 100, 30},
      {"half in a minute", 60s, 500, 1000, 60},
      {"done", 60s, 100, 100, 0},
      {"no total", 60s, 5, 0, -1},
  };
  for (const Case& c : cases) EXPECT_EQ(left.SecondsLeft(c.done, c.total, t0 + c.elapsed), c.seconds) << c.what;
}

}  // namespace
}  // namespace restovo
