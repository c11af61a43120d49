// The calls to the vendor's web services: where they are, the text and picture fetches,
// and what the update and news answers say. Nothing here blocks the window:
// the fetches run on the online workers.
#pragma once

#include <QString>
#include <QStringList>
#include <QUrl>

namespace restovo {

// The three hosts, as base addresses ("http://127.0.0.1:8470"). An empty host is never
// contacted.
struct TServiceHosts {
  QString MainSite;     // update information, news
  QString SecondSite;   // support pages, unread answers, uploads, install statistics
  QString InfoService;  // advertisements
};

// The reference services on loopback, which the run command starts.
TServiceHosts DefaultServiceHosts();

// Section [Hosts] of Services.ini (beside the program, else in the settings folder), keys
// MainSite, SecondSite and InfoService; a key present and empty switches its services off,
// a missing key keeps the default.
TServiceHosts LoadServiceHosts(const QString& appDir, const QString& configDir);

// An address on a host: empty when the host is empty (that service is off).
QUrl ServiceUrl(const QString& host, const QString& pathAndQuery);
QUrl UpdateInfoUrl(const TServiceHosts& hosts);
QUrl NewsDescriptorUrl(const TServiceHosts& hosts);
// Where the news page is when the descriptor names none.
QUrl DefaultNewsPageUrl(const TServiceHosts& hosts);

// Every call waits at most this long for its answer.
inline constexpr int kServiceTimeoutMs = 15000;

// GET of a text through HttpGet (ServiceHttp.h): the body up to its end or its first zero
// byte, read as UTF-8; empty on any failure (no network, refused, an error status, a
// time-out, a read error). Runs on the calling thread, which it blocks until the answer
// or the time-out: call it on a worker. An empty address gives an empty text at once.
QString HttpGetText(const QUrl& url, int timeoutMs = kServiceTimeoutMs);
// The same GET for any body (a picture): `ok` is false on any failure.
QByteArray HttpGetBytes(const QUrl& url, bool& ok, int timeoutMs = kServiceTimeoutMs);

// Answers that name this text are not believed: no update, no news.
bool IsRefusedReply(const QString& reply);

// What the update service offers. Build stays the program's own unless an update is
// offered ("stopped" 0 with a "build").
struct TUpdateInfo {
  int Build = 0;
  QString BlogUrl;
  QString Url;
  QStringList UpdateInfo;
};
TUpdateInfo ParseUpdateReply(const QString& reply, int ownBuild);

// What the news descriptor announces ([Msg] of an INI text).
struct TNewsInfo {
  QString Url;
  int MsgID = 0;
  QString LangCode;
  bool ShowAll = true;
  int FormWidth = 0;
  int FormHeight = 0;
};
TNewsInfo ParseNewsDescriptor(const QString& reply, const QString& defaultUrl);

}  // namespace restovo
