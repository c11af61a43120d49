#include "Services.h"

#include <QByteArray>
#include <QDesktopServices>
#include <QDir>
#include <QStringList>

#include "IniFile.h"

namespace restovo {

namespace {

const QString ServicesName = QStringLiteral("Services.ini");
const QString Links = QStringLiteral("Links");

// Every address: its key in [Links] and the built-in value, which points at the reference
// services on loopback.
struct TAddressKey {
  const char* Key;
  QString TVendorAddresses::*Field;
  const char* Default;
};

constexpr TAddressKey AddressKeys[] = {
    {"Help", &TVendorAddresses::HelpUrl, "http://127.0.0.1:8470/help/"},
    {"Forum", &TVendorAddresses::ForumUrl, "http://127.0.0.1:8470/forum/"},
    {"Home", &TVendorAddresses::HomeUrl, "http://127.0.0.1:8470/"},
    {"SupportEmail", &TVendorAddresses::SupportEmail, "support@restovo.example"},
    {"Product", &TVendorAddresses::ProductUrl, "http://127.0.0.1:8470/restovo/"},
    {"Facebook", &TVendorAddresses::FacebookPage, "restovo"},
    {"Twitter", &TVendorAddresses::TwitterAccount, "restovo"},
    {"ChineseSite", &TVendorAddresses::ChineseSite, "http://127.0.0.1:8470/zh/"},
    {"Translate", &TVendorAddresses::TranslateUrl, "http://127.0.0.1:8470/translate/"},
    {"Web", &TVendorAddresses::WebAddress, "http://127.0.0.1:8470/"},
};

// The file named "Services.ini" in some letter case in `dir`, the exact spelling first.
QString ServicesFileIn(const QString& dir) {
  if (dir.isEmpty()) return {};
  const QDir folder(dir);
  QString found;
  for (const QString& name : folder.entryList(QDir::Files | QDir::Hidden | QDir::System, QDir::Name)) {
    if (name == ServicesName) return folder.filePath(name);
    if (found.isEmpty() && name.compare(ServicesName, Qt::CaseInsensitive) == 0) found = folder.filePath(name);
  }
  return found;
}

// A value inside a query: everything but the unreserved characters percent-encoded.
QByteArray Encoded(const QString& text) { return QUrl::toPercentEncoding(text); }

QUrl FromEncoded(const QByteArray& url) { return QUrl::fromEncoded(url, QUrl::StrictMode); }

}  // namespace

TVendorAddresses DefaultVendorAddresses() {
  TVendorAddresses addresses;
  for (const TAddressKey& k : AddressKeys) addresses.*k.Field = QString::fromLatin1(k.Default);
  return addresses;
}

QString ServicesIniPath(const QString& appDir, const QString& configDir) {
  const QString beside = ServicesFileIn(appDir);
  if (!beside.isEmpty()) return beside;
  const QString settings = ServicesFileIn(configDir);
  if (!settings.isEmpty() || appDir.isEmpty()) return settings;
  return ServicesFileIn(QDir::cleanPath(appDir + QStringLiteral("/../share/restovo")));
}

TVendorAddresses LoadVendorAddresses(const QString& appDir, const QString& configDir) {
  TVendorAddresses addresses = DefaultVendorAddresses();
  const QString path = ServicesIniPath(appDir, configDir);
  TIniFile ini;
  if (path.isEmpty() || !ini.LoadFromFile(path)) return addresses;
  for (const TAddressKey& k : AddressKeys) {
    const QString key = QString::fromLatin1(k.Key);
    // ReadString keeps an empty value: that is how a link is switched off.
    addresses.*k.Field = ini.ReadString(Links, key, addresses.*k.Field);
  }
  return addresses;
}

QUrl ShareEmailUrl(const TVendorAddresses& addresses) {
  if (addresses.ProductUrl.isEmpty()) return {};
  const QString subject = QStringLiteral(
      "Please Try Restovo -  It will recover your deleted data from your local or removalbe drives!");
  const QString body = QStringLiteral(
                           "<html><body><a href=\"%1\">Please Try Restovo!</a> It will recover your deleted "
                           "data from your local or removalbe drives!</body></html>")
                           .arg(addresses.ProductUrl);
  return FromEncoded("mailto:?subject=" + Encoded(subject) + "&body=" + Encoded(body));
}

QUrl TiebaShareUrl(const TVendorAddresses& addresses) {
  if (addresses.ChineseSite.isEmpty()) return {};
  // Tieba takes the address as it is; only what would end the value is encoded.
  return FromEncoded("https://tieba.baidu.com/f/commit/share/openShareApi?url=" +
                     QUrl::toPercentEncoding(addresses.ChineseSite, ":/?=@!$'()*,;"));
}

QUrl QzoneShareUrl(const TVendorAddresses& addresses) {
  if (addresses.ChineseSite.isEmpty()) return {};
  return FromEncoded("https://sns.qzone.qq.com/cgi-bin/qzshare/cgi_qzshare_onekey?url=" +
                     Encoded(addresses.ChineseSite));
}

QUrl WeiboShareUrl(const TVendorAddresses& addresses) {
  if (addresses.ChineseSite.isEmpty()) return {};
  return FromEncoded("https://service.weibo.com/share/share.php?url=" + Encoded(addresses.ChineseSite));
}

QUrl FacebookShareUrl(const TVendorAddresses& addresses) {
  if (addresses.FacebookPage.isEmpty()) return {};
  return FromEncoded("https://www.facebook.com/plugins/likebox.php?href=" +
                     Encoded(QStringLiteral("https://www.facebook.com/") + addresses.FacebookPage) +
                     "&width=292&height=62&colorscheme=light&show_faces=false&header=false&stream=false"
                     "&show_border=true");
}

QUrl TwitterShareUrl(const TVendorAddresses& addresses) {
  if (addresses.WebAddress.isEmpty() || addresses.TwitterAccount.isEmpty()) return {};
  const QByteArray web = Encoded(addresses.WebAddress);
  return FromEncoded("https://twitter.com/share?original_referer=" + web + "&url=" + web +
                     "&source=tweetbutton&via=" + Encoded(addresses.TwitterAccount) +
                     "&text=Recover%20deleted%20photos,%20documents,%20videos,%20emails%20etc.%20from%20your%20"
                     "local%20or%20removable%20drives%20for%20free.");
}

bool OpenLink(const QString& address) {
  const QString text = address.trimmed();
  if (text.isEmpty()) return false;
  QUrl url(text, QUrl::TolerantMode);
  if (url.scheme().isEmpty()) url = QUrl::fromUserInput(text);
  return OpenLink(url);
}

bool OpenLink(const QUrl& url) {
  if (url.isEmpty() || !url.isValid()) return false;
  return QDesktopServices::openUrl(url);
}

}  // namespace restovo
