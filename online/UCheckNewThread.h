// The two background fetches of the start: the update check and the news descriptor. Each
// runs on a thread of its own, hands its result to the main thread with a queued signal
// and then deletes itself; the window never waits for one. A thread still running when
// the program ends is not waited for.
#pragma once

#include <QThread>
#include <QUrl>

#include "WebServices.h"

namespace restovo {

class TCheckUpdate final : public QThread {
  Q_OBJECT

 public:
  // ownBuild: the program's build number, kept unless the service offers another.
  TCheckUpdate(const QUrl& address, int ownBuild, QObject* parent = nullptr);
  // Starts at the lowest priority; the thread deletes itself after Done.
  void Launch();

 signals:
  // On the main thread (queued).
  void Done(const restovo::TUpdateInfo& info);

 protected:
  void run() override;

 private:
  QUrl Address;
  int OwnBuild;
};

class TGetNews final : public QThread {
  Q_OBJECT

 public:
  TGetNews(const QUrl& address, const QUrl& defaultPage, QObject* parent = nullptr);
  void Launch();

 signals:
  void Done(const restovo::TNewsInfo& info);

 protected:
  void run() override;

 private:
  QUrl Address;
  QUrl DefaultPage;
};

}  // namespace restovo

Q_DECLARE_METATYPE(restovo::TUpdateInfo)
Q_DECLARE_METATYPE(restovo::TNewsInfo)
