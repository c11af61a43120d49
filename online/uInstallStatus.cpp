#include "uInstallStatus.h"

#include <QEventLoop>
#include <QNetworkAccessManager>
#include <QNetworkReply>
#include <QNetworkRequest>
#include <QTimer>

namespace restovo {

namespace {

// The statistics service tells products apart by the browser they claim to be.
constexpr char kUserAgent[] = "Mozilla/4.0 (compatible; MSIE 6.0; Windows NT 5.0; Maxthon)";
// Its parser expects the type exactly as the first product sent it, blank included.
constexpr char kFormContentType[] = "application/x-www-form-urlencoded ";
constexpr int kTransferTimeoutMs = 5000;
constexpr int kDeadlineMs = 15000;

QByteArray Field(const char* name, const QString& value) {
  return QUrl::toPercentEncoding(QString::fromLatin1(name)) + '=' + QUrl::toPercentEncoding(value);
}

}  // namespace

QUrl InstallStatusUrl(const TServiceHosts& hosts) {
  return ServiceUrl(hosts.SecondSite, QStringLiteral("/install_statistics/index.php?p=install_statistics"));
}

QByteArray InstallStatusBody(int productId, const QString& version, const QString& installId) {
  return Field("product_ver", version) + '&' + Field("product_id", QString::number(productId)) + '&' +
         Field("gu_id", installId);
}

TPostInstallStatus::TPostInstallStatus(const QUrl& address, const QByteArray& body, QObject* parent)
    : QThread(parent), Address(address), Body(body) {
  connect(this, &QThread::finished, this, &QObject::deleteLater);
}

void TPostInstallStatus::run() {
  QNetworkAccessManager manager;
  QNetworkRequest request(Address);
  request.setRawHeader("Content-Type", kFormContentType);
  request.setRawHeader("User-Agent", kUserAgent);
  request.setAttribute(QNetworkRequest::CacheLoadControlAttribute, QNetworkRequest::AlwaysNetwork);
  request.setAttribute(QNetworkRequest::CacheSaveControlAttribute, false);
  request.setTransferTimeout(kTransferTimeoutMs);
  QNetworkReply* reply = manager.post(request, Body);
  QEventLoop loop;
  QObject::connect(reply, &QNetworkReply::finished, &loop, &QEventLoop::quit);
  // The transfer time-out restarts with every byte; the deadline ends a slow trickle too.
  QTimer deadline;
  deadline.setSingleShot(true);
  QObject::connect(&deadline, &QTimer::timeout, reply, &QNetworkReply::abort);
  deadline.start(kDeadlineMs);
  if (!reply->isFinished()) loop.exec();
  delete reply;
}

QThread* PostInstallStatus(const TServiceHosts& hosts, int productId, const QString& version,
                           const QString& installId) {
  const QUrl address = InstallStatusUrl(hosts);
  if (address.isEmpty()) return nullptr;
  auto* worker = new TPostInstallStatus(address, InstallStatusBody(productId, version, installId));
  worker->start(QThread::LowestPriority);
  return worker;
}

}  // namespace restovo
