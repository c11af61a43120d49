#include "Interrupt.h"

#include <cstring>

namespace restovo::cli {

namespace {

volatile std::sig_atomic_t Interrupted = 0;

void OnInterrupt(int) {
  Interrupted = 1;
  std::signal(SIGINT, SIG_DFL);  // a second Ctrl-C is not caught
}

}  // namespace

TInterruptGuard::TInterruptGuard() {
  Interrupted = 0;
  struct sigaction action {};
  action.sa_handler = OnInterrupt;
  sigemptyset(&action.sa_mask);
  sigaction(SIGINT, &action, &Previous);
}

TInterruptGuard::~TInterruptGuard() { sigaction(SIGINT, &Previous, nullptr); }

bool TInterruptGuard::Requested() const { return Interrupted != 0; }

}  // namespace restovo::cli
