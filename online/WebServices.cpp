#include "WebServices.h"

#include <QJsonDocument>
#include <QJsonObject>
#include <QJsonValue>
#include <utility>

#include "IniFile.h"
#include "ServiceHttp.h"
#include "Services.h"

namespace restovo {

namespace {

const QString kDefaultHost = QStringLiteral("http://127.0.0.1:8470");

}  // namespace

TServiceHosts DefaultServiceHosts() { return {kDefaultHost, kDefaultHost, kDefaultHost}; }

TServiceHosts LoadServiceHosts(const QString& appDir, const QString& configDir) {
  TServiceHosts hosts = DefaultServiceHosts();
  const QString file = ServicesIniPath(appDir, configDir);
  if (file.isEmpty()) return hosts;
  TIniFile ini;
  if (!ini.LoadFromFile(file)) return hosts;
  hosts.MainSite = ini.ReadString(u"Hosts", u"MainSite", hosts.MainSite).trimmed();
  hosts.SecondSite = ini.ReadString(u"Hosts", u"SecondSite", hosts.SecondSite).trimmed();
  hosts.InfoService = ini.ReadString(u"Hosts", u"InfoService", hosts.InfoService).trimmed();
  return hosts;
}

QUrl ServiceUrl(const QString& host, const QString& pathAndQuery) {
  QString base = host.trimmed();
  if (base.isEmpty()) return {};
  while (base.endsWith(QLatin1Char('/'))) base.chop(1);
  return QUrl(base + pathAndQuery);
}

QUrl UpdateInfoUrl(const TServiceHosts& hosts) {
  return ServiceUrl(hosts.MainSite, QStringLiteral("/software_update/getinfo.php?p_id=3"));
}

QUrl NewsDescriptorUrl(const TServiceHosts& hosts) {
  return ServiceUrl(hosts.MainSite, QStringLiteral("/news/kplinfo.htm"));
}

QUrl DefaultNewsPageUrl(const TServiceHosts& hosts) {
  return ServiceUrl(hosts.MainSite, QStringLiteral("/news/msg.html"));
}

QByteArray HttpGetBytes(const QUrl& url, bool& ok, int timeoutMs) {
  THttpAnswer answer = HttpGet(url, {timeoutMs, timeoutMs});
  ok = answer.Ok;
  return std::move(answer.Body);
}

QString HttpGetText(const QUrl& url, int timeoutMs) {
  bool ok = false;
  QByteArray body = HttpGetBytes(url, ok, timeoutMs);
  if (const qsizetype zero = body.indexOf('\0'); zero >= 0) body.truncate(zero);
  return QString::fromUtf8(body);
}

bool IsRefusedReply(const QString& reply) { return reply.contains(QStringLiteral("Malwarebytes")); }

TUpdateInfo ParseUpdateReply(const QString& reply, int ownBuild) {
  TUpdateInfo info;
  info.Build = ownBuild;
  if (reply.isEmpty() || IsRefusedReply(reply)) return info;
  const QJsonDocument doc = QJsonDocument::fromJson(reply.toUtf8());
  if (!doc.isObject()) return info;
  const QJsonObject o = doc.object();
  // Members are read in order; a missing one ends the reading with what was read before.
  if (!o.contains(QStringLiteral("stopped"))) return info;
  if (o.value(QStringLiteral("stopped")).toInt(-1) == 0) {
    if (!o.contains(QStringLiteral("build"))) return info;
    info.Build = o.value(QStringLiteral("build")).toInt(ownBuild);
  }
  if (!o.contains(QStringLiteral("blog_url"))) return info;
  info.BlogUrl = o.value(QStringLiteral("blog_url")).toString();
  if (!o.contains(QStringLiteral("url"))) return info;
  info.Url = o.value(QStringLiteral("url")).toString();
  if (!o.contains(QStringLiteral("update_info"))) return info;
  info.UpdateInfo = o.value(QStringLiteral("update_info")).toString().split(QLatin1Char('\n'));
  return info;
}

TNewsInfo ParseNewsDescriptor(const QString& reply, const QString& defaultUrl) {
  TNewsInfo info;
  info.Url = defaultUrl;
  if (reply.isEmpty() || IsRefusedReply(reply)) return info;
  // Read from memory with the program's one INI reader.
  TIniFile ini;
  ini.LoadFromText(reply);
  info.MsgID = ini.ReadInteger(u"Msg", u"MsgID", 0);
  info.ShowAll = ini.ReadInteger(u"Msg", u"ShowAll", 1) == 1;
  info.Url = ini.ReadString(u"Msg", u"Url", defaultUrl);
  info.FormWidth = ini.ReadInteger(u"Msg", u"FormWidth", 0);
  info.FormHeight = ini.ReadInteger(u"Msg", u"FormHeight", 0);
  info.LangCode = ini.ReadString(u"Msg", u"LangCode", QString());
  return info;
}

}  // namespace restovo
