#include "Services.h"

#include "Multipart.h"

#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QHostAddress>
#include <QHttpServerRequest>
#include <QHttpServerResponder>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QMetaEnum>
#include <QTcpSocket>
#include <QUrlQuery>

#include <algorithm>
#include <cstdio>

namespace {

using Status = QHttpServerResponse::StatusCode;

constexpr auto DateTimeFormat = "yyyy-MM-dd HH:mm:ss";

QHttpServerResponse Dynamic(Status status, const QByteArray &mimeType, const QByteArray &body) {
  QHttpServerResponse response(mimeType, body, status);
  response.addHeader("Cache-Control", "no-store");
  return response;
}

QHttpServerResponse Text(Status status, const QByteArray &body) {
  return Dynamic(status, "text/plain; charset=utf-8", body);
}

QHttpServerResponse Json(const QByteArray &body) {
  return Dynamic(Status::Ok, "application/json", body);
}

QHttpServerResponse NotFound() { return Text(Status::NotFound, "not found\n"); }

QHttpServerResponse MethodNotAllowed(const QByteArray &allowed) {
  QHttpServerResponse response = Text(Status::MethodNotAllowed, "method not allowed\n");
  response.addHeader("Allow", allowed);
  return response;
}

QByteArray ContentType(const QString &fileName) {
  static const QHash<QString, QByteArray> types = {
      {"html", "text/html; charset=utf-8"}, {"htm", "text/html; charset=utf-8"},
      {"css", "text/css; charset=utf-8"},   {"png", "image/png"},
      {"jpg", "image/jpeg"},                {"jpeg", "image/jpeg"},
      {"svg", "image/svg+xml"},             {"txt", "text/plain; charset=utf-8"},
      {"json", "application/json"},
  };
  return types.value(QFileInfo(fileName).suffix().toLower(), "application/octet-stream");
}

std::optional<QByteArray> ReadFile(const QString &path) {
  QFile file(path);
  if (!file.open(QIODevice::ReadOnly))
    return std::nullopt;
  return file.readAll();
}

QByteArray HeaderValue(const QHttpServerRequest &request, const QByteArray &name) {
  for (const auto &[key, value] : request.headers())
    if (key.compare(name, Qt::CaseInsensitive) == 0)
      return value;
  return {};
}

// Keeps a client's file name readable but harmless: no folders, no hidden files, ASCII only.
QString SanitizedFileName(const QByteArray &original) {
  QString name = QString::fromUtf8(original);
  name = name.mid(qMax(name.lastIndexOf('/'), name.lastIndexOf('\\')) + 1);
  QString result;
  for (const QChar c : name) {
    const bool plain = c.unicode() < 0x80 && (c.isLetterOrNumber() || c == '.' || c == '-' || c == '_');
    result.append(plain ? c : QChar('_'));
  }
  while (result.startsWith('.'))
    result.remove(0, 1);
  result.truncate(100);
  return result.isEmpty() ? QStringLiteral("upload") : result;
}

// One TSV field: tabs and line breaks of the client would break the record.
QString TsvField(QString value) {
  for (QChar &c : value)
    if (c == '\t' || c == '\n' || c == '\r')
      c = ' ';
  return value;
}

QString Now() { return QDateTime::currentDateTime().toString(DateTimeFormat); }

}  // namespace

TWebServices::TWebServices(const QString &dataDir, const QString &stateDir, QObject *parent)
    : QAbstractHttpServer(parent), FDataDir(dataDir), FStateDir(stateDir) {}

quint16 TWebServices::ListenOnLoopback(quint16 port) { return listen(QHostAddress::LocalHost, port); }

QString TWebServices::LogLine(const QHttpServerRequest &request, int status) {
  const QUrl url = request.url();
  QString target = url.path(QUrl::FullyEncoded);
  if (url.hasQuery())
    target += '?' + url.query(QUrl::FullyEncoded);
  const char *method = QMetaEnum::fromType<QHttpServerRequest::Method>().valueToKey(
      static_cast<int>(request.method()));
  // Joined, not arg()-formatted: a target holds its own "%2F"-style escapes.
  return Now() + ' ' + QString::fromLatin1(method ? method : "Unknown").toUpper() + ' ' + target + ' ' +
         QString::number(status);
}

