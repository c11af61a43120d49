#include "ServiceHttp.h"

#include <QEventLoop>
#include <QHttpMultiPart>
#include <QNetworkAccessManager>
#include <QNetworkReply>
#include <QNetworkRequest>
#include <QTimer>
#include <functional>
#include <memory>

namespace restovo {

namespace {

constexpr char kBrowserAgent[] = "Mozilla/4.0 (compatible; MSIE 6.0; Windows NT 5.0; Maxthon)";

QNetworkRequest ServiceRequest(const QUrl& url, THttpMethod method, THttpTimeouts timeouts) {
  QNetworkRequest request(url);
  const QByteArray agent = ServiceUserAgent(method);
  // Qt names itself ("Mozilla/5.0") wherever the field is missing or empty; a lone blank
  // is a field whose value is empty once the server has trimmed it.
  request.setRawHeader("User-Agent", agent.isEmpty() ? QByteArray(" ") : agent);
  request.setAttribute(QNetworkRequest::CacheLoadControlAttribute, QNetworkRequest::AlwaysNetwork);
  request.setAttribute(QNetworkRequest::CacheSaveControlAttribute, false);
  request.setTransferTimeout(timeouts.TransferMs);
  return request;
}

// Sends with a manager of its own (the workers share nothing) and waits on a local loop
// until the reply has finished or the deadline aborted it.
THttpAnswer Exchange(const std::function<QNetworkReply*(QNetworkAccessManager&)>& send, THttpTimeouts timeouts) {
  QNetworkAccessManager manager;
  const std::unique_ptr<QNetworkReply> reply(send(manager));
  QEventLoop loop;
  QObject::connect(reply.get(), &QNetworkReply::finished, &loop, &QEventLoop::quit);
  QTimer deadline;
  deadline.setSingleShot(true);
  QObject::connect(&deadline, &QTimer::timeout, reply.get(), &QNetworkReply::abort);
  deadline.start(timeouts.DeadlineMs);
  if (!reply->isFinished()) loop.exec();
  THttpAnswer answer;
  if (reply->error() == QNetworkReply::NoError) {
    answer.Ok = true;
    answer.Body = reply->readAll();
  }
  return answer;
}

bool Usable(const QUrl& url) { return !url.isEmpty() && url.isValid(); }

}  // namespace

QByteArray ServiceUserAgent(THttpMethod method) {
  return method == THttpMethod::Post ? QByteArray(kBrowserAgent) : QByteArray();
}

THttpAnswer HttpGet(const QUrl& url, THttpTimeouts timeouts) {
  if (!Usable(url)) return {};
  QNetworkRequest request = ServiceRequest(url, THttpMethod::Get, timeouts);
  request.setRawHeader("Accept-Charset", "utf-8");
  return Exchange([&](QNetworkAccessManager& manager) { return manager.get(request); }, timeouts);
}

THttpAnswer HttpPost(const QUrl& url, const QByteArray& contentType, const QByteArray& body,
                     THttpTimeouts timeouts) {
  if (!Usable(url)) return {};
  QNetworkRequest request = ServiceRequest(url, THttpMethod::Post, timeouts);
  request.setRawHeader("Content-Type", contentType);
  return Exchange([&](QNetworkAccessManager& manager) { return manager.post(request, body); }, timeouts);
}

THttpAnswer HttpPostMultipart(const QUrl& url, QHttpMultiPart* parts, THttpTimeouts timeouts) {
  std::unique_ptr<QHttpMultiPart> owned(parts);
  if (!Usable(url) || !owned) return {};
  const QNetworkRequest request = ServiceRequest(url, THttpMethod::Post, timeouts);
  return Exchange(
      [&](QNetworkAccessManager& manager) {
        QNetworkReply* reply = manager.post(request, owned.get());
        // The parts stream while the reply runs and go with it.
        owned.release()->setParent(reply);
        return reply;
      },
      timeouts);
}

}  // namespace restovo
