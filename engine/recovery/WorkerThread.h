// A worker thread that runs one body and says when it has returned.
#pragma once

#include <atomic>
#include <functional>
#include <thread>

namespace restovo {

class TWorkerThread {
 public:
  explicit TWorkerThread(std::function<void()> body);
  ~TWorkerThread();  // joins
  TWorkerThread(const TWorkerThread&) = delete;
  TWorkerThread& operator=(const TWorkerThread&) = delete;

  bool Finished() const { return Done.load(std::memory_order_acquire); }
  void Join();

 private:
  std::atomic<bool> Done{false};
  std::thread Thread;
};

}  // namespace restovo
