// One copy of the window per user: the first start listens on a local socket of the user's
// own; a later start hands its image paths to it, which brings its window to the front,
// and then ends.
#pragma once

#include <QObject>
#include <QString>
#include <QStringList>

class QLocalServer;

namespace restovo {

class TSingleInstance final : public QObject {
  Q_OBJECT

 public:
  explicit TSingleInstance(QObject* parent = nullptr);
  ~TSingleInstance() override;

  // The socket of this user: in the runtime folder ($XDG_RUNTIME_DIR, private to the
  // user) when there is one, otherwise in the temporary folder with the user's id.
  static QString ServerName();

  // Asks a running copy to show its window and open `images`. True when one answered;
  // false when none runs (or it did not answer within timeoutMs).
  static bool HandToRunning(const QStringList& images, int timeoutMs = 3000);

  // Starts answering later starts. A socket left behind by a copy that crashed is taken
  // over. False when another copy listens already (it started at the same moment).
  bool Listen();

 signals:
  // A later start asked to be shown, with the images it was given (absolute paths).
  void Activated(const QStringList& images);

 private:
  QLocalServer* Server = nullptr;
};

}  // namespace restovo
