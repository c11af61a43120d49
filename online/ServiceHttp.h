// The one HTTP client of the online services: every request to the vendor's services is
// made here, with the same cache rules, time-outs and user-agent rule. Each call runs on
// the calling thread, which it blocks until the answer or the deadline: call it on a
// worker.
#pragma once

#include <QByteArray>
#include <QUrl>

class QHttpMultiPart;

namespace restovo {

enum class THttpMethod { Get, Post };

// The user agent a request names, by its method: the fetches (update information, news,
// unread answers, advertisements and their pictures) go out with an empty one; the posts
// to the second site (install statistics, uploads) as the browser its services tell this
// product's reports apart by.
QByteArray ServiceUserAgent(THttpMethod method);

struct THttpTimeouts {
  int TransferMs;  // the longest wait for the next byte
  int DeadlineMs;  // the whole call, connection included; a slow trickle ends here too
};

// An answer: Ok with its body, or not Ok (no address, no connection, an error status, a
// time-out, a read error) with an empty body.
struct THttpAnswer {
  bool Ok = false;
  QByteArray Body;
};

// GET, asking for UTF-8; never answered from a cache nor stored in one.
THttpAnswer HttpGet(const QUrl& url, THttpTimeouts timeouts);
// POST of body with the content type given as it is (a service may expect it to the byte).
THttpAnswer HttpPost(const QUrl& url, const QByteArray& contentType, const QByteArray& body,
                     THttpTimeouts timeouts);
// POST of a multipart form; the call takes parts and frees them.
THttpAnswer HttpPostMultipart(const QUrl& url, QHttpMultiPart* parts, THttpTimeouts timeouts);

}  // namespace restovo
