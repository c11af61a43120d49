#include "uInstallStatus.h"

#include "ServiceHttp.h"

namespace restovo {

namespace {

// Its parser expects the type exactly as the first product sent it, blank included.
constexpr char kFormContentType[] = "application/x-www-form-urlencoded ";
constexpr int kTransferTimeoutMs = 5000;
// The transfer time-out restarts with every byte; the deadline ends a slow trickle too.
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
  // The answer says nothing the program would act on.
  HttpPost(Address, kFormContentType, Body, {kTransferTimeoutMs, kDeadlineMs});
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
