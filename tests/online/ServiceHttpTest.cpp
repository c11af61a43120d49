// The online services' one HTTP client against the real reference services, started on
// a free loopback port, and what it puts on the wire, seen by a listener of the test's
// own.
#include <QElapsedTimer>
#include <QHttpMultiPart>
#include <QNetworkRequest>
#include <QProcess>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTemporaryDir>
#include <QTimer>
#include <QtTest>
#include <functional>

#include "ServiceHttp.h"
#include "ServicesFixture.h"

using namespace restovo;
using namespace restovo::test;

namespace {

constexpr THttpTimeouts kQuick{5000, 5000};

// A form of one file part, as the support centre uploads it.
QHttpMultiPart* FilePart(const QByteArray& name, const QByteArray& content) {
  auto* parts = new QHttpMultiPart(QHttpMultiPart::FormDataType);
  QHttpPart part;
  part.setHeader(QNetworkRequest::ContentDispositionHeader, "form-data; name=\"file\"; filename=\"" + name + "\"");
  part.setHeader(QNetworkRequest::ContentTypeHeader, "text/plain");
  part.setBody(content);
  parts->append(part);
  return parts;
}

// The value of a request's header, trimmed; null when the request has no such field.
QByteArray Header(const QByteArray& request, const QByteArray& name) {
  const QByteArray head = request.left(request.indexOf("\r\n\r\n"));
  for (const QByteArray& line : head.split('\n')) {
    const qsizetype colon = line.indexOf(':');
    if (colon > 0 && line.left(colon).trimmed().compare(name, Qt::CaseInsensitive) == 0) {
      const QByteArray value = line.mid(colon + 1).trimmed();
      return value.isNull() ? QByteArray("") : value;
    }
  }
  return {};
}

// Takes one request whole (headers and a Content-Length body) and answers "OK".
struct TListener {
  QTcpServer Server;
  QByteArray Request;
  TListener() {
    Server.listen(QHostAddress::LocalHost, 0);
    QObject::connect(&Server, &QTcpServer::newConnection, [this] {
      QTcpSocket* client = Server.nextPendingConnection();
      QObject::connect(client, &QTcpSocket::readyRead, [this, client] {
        Request += client->readAll();
        const qsizetype end = Request.indexOf("\r\n\r\n");
        if (end < 0 || Request.size() - end - 4 < Header(Request, "Content-Length").toLongLong()) return;
        client->write("HTTP/1.1 200 OK\r\nContent-Length: 2\r\nConnection: close\r\n\r\nOK");
        client->disconnectFromHost();
      });
    });
  }
  QUrl Url(const char* path) const { return QUrl(QStringLiteral("http://127.0.0.1:%1%2").arg(Server.serverPort()).arg(QLatin1String(path))); }
};

}  // namespace

class ServiceHttpTest : public QObject {
  Q_OBJECT

  QTemporaryDir Dir;
  QString State;
  QProcess Server;
  QString Base;

  QUrl At(const char* pathAndQuery) const { return QUrl(Base + QLatin1String(pathAndQuery)); }

 private slots:
  void initTestCase() {
    if (!QFile::exists(qEnvironmentVariable("RESTOVO_SERVICES_BIN"))) QSKIP("restovo-services is not built");
    State = Dir.filePath(QStringLiteral("state"));
    const QString failed = StartServices(Server, Dir.filePath(QStringLiteral("data")), State, Base);
    QVERIFY2(failed.isEmpty(), qPrintable(failed));
  }

  void cleanupTestCase() {
    Server.kill();
    Server.waitForFinished();
  }

  void TheServicesAnswerEveryKindOfCall() {
    const THttpAnswer news = HttpGet(At("/news/kplinfo.htm"), kQuick);
    QVERIFY(news.Ok);
    QVERIFY(news.Body.contains("[Msg]"));

    const THttpAnswer report = HttpPost(At("/install_statistics/index.php?p=install_statistics"),
                                        "application/x-www-form-urlencoded ",
                                        "product_ver=9.1&product_id=14&gu_id=one-client", kQuick);
    QVERIFY(report.Ok);
    QCOMPARE(report.Body, QByteArray("OK"));
    QVERIFY(ReadFile(State + QStringLiteral("/install-statistics.tsv")).contains("9.1\t14\tone-client\n"));

    const THttpAnswer upload =
        HttpPostMultipart(At("/quillmere_feedback/index.php?to=upload-file"), FilePart("note.txt", "hello"), kQuick);
    QVERIFY(upload.Ok);
    QVERIFY2(upload.Body.startsWith("OK ") && upload.Body.endsWith("-note.txt 5"), upload.Body.constData());
    const QStringList saved = QDir(State + QStringLiteral("/uploads")).entryList(QDir::Files);
    QCOMPARE(saved.size(), 1);
    QCOMPARE(ReadFile(State + QStringLiteral("/uploads/") + saved.first()), QByteArray("hello"));
  }

