// The engine's hand-over to the main thread for the window: a worker's notification runs
// as a blocking queued call, and the main thread, while it waits for a worker to end,
// keeps running such calls (and repaints) instead of blocking in a join.
#pragma once

#include <QObject>

#include "recovery/ThreadBridge.h"

namespace restovo {

class TQtBridge final : public QObject, public TThreadBridge {
  Q_OBJECT

 public:
  explicit TQtBridge(QObject* parent = nullptr);

  void RunOnMain(const std::function<void()>& fn) override;
  // User input is held back while waiting, so no click can reach records a worker is
  // still writing; paint and timer events go on.
  void WaitServing(const std::function<bool()>& done,
                   std::chrono::milliseconds tick = std::chrono::milliseconds(20)) override;
};

}  // namespace restovo
