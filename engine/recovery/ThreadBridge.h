// How a worker hands a notification to the main thread and waits for it to have run,
// and how the main thread waits for a worker while still serving those hand-overs.
#pragma once

#include <chrono>
#include <condition_variable>
#include <deque>
#include <functional>
#include <mutex>
#include <thread>

namespace restovo {

class TThreadBridge {
 public:
  virtual ~TThreadBridge() = default;
  // Runs fn on the main thread and returns once it has run. Called on the main thread,
  // it runs fn at once.
  virtual void RunOnMain(const std::function<void()>& fn) = 0;
  // On the main thread: returns when done() is true, running hand-overs meanwhile. done is
  // checked after every hand-over and at least every `tick`.
  virtual void WaitServing(const std::function<bool()>& done,
                           std::chrono::milliseconds tick = std::chrono::milliseconds(20)) = 0;
};

// A hand-over queue for front ends without an event loop of their own (the terminal, tests).
// The thread that creates it is the main thread.
class TQueueBridge final : public TThreadBridge {
 public:
  TQueueBridge();
  void RunOnMain(const std::function<void()>& fn) override;
  void WaitServing(const std::function<bool()>& done,
                   std::chrono::milliseconds tick = std::chrono::milliseconds(20)) override;

 private:
  struct TTask {
    const std::function<void()>* Fn;
    bool Done = false;
  };
  std::thread::id MainId;
  std::mutex Lock;
  std::condition_variable Changed;
  std::deque<TTask*> Queue;
};

}  // namespace restovo
