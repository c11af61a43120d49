// Sends one file of the user's to the support service, on a thread of its own.
#pragma once

#include <QString>
#include <QThread>
#include <QUrl>

namespace restovo {

// A multipart/form-data POST with one part "file" (the file's name and bytes, typed by
// its extension). Begun and Done reach the main thread queued; the thread deletes itself
// after Done.
class TUploadThread final : public QThread {
  Q_OBJECT

 public:
  static constexpr int kTransferTimeoutMs = 10000;
  // A slow but moving upload of the largest file allowed still ends within this.
  static constexpr int kDeadlineMs = 120000;

  TUploadThread(const QUrl& address, const QString& path, QObject* parent = nullptr);
  void Launch();

 signals:
  void Begun();
  // The answer's body; empty when the upload failed (no answer, an error status, the file
  // could not be read).
  void Done(const QString& reply);

 protected:
  void run() override;

 private:
  QUrl Address;
  QString Path;
};

// The answer to a POST of path to address, as TUploadThread sends it; runs on the calling
// thread until the answer or the time-out.
QString PostFile(const QUrl& address, const QString& path);

}  // namespace restovo