bool TWebServices::handleRequest(const QHttpServerRequest &request, QTcpSocket *socket) {
  const QString base =
      QStringLiteral("http://%1:%2").arg(socket->localAddress().toString(), QString::number(socket->localPort()));
  QHttpServerResponse response = Answer(request, base);
  const QByteArray line = (LogLine(request, static_cast<int>(response.statusCode())) + '\n').toUtf8();
  std::fputs(line.constData(), stdout);
  std::fflush(stdout);
  response.write(makeResponder(request, socket));
  return true;
}

void TWebServices::missingHandler(const QHttpServerRequest &request, QTcpSocket *socket) {
  NotFound().write(makeResponder(request, socket));
}

QHttpServerResponse TWebServices::Answer(const QHttpServerRequest &request, const QString &base) {
  const QString path = request.url().path(QUrl::FullyDecoded);
  const QUrlQuery query = request.query();
  const QString to = query.queryItemValue("to", QUrl::FullyDecoded);

  if (path == "/software_update/getinfo.php")
    return UpdateInfo(request, base);
  if (path == "/news/kplinfo.htm")
    return NewsDescriptor(base);
  if (path == "/quillmere_feedback/index.php") {
    if (to == "upload-file")
      return Upload(request);
    if (to == "fetch-unread-message")
      return UnreadMessages(query.queryItemValue("guid", QUrl::FullyDecoded));
    return Feedback(request);
  }
  if (path == "/install_statistics/index.php") {
    if (query.queryItemValue("p") != "install_statistics")
      return NotFound();
    return InstallStatistics(request);
  }
  if (path == "/info_group/index.php") {
    if (to != "getinfonew")
      return NotFound();
    return Advertisements(request, base);
  }
  return StaticFile(request);
}

QString TWebServices::DataFile(const QString &relative) const { return FDataDir + '/' + relative; }

bool TWebServices::EnsureStateDir(const QString &sub) const {
  return QDir().mkpath(sub.isEmpty() ? FStateDir : FStateDir + '/' + sub);
}

QHttpServerResponse TWebServices::UpdateInfo(const QHttpServerRequest &request, const QString &base) {
  if (request.query().queryItemValue("p_id") != "3")
    return Json(R"({"stopped":1})");
  const auto info = ReadFile(DataFile("update.json"));
  if (!info)
    return Text(Status::InternalServerError, "update.json is missing\n");
  return Json(QByteArray(*info).replace("{base}", base.toUtf8()));
}

QHttpServerResponse TWebServices::NewsDescriptor(const QString &base) {
  const auto descriptor = ReadFile(DataFile("news/kplinfo.htm"));
  if (!descriptor)
    return Text(Status::InternalServerError, "news/kplinfo.htm is missing\n");
  return Text(Status::Ok, QByteArray(*descriptor).replace("{base}", base.toUtf8()));
}

QHttpServerResponse TWebServices::Feedback(const QHttpServerRequest &request) {
  static const QStringList pages = {"home", "question", "my-feedback", "write-question"};
  QString to = request.query().queryItemValue("to", QUrl::FullyDecoded);
  if (to.isEmpty())
    to = "home";
  if (!pages.contains(to))
    return NotFound();
  const auto page = ReadFile(DataFile("feedback/" + to + ".html"));
  if (!page)
    return Text(Status::InternalServerError, "feedback page is missing\n");
  return Dynamic(Status::Ok, "text/html; charset=utf-8", *page);
}

QHttpServerResponse TWebServices::UnreadMessages(const QString &guid) {
  const QJsonObject byGuid = QJsonDocument::fromJson(ReadFile(DataFile("feedback/unread.json")).value_or("{}")).object();
  QJsonValue messages = byGuid.value(guid);
  if (!messages.isArray()) {
    // GUIDs arrive in braces and in either case, depending on who formatted them.
    for (auto it = byGuid.begin(); it != byGuid.end(); ++it)
      if (!guid.isEmpty() && it.key().compare(guid, Qt::CaseInsensitive) == 0)
        messages = it.value();
  }
  if (!messages.isArray())
    messages = byGuid.value("*");
  return Json(QJsonDocument(messages.toArray()).toJson(QJsonDocument::Compact));
}

