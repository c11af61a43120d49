#include "uUploadFile.h"

#include <QFile>
#include <QFileInfo>
#include <QHttpMultiPart>
#include <QMimeDatabase>
#include <QNetworkRequest>

#include "ServiceHttp.h"

namespace restovo {

TUploadThread::TUploadThread(const QUrl& address, const QString& path, QObject* parent)
    : QThread(parent), Address(address), Path(path) {
  connect(this, &QThread::finished, this, &QObject::deleteLater);
}

void TUploadThread::Launch() { start(QThread::NormalPriority); }

void TUploadThread::run() {
  emit Begun();
  emit Done(PostFile(Address, Path));
}

QString PostFile(const QUrl& address, const QString& path) {
  if (address.isEmpty() || !address.isValid()) return {};
  auto* file = new QFile(path);
  if (!file->open(QIODevice::ReadOnly)) {
    delete file;
    return {};
  }
  auto* multi = new QHttpMultiPart(QHttpMultiPart::FormDataType);
  file->setParent(multi);
  QHttpPart part;
  const QString name = QFileInfo(path).fileName();
  // The name goes in quotes; a quote or line break in it would end the header early.
  QString quoted = name;
  quoted.replace(QLatin1Char('"'), QLatin1Char('_')).replace(QLatin1Char('\r'), QLatin1Char('_'))
      .replace(QLatin1Char('\n'), QLatin1Char('_'));
  part.setHeader(QNetworkRequest::ContentDispositionHeader,
                 QStringLiteral("form-data; name=\"file\"; filename=\"%1\"").arg(quoted).toUtf8());
  part.setHeader(QNetworkRequest::ContentTypeHeader,
                 QMimeDatabase().mimeTypeForFile(path, QMimeDatabase::MatchExtension).name());
  part.setBodyDevice(file);
  multi->append(part);
  const THttpAnswer answer =
      HttpPostMultipart(address, multi, {TUploadThread::kTransferTimeoutMs, TUploadThread::kDeadlineMs});
  return answer.Ok ? QString::fromUtf8(answer.Body) : QString();
}

}  // namespace restovo
