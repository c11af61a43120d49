// Ctrl-C handling for long commands: the first Ctrl-C asks the work to stop, a second one
// ends the program at once.
#pragma once

#include <csignal>

namespace restovo::cli {

class TInterruptGuard {
 public:
  TInterruptGuard();
  ~TInterruptGuard();
  TInterruptGuard(const TInterruptGuard&) = delete;
  TInterruptGuard& operator=(const TInterruptGuard&) = delete;
  bool Requested() const;

 private:
  struct sigaction Previous {};
};

}  // namespace restovo::cli
