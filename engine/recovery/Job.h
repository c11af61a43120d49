// What a scan and a restore have in common: one drive, a stop flag any thread may set,
// a worker thread or the calling thread, and a closing event sent once.
#pragma once

#include <atomic>
#include <functional>
#include <memory>

#include "recovery/WorkerThread.h"

namespace restovo {

class TDiskObject;
class TRecoveryHelper;

class TJob {
 public:
  TJob(const TJob&) = delete;
  TJob& operator=(const TJob&) = delete;

  // Any thread: the job ends at its next check.
  void RequestStop() { StopFlag.store(true, std::memory_order_release); }
  bool StopRequested() const { return StopFlag.load(std::memory_order_acquire); }
  // The worker has returned (true at once for a job never started on one).
  bool Finished() const { return !Worker || Worker->Finished(); }
  void Join() {
    if (Worker) Worker->Join();
  }
  // Whether the job's closing event has been sent.
  bool Ended() const { return EndSent.load(std::memory_order_acquire); }

  TDiskObject* Disk() const { return Drive; }

 protected:
  TJob(TRecoveryHelper& owner, TDiskObject* disk) : Owner(owner), Drive(disk) {}
  // A derived job joins in its own destructor, while the members its body uses still exist.
  ~TJob() { Join(); }

  void StartWorker(std::function<void()> body) { Worker = std::make_unique<TWorkerThread>(std::move(body)); }
  void MarkEnded() { EndSent.store(true, std::memory_order_release); }

  TRecoveryHelper& Owner;
  TDiskObject* const Drive;
  std::atomic<bool> StopFlag{false};

 private:
  std::atomic<bool> EndSent{false};
  std::unique_ptr<TWorkerThread> Worker;
};

}  // namespace restovo
