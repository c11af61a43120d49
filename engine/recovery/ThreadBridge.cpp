#include "recovery/ThreadBridge.h"

namespace restovo {

TQueueBridge::TQueueBridge() : MainId(std::this_thread::get_id()) {}

void TQueueBridge::RunOnMain(const std::function<void()>& fn) {
  if (std::this_thread::get_id() == MainId) {
    fn();
    return;
  }
  TTask task{&fn};
  std::unique_lock lock(Lock);
  Queue.push_back(&task);
  Changed.notify_all();
  Changed.wait(lock, [&] { return task.Done; });
}

void TQueueBridge::WaitServing(const std::function<bool()>& done, std::chrono::milliseconds tick) {
  std::unique_lock lock(Lock);
  while (true) {
    while (!Queue.empty()) {
      TTask* task = Queue.front();
      Queue.pop_front();
      lock.unlock();
      (*task->Fn)();
      lock.lock();
      task->Done = true;
      Changed.notify_all();
    }
    lock.unlock();
    if (done()) return;
    lock.lock();
    if (Queue.empty()) Changed.wait_for(lock, tick);
  }
}

}  // namespace restovo
