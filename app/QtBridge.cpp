#include "QtBridge.h"

#include <QCoreApplication>
#include <QEventLoop>
#include <QThread>
#include <QTimer>

namespace restovo {

TQtBridge::TQtBridge(QObject* parent) : QObject(parent) {}

void TQtBridge::RunOnMain(const std::function<void()>& fn) {
  if (QThread::currentThread() == thread()) {
    fn();
    return;
  }
  QMetaObject::invokeMethod(this, [&fn] { fn(); }, Qt::BlockingQueuedConnection);
}

void TQtBridge::WaitServing(const std::function<bool()>& done, std::chrono::milliseconds tick) {
  if (done()) return;
  QEventLoop loop;
  QTimer timer;
  // Hand-overs arrive as events of this loop; the timer notices the end in between.
  timer.setInterval(static_cast<int>(std::min<std::chrono::milliseconds::rep>(tick.count(), 5)));
  QObject::connect(&timer, &QTimer::timeout, &loop, [&] {
    if (done()) loop.quit();
  });
  timer.start();
  loop.exec(QEventLoop::ExcludeUserInputEvents);
}

}  // namespace restovo
