#include "recovery/WorkerThread.h"

namespace restovo {

TWorkerThread::TWorkerThread(std::function<void()> body)
    : Thread([this, body = std::move(body)] {
        body();
        Done.store(true, std::memory_order_release);
      }) {}

TWorkerThread::~TWorkerThread() { Join(); }

void TWorkerThread::Join() {
  if (Thread.joinable()) Thread.join();
}

}  // namespace restovo