QHttpServerResponse TWebServices::Upload(const QHttpServerRequest &request) {
  if (request.method() != QHttpServerRequest::Method::Post)
    return MethodNotAllowed("POST");
  const QByteArray body = request.body();
  if (body.size() > MaxUploadBody)
    return Text(Status::PayloadTooLarge, "too large\n");

  const QList<TFormPart> parts =
      ParseMultipart(MultipartBoundary(HeaderValue(request, "content-type")), body).value_or(QList<TFormPart>{});
  const auto file = std::find_if(parts.begin(), parts.end(), [](const TFormPart &part) { return part.Name == "file"; });
  if (file == parts.end())
    return Text(Status::BadRequest, "no file");
  if (file->Data.size() > MaxUploadFile)
    return Text(Status::PayloadTooLarge, "too large\n");

  if (!EnsureStateDir("uploads"))
    return Text(Status::InternalServerError, "cannot create the uploads folder\n");
  const QString stamp = QDateTime::currentDateTime().toString("yyyyMMdd-HHmmss-zzz");
  const QString original = SanitizedFileName(file->FileName);
  QString name = stamp + '-' + original;
  for (int n = 2; QFileInfo::exists(FStateDir + "/uploads/" + name); ++n)
    name = stamp + '-' + QString::number(n) + '-' + original;

  QFile out(FStateDir + "/uploads/" + name);
  if (!out.open(QIODevice::WriteOnly | QIODevice::NewOnly) || out.write(file->Data) != file->Data.size()) {
    out.remove();
    return Text(Status::InternalServerError, "cannot save the file\n");
  }
  return Text(Status::Ok, ("OK " + name + ' ' + QString::number(file->Data.size())).toUtf8());
}

QHttpServerResponse TWebServices::InstallStatistics(const QHttpServerRequest &request) {
  if (request.method() != QHttpServerRequest::Method::Post)
    return MethodNotAllowed("POST");
  // application/x-www-form-urlencoded writes spaces as '+'; an encoded plus stays %2B until decoded.
  const QUrlQuery form(QString::fromUtf8(request.body()).replace('+', ' '));
  QStringList fields{Now()};
  for (const char *key : {"product_ver", "product_id", "gu_id"})
    fields.append(TsvField(form.queryItemValue(key, QUrl::FullyDecoded)));

  QFile file(FStateDir + "/install-statistics.tsv");
  if (!EnsureStateDir() || !file.open(QIODevice::WriteOnly | QIODevice::Append))
    return Text(Status::InternalServerError, "cannot write the statistics\n");
  const QByteArray line = (fields.join('\t') + '\n').toUtf8();
  if (file.write(line) != line.size())
    return Text(Status::InternalServerError, "cannot write the statistics\n");
  return Text(Status::Ok, "OK");
}

QHttpServerResponse TWebServices::Advertisements(const QHttpServerRequest &request, const QString &base) {
  QJsonArray ads;
  if (request.query().queryItemValue("pid") == "4") {
    const auto list = ReadFile(DataFile("ads.json"));
    QJsonParseError error{};
    const QJsonDocument document =
        QJsonDocument::fromJson(QByteArray(list.value_or("[]")).replace("{base}", base.toUtf8()), &error);
    if (error.error != QJsonParseError::NoError || !document.isArray())
      return Text(Status::InternalServerError, "ads.json is not a JSON array\n");
    ads = document.array();
  }
  // Written by hand so that "servertime" comes first, as clients of the old service saw it.
  const QByteArray body = R"({"servertime":")" + Now().toUtf8() + R"(","ads":)" +
                          QJsonDocument(ads).toJson(QJsonDocument::Compact) + "}";
  return Json(body);
}

QHttpServerResponse TWebServices::StaticFile(const QHttpServerRequest &request) {
  const auto method = request.method();
  if (method != QHttpServerRequest::Method::Get && method != QHttpServerRequest::Method::Head)
    return MethodNotAllowed("GET, HEAD");

  QString path = request.url().path(QUrl::FullyDecoded);
  if (path.isEmpty())
    path = "/";
  const QStringList segments = path.split('/');
  if (segments.contains("..") || path.contains('\\') || path.contains(QChar(0)))
    return Text(Status::Forbidden, "forbidden\n");

  const QString root = QDir(DataFile("www")).canonicalPath();
  QString file = root + path;
  if (path.endsWith('/'))
    file += "index.html";
  const QFileInfo info(file);
  if (info.isDir()) {
    QHttpServerResponse response(Status::MovedPermanently);
    QString location = request.url().path(QUrl::FullyEncoded) + '/';
    if (request.url().hasQuery())
      location += '?' + request.url().query(QUrl::FullyEncoded);
    response.addHeader("Location", location.toUtf8());
    return response;
  }
  // A link inside the folder must not lead out of it either.
  if (root.isEmpty() || !info.isFile() || !info.canonicalFilePath().startsWith(root + '/'))
    return NotFound();
  const auto content = ReadFile(info.filePath());
  if (!content)
    return NotFound();
  return QHttpServerResponse(ContentType(file), *content);
}