  void ErrorsAndMissingServicesGiveNoAnswer() {
    // An error status is no answer, though its body says something: a missing page, and a
    // fetch where the service only takes posts.
    for (const char* path : {"/no/such/page.html", "/quillmere_feedback/index.php?to=upload-file"}) {
      const THttpAnswer answer = HttpGet(At(path), kQuick);
      QVERIFY2(!answer.Ok && answer.Body.isEmpty(), path);
    }
    QVERIFY(!HttpPost(At("/install_statistics/index.php?p=elsewhere"), "text/plain", "x", kQuick).Ok);

    // No address, or nobody listening: no answer, at once. The parts of a post that could
    // not go out are freed all the same (the sanitizer build counts leaks).
    const QUrl nowhere[] = {QUrl(), QUrl(QStringLiteral("http://127.0.0.1:%1/").arg(ClosedPort()))};
    for (const QUrl& url : nowhere) {
      QElapsedTimer t;
      t.start();
      QVERIFY(!HttpGet(url, kQuick).Ok);
      QVERIFY(!HttpPost(url, "text/plain", "x", kQuick).Ok);
      QVERIFY(!HttpPostMultipart(url, FilePart("a.txt", "a"), kQuick).Ok);
      QVERIFY(t.elapsed() < 3000);
    }
  }

  void EachMethodSendsItsUserAgent_data() {
    QTest::addColumn<int>("call");
    QTest::addColumn<QByteArray>("requestLine");
    QTest::addColumn<QByteArray>("agent");
    const QByteArray browser = "Mozilla/4.0 (compatible; MSIE 6.0; Windows NT 5.0; Maxthon)";
    QTest::newRow("fetch") << 0 << QByteArray("GET /get HTTP/1.1") << QByteArray("");
    QTest::newRow("form post") << 1 << QByteArray("POST /form HTTP/1.1") << browser;
    QTest::newRow("upload") << 2 << QByteArray("POST /upload HTTP/1.1") << browser;
  }

  void EachMethodSendsItsUserAgent() {
    QFETCH(int, call);
    QFETCH(QByteArray, requestLine);
    QFETCH(QByteArray, agent);
    TListener listener;
    const std::function<THttpAnswer()> calls[] = {
        [&] { return HttpGet(listener.Url("/get"), kQuick); },
        [&] { return HttpPost(listener.Url("/form"), "application/x-www-form-urlencoded ", "a=1", kQuick); },
        [&] { return HttpPostMultipart(listener.Url("/upload"), FilePart("n.txt", "body"), kQuick); },
    };
    const THttpAnswer answer = calls[call]();
    const QByteArray& request = listener.Request;
    QVERIFY2(answer.Ok, request.constData());
    QCOMPARE(answer.Body, QByteArray("OK"));
    QVERIFY2(request.startsWith(requestLine + "\r\n"), request.constData());
    // Present, and exactly the agent of its method: Qt's own name never goes out.
    QVERIFY(!Header(request, "User-Agent").isNull());
    QCOMPARE(Header(request, "User-Agent"), agent);
    QCOMPARE(ServiceUserAgent(call == 0 ? THttpMethod::Get : THttpMethod::Post), agent);
    QCOMPARE(Header(request, "Accept-Charset").isNull(), call != 0);
    if (call == 0) QCOMPARE(Header(request, "Accept-Charset"), QByteArray("utf-8"));
    if (call == 1) {
      QCOMPARE(Header(request, "Content-Type"), QByteArray("application/x-www-form-urlencoded"));
      QVERIFY(request.contains("\r\nContent-Type: application/x-www-form-urlencoded \r\n"));  // blank kept
      QVERIFY(request.endsWith("\r\n\r\na=1"));
    }
    if (call == 2) {
      QVERIFY(Header(request, "Content-Type").startsWith("multipart/form-data; boundary="));
      QVERIFY(request.contains("filename=\"n.txt\""));
    }
  }

  void ASlowTrickleEndsAtTheDeadline() {
    // Headers, then one byte of the body every 50 ms: the transfer time-out never runs
    // out, the deadline ends the call.
    QTcpServer server;
    QVERIFY(server.listen(QHostAddress::LocalHost, 0));
    QTimer drip;
    QTcpSocket* client = nullptr;
    connect(&server, &QTcpServer::newConnection, this, [&] {
      client = server.nextPendingConnection();
      client->write("HTTP/1.1 200 OK\r\nContent-Length: 100000\r\n\r\n");
      drip.start(50);
    });
    connect(&drip, &QTimer::timeout, this, [&] {
      if (client) client->write("x");
    });
    const QUrl url(QStringLiteral("http://127.0.0.1:%1/slow").arg(server.serverPort()));
    QElapsedTimer t;
    t.start();
    const THttpAnswer answer = HttpGet(url, {3000, 600});
    QVERIFY(!answer.Ok);
    QVERIFY(answer.Body.isEmpty());
    QVERIFY2(t.elapsed() >= 500 && t.elapsed() < 2500, qPrintable(QString::number(t.elapsed())));
  }
};

QTEST_MAIN(ServiceHttpTest)
#include "ServiceHttpTest.moc"
