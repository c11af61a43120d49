// The one report of an installation to the vendor: which product and version runs under
// which installation identity. Sent once when the version changed; the answer and any
// failure are of no interest to the user, so neither is shown.
#pragma once

#include <QByteArray>
#include <QString>
#include <QThread>
#include <QUrl>

#include "WebServices.h"

namespace restovo {

// Where the report goes: on the second site; empty when that site is off.
QUrl InstallStatusUrl(const TServiceHosts& hosts);

// The form body: product_ver, product_id and gu_id in this order, names and values
// percent-encoded (a '+' or a space in a value stays what it is).
QByteArray InstallStatusBody(int productId, const QString& version, const QString& installId);

class TPostInstallStatus final : public QThread {
  Q_OBJECT

 public:
  TPostInstallStatus(const QUrl& address, const QByteArray& body, QObject* parent = nullptr);

 protected:
  void run() override;

 private:
  QUrl Address;
  QByteArray Body;
};

// Sends the report on a worker of its own, which deletes itself when done. Returns that
// worker so that a caller may follow it (QPointer), or nullptr when the second site is off
// and nothing is sent.
QThread* PostInstallStatus(const TServiceHosts& hosts, int productId, const QString& version,
                           const QString& installId);

}  // namespace restovo
