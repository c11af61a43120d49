#include "uUploadFile.h"

#include <QEventLoop>
#include <QFile>
#include <QFileInfo>
#include <QHttpMultiPart>
#include <QMimeDatabase>
#include <QNetworkAccessManager>
#include <QNetworkReply>
#include <QNetworkRequest>
#include <QTimer>

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
  QNetworkAccessManager manager;
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

  QNetworkRequest request(address);
  request.setHeader(QNetworkRequest::UserAgentHeader, QString::fromLatin1(TUploadThread::kUserAgent));
  request.setAttribute(QNetworkRequest::CacheLoadControlAttribute, QNetworkRequest::AlwaysNetwork);
  request.setAttribute(QNetworkRequest::CacheSaveControlAttribute, false);
  request.setTransferTimeout(TUploadThread::kTransferTimeoutMs);
  QNetworkReply* reply = manager.post(request, multi);
  multi->setParent(reply);
  QEventLoop loop;
  QObject::connect(reply, &QNetworkReply::finished, &loop, &QEventLoop::quit);
  QTimer deadline;
  deadline.setSingleShot(true);
  QObject::connect(&deadline, &QTimer::timeout, reply, &QNetworkReply::abort);
  deadline.start(TUploadThread::kDeadlineMs);
  if (!reply->isFinished()) loop.exec();
  QString text;
  if (reply->error() == QNetworkReply::NoError) text = QString::fromUtf8(reply->readAll());
  delete reply;
  return text;
}

}  // namespace restovo
