// The support centre against the real reference services, started on a free loopback port
// with a copy of their sample data: the unread answers, the pages it opens and the
// identity it adds to them, the page's commands, uploads, and the capture window.
#include <QApplication>
#include <QDir>
#include <QFile>
#include <QMouseEvent>
#include <QProcess>
#include <QRegularExpression>
#include <QScreen>
#include <QSignalSpy>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTemporaryDir>
#include <QTimer>
#include <QToolButton>
#include <QUrlQuery>
#include <QWebEngineView>
#include <QtTest>

#include "ServicesFixture.h"

#include "RestovoStyle.h"
#include "TTarnFrame.h"
#include "TTarnMessageBox.h"
#include "UCatch.h"
#include "Unew.h"
#include "uSupport.h"

using namespace restovo;
using namespace restovo::test;

namespace {

const QString kKnownGuid = QStringLiteral("{8F0C2A3E-5B7D-4C1A-9E6F-2D4B8A1C3E5F}");
const QString kOneAnswerGuid = QStringLiteral("{11111111-2222-3333-4444-555555555555}");
const QString kUnknownGuid = QStringLiteral("{00000000-0000-0000-0000-000000000000}");
constexpr qint64 kLimit = 5'242'880;

// Bytes that differ from place to place, so that a shifted or cut copy shows.
QByteArray Pattern(qint64 size) {
  QByteArray bytes(size, Qt::Uninitialized);
  quint32 x = 2463534242u;
  for (qint64 i = 0; i < size; ++i) {
    x ^= x << 13;
    x ^= x >> 17;
    x ^= x << 5;
    bytes[i] = char(x);
  }
  return bytes;
}

QImage Gradient(int w, int h) {
  QImage image(w, h, QImage::Format_RGB32);
  for (int y = 0; y < h; ++y)
    for (int x = 0; x < w; ++x) image.setPixel(x, y, qRgb((x * 7) & 255, (y * 5) & 255, (x + y) & 255));
  return image;
}

// The support window with the page scripts it is asked to run written down; they still
// run in the page.
class TRecordingSupport : public TFrmTarnSupport {
 public:
  using TFrmTarnSupport::TFrmTarnSupport;
  QStringList Scripts;

 protected:
  void CallPageScript(const QString& code) override {
    Scripts.append(code);
    TFrmTarnSupport::CallPageScript(code);
  }
};

// Closes every message box of the project's that shows up and remembers what it said.
struct TBoxCloser {
  QString Caption;
  QString Text;
  TMsgKind Kind = mkInformation;
  int Seen = 0;
  QTimer Timer;
  TBoxCloser() {
    Timer.setInterval(20);
    QObject::connect(&Timer, &QTimer::timeout, [this] {
      for (QWidget* w : QApplication::topLevelWidgets()) {
        auto* box = qobject_cast<TTarnMessageBox*>(w);
        if (!box || !box->isVisible()) continue;
        Caption = box->Caption();
        Text = box->Text();
        Kind = box->Kind();
        ++Seen;
        box->reject();
      }
    });
    Timer.start();
  }
};

QVariant RunScript(QWebEnginePage* page, const QString& code) {
  QVariant result;
  bool done = false;
  page->runJavaScript(code, [&](const QVariant& v) {
    result = v;
    done = true;
  });
  if (!QTest::qWaitFor([&] { return done; }, 10'000)) return QStringLiteral("<no answer>");
  return result;
}

bool LoadAndWait(QWebEnginePage* page, const QUrl& url) {
  QSignalSpy finished(page, &QWebEnginePage::loadFinished);
  page->load(url);
  return finished.wait(30'000) && finished.first().first().toBool();
}

void SendMouse(QWidget* w, QEvent::Type type, QPoint pos, Qt::MouseButton button, Qt::MouseButtons buttons) {
  QMouseEvent e(type, QPointF(pos), w->mapToGlobal(QPointF(pos)), button, buttons, Qt::NoModifier);
  QApplication::sendEvent(w, &e);
}

// A page with the three commands as links, and page functions that write down what the
// window hands them.
const QByteArray CommandPage =
    "<!DOCTYPE html><html><head><meta charset=\"utf-8\"><style>a{display:block;height:40px}</style>"
    "<script>window.calls = [];"
    "function uploadBegain(n, e) { window.calls.push(['begun', n, e]); }"
    "function uploadCallback(n, r) { window.calls.push(['done', n, r]); }</script></head><body>"
    "<a id=\"screenshot\" href=\"javascript:screenshot;\">Screenshot</a>"
    "<a id=\"add-image\" href=\"javascript:add-image;\">Add a picture</a>"
    "<a id=\"add-file\" href=\"javascript:add-file;\">Add a file</a>"
    "</body></html>";

}  // namespace

class SupportCenterTest : public QObject {
  Q_OBJECT

  QTemporaryDir Dir;
  QString Data;
  QString State;
  QProcess Server;
  QString Base;
  QString Down;

  TServiceHosts Hosts(const QString& second) const { return {Base, second, Base}; }

  QStringList Uploads() const {
    return QDir(State + QStringLiteral("/uploads")).entryList(QDir::Files, QDir::Name);
  }

  // The window once its unread answers have arrived.
  std::unique_ptr<TRecordingSupport> Support(const QString& guid, const QString& host) {
    auto w = std::make_unique<TRecordingSupport>(Hosts(host), guid, QStringLiteral("1.4.2"));
    if (!QTest::qWaitFor([&] { return !w->UnreadFetchRunning(); }, 20'000)) return {};
    QCoreApplication::processEvents();
    return w;
  }

  QString CommandPageUrl() {
    const QString path = Dir.filePath(QStringLiteral("commands.html"));
    return WriteFile(path, CommandPage) ? QUrl::fromLocalFile(path).toString() : QString();
  }

 private slots:
  void initTestCase() {
    ApplyRestovoStyle(*qApp);
    const QString program = qEnvironmentVariable("RESTOVO_SERVICES_BIN");
    if (!QFile::exists(program)) QSKIP("restovo-services is not built");
    Data = Dir.filePath(QStringLiteral("data"));
    State = Dir.filePath(QStringLiteral("state"));
    const QString failed = StartServices(Server, Data, State, Base);
    QVERIFY2(failed.isEmpty(), qPrintable(failed));
    // The server reads its answers file at every request.
    QVERIFY(WriteFile(Data + QStringLiteral("/feedback/unread.json"),
                      ("{\"*\": [], \"" + kKnownGuid + "\": [{\"id\": 3}, {\"id\": 7}], \"" + kOneAnswerGuid +
                       "\": [{\"id\": 5}]}")
                          .toUtf8()));
    Down = QStringLiteral("http://127.0.0.1:%1").arg(ClosedPort());
  }

  void cleanupTestCase() {
    Server.kill();
    Server.waitForFinished();
  }

  void FormEncodeKeepsOnlyTheSafeBytes_data() {
    QTest::addColumn<QByteArray>("bytes");
    QTest::addColumn<QString>("encoded");
    QTest::newRow("blank and ampersand") << QByteArray("a b&c") << "a+b%26c";
    QTest::newRow("kept punctuation") << QByteArray("!$'()*-.@_") << "!$'()*-.@_";
    QTest::newRow("letters and digits") << QByteArray("AZaz09") << "AZaz09";
    QTest::newRow("UTF-8 of e acute") << QString::fromUtf8("\xc3\xa9").toUtf8() << "%c3%a9";
    QTest::newRow("reserved characters") << QByteArray("+/%?=#~\"") << "%2b%2f%25%3f%3d%23%7e%22";
    QTest::newRow("control and zero bytes") << QByteArray("\n\t\0\x7f\xff", 5) << "%0a%09%00%7f%ff";
    QTest::newRow("failure reply") << QByteArray(R"({"err":"upload failure"})")
                                   << "%7b%22err%22%3a%22upload+failure%22%7d";
    QTest::newRow("empty") << QByteArray() << "";
  }

  void FormEncodeKeepsOnlyTheSafeBytes() {
    QFETCH(QByteArray, bytes);
    QFETCH(QString, encoded);
    QCOMPARE(TFrmTarnSupport::FormEncode(bytes), encoded);
  }

  void SystemVersionIsTheReleasesNumbers_data() {
    QTest::addColumn<QString>("release");
    QTest::addColumn<QString>("version");
    QTest::newRow("distribution kernel") << "6.1.0-18-amd64" << "6.1.0";
    QTest::newRow("plain") << "5.15.153" << "5.15.153";
    QTest::newRow("two numbers") << "6.8-rc3" << "6.8";
    QTest::newRow("four numbers") << "4.19.0.1" << "4.19.0";
    QTest::newRow("WSL") << "5.15.146.1-microsoft-standard-WSL2" << "5.15.146";
    QTest::newRow("no numbers") << "generic" << "";
    QTest::newRow("empty") << "" << "";
  }

  void SystemVersionIsTheReleasesNumbers() {
    QFETCH(QString, release);
    QFETCH(QString, version);
    QCOMPARE(SystemVersionText(release), version);
  }

  void UnreadRepliesAreReadStrictly_data() {
    QTest::addColumn<QString>("reply");
    QTest::addColumn<QList<int>>("ids");
    QTest::newRow("two") << R"([{"id":3},{"id":7}])" << QList<int>{3, 7};
    QTest::newRow("other members") << R"([{"id":4,"title":"x"}])" << QList<int>{4};
    QTest::newRow("empty array") << "[]" << QList<int>{};
    QTest::newRow("object") << R"({"id":3})" << QList<int>{};
    QTest::newRow("id as text") << R"([{"id":"3"}])" << QList<int>{};
    QTest::newRow("fraction") << R"([{"id":3.5}])" << QList<int>{};
    QTest::newRow("no id") << R"([{"n":3}])" << QList<int>{};
    QTest::newRow("bare numbers") << "[3,7]" << QList<int>{};
    QTest::newRow("HTML") << "<html>busy</html>" << QList<int>{};
    QTest::newRow("nothing") << "" << QList<int>{};
  }

  void UnreadRepliesAreReadStrictly() {
    QFETCH(QString, reply);
    QFETCH(QList<int>, ids);
    QCOMPARE(ParseUnreadIds(reply), ids);
  }

  void NavigationFilter_data() {
    QTest::addColumn<QString>("target");
    QTest::addColumn<int>("action");
    QTest::addColumn<QString>("redirect");
    const QString site = QStringLiteral("http://support.test:81/quillmere_feedback/index.php?to=");
    const QString added = QStringLiteral("&guid={G}&product_id=11&version=2.0&system_info=6.1.0&vip=0");
    const int accept = TSupportNavigation::Accept;
    const int redirect = TSupportNavigation::Redirect;
    QTest::newRow("question with id") << site + "question&id=5" << redirect << site + "question&id=5" + added;
    QTest::newRow("question") << site + "question" << redirect << site + "question" + added;
    QTest::newRow("write-question") << site + "write-question&x=1" << redirect << site + "write-question&x=1" + added;
    QTest::newRow("my-feedback") << site + "my-feedback" << redirect << site + "my-feedback" + added;
    QTest::newRow("my-feedback in capitals")
        << "HTTP://SUPPORT.TEST:81/QUILLMERE_FEEDBACK/INDEX.PHP?TO=MY-FEEDBACK" << redirect
        << "HTTP://SUPPORT.TEST:81/QUILLMERE_FEEDBACK/INDEX.PHP?TO=MY-FEEDBACK" + added;
    QTest::newRow("my-feedback with more") << site + "my-feedback&page=2" << accept << "";
    QTest::newRow("already has a guid") << site + "question&id=5" + added << accept << "";
    QTest::newRow("guid anywhere") << site + "question&xguid=1" << accept << "";
    QTest::newRow("home") << site + "home" << accept << "";
    QTest::newRow("another host") << "http://elsewhere.test/quillmere_feedback/index.php?to=question" << accept << "";
    QTest::newRow("question in capitals") << site.toUpper() + "QUESTION" << accept << "";
    QTest::newRow("screenshot") << "javascript:screenshot;" << int(TSupportNavigation::Screenshot) << "";
    QTest::newRow("add image") << "javascript:add-image;" << int(TSupportNavigation::AddImage) << "";
    QTest::newRow("add file") << "javascript:add-file;" << int(TSupportNavigation::AddFile) << "";
    QTest::newRow("command without semicolon") << "javascript:screenshot" << accept << "";
    QTest::newRow("other script") << "javascript:void(0);" << accept << "";
  }

  void NavigationFilter() {
    QFETCH(QString, target);
    QFETCH(int, action);
    QFETCH(QString, redirect);
    TSupportIdentity identity{QStringLiteral("http://support.test:81/"), QStringLiteral("{G}"), QStringLiteral("2.0"),
                              QStringLiteral("6.1.0"), 11, 0};
    const TSupportNavigation n = FilterNavigation(target, identity);
    QCOMPARE(int(n.Action), action);
    QCOMPARE(n.Target.toString(), redirect.isEmpty() ? QString() : QUrl(redirect).toString());
    // The redirected address passes as it is: the identity is never added twice.
    if (n.Action == TSupportNavigation::Redirect)
      QCOMPARE(int(FilterNavigation(n.Target.toString(), identity).Action), accept_);
    // With the service off nothing is redirected.
    if (n.Action == TSupportNavigation::Redirect)
      QCOMPARE(int(FilterNavigation(target, TSupportIdentity{}).Action), accept_);
  }

  void TheWindowsShape() {
    QWidget owner;
    owner.setGeometry(50, 40, 700, 540);
    owner.show();
    QVERIFY(QTest::qWaitForWindowExposed(&owner));
    TFrmTarnSupport w({}, kKnownGuid, QStringLiteral("1.4.2"), &owner);
    QCOMPARE(w.size(), QSize(682, 481));
    QCOMPARE(w.Caption(), QStringLiteral("Support Center"));
    QCOMPARE(w.TitleBar()->Buttons(), TTarnTitleBar::TButtons(TTarnTitleBar::btClose));
    QCOMPARE(w.Browser()->contextMenuPolicy(), Qt::NoContextMenu);
    QVERIFY(!w.UnreadFetchRunning());  // the service is off: nothing asked
    w.ShowSupport();
    QVERIFY(w.isVisible());
    QVERIFY((w.frameGeometry().center() - owner.frameGeometry().center()).manhattanLength() <= 2);
    // The page fills the window below the title bar.
    const QRect page(w.Browser()->mapTo(&w, QPoint()), w.Browser()->size());
    QVERIFY(page.top() >= w.TitleBar()->mapTo(&w, QPoint(0, w.TitleBar()->height())).y());
    QVERIFY(page.left() <= 2 && page.right() >= w.width() - 3 && page.bottom() >= w.height() - 3);
    // The close button hides the window; it can be shown again.
    w.TitleBar()->Button(TTarnTitleBar::btClose)->click();
    QTRY_VERIFY(!w.isVisible());
    w.ShowSupport();
    QVERIFY(w.isVisible());
  }

  void TheFirstShowingOpensThePageForTheUnreadAnswers_data() {
    QTest::addColumn<QString>("guid");
    QTest::addColumn<bool>("serverUp");
    QTest::addColumn<int>("count");
    QTest::addColumn<QString>("page");
    QTest::newRow("two answers") << kKnownGuid << true << 2 << "my-feedback";
    QTest::newRow("one answer") << kOneAnswerGuid << true << 1 << "question&id=5";
    QTest::newRow("unknown installation") << kUnknownGuid << true << 0 << "home";
    QTest::newRow("server down") << kKnownGuid << false << 0 << "home";
  }

  void TheFirstShowingOpensThePageForTheUnreadAnswers() {
    QFETCH(QString, guid);
    QFETCH(bool, serverUp);
    QFETCH(int, count);
    QFETCH(QString, page);
    TBoxCloser boxes;
    TRecordingSupport w(Hosts(serverUp ? Base : Down), guid, QStringLiteral("1.4.2"));
    QSignalSpy changed(&w, &TFrmTarnSupport::UnreadCountChanged);
    QVERIFY(w.UnreadFetchRunning());
    QTRY_COMPARE_WITH_TIMEOUT(changed.count(), 1, 20'000);
    QCOMPARE(changed.first().first().toInt(), count);
    QCOMPARE(w.UnreadCount(), count);

    QSignalSpy loaded(w.Page(), &QWebEnginePage::loadFinished);
    w.ShowSupport();
    QCOMPARE(w.UnreadCount(), 0);
    QVERIFY(w.isVisible());
    if (!serverUp) {
      QVERIFY(loaded.wait(30'000));
      QCOMPARE(boxes.Seen, 0);
      return;
    }
    // The pages about the user come with the installation's identity, added once.
    const QString address = w.PageAddress(page);
    QTRY_VERIFY_WITH_TIMEOUT(!loaded.isEmpty() && w.Page()->url().toString().startsWith(address), 30'000);
    const QString url = w.Page()->url().toString();
    if (page == QLatin1String("home")) {
      QCOMPARE(url, address);
    } else {
      QCOMPARE(url.count(QStringLiteral("guid=")), 1);
      QCOMPARE(QUrlQuery(w.Page()->url()).queryItemValue(QStringLiteral("guid"), QUrl::FullyDecoded), guid);
      QCOMPARE(QUrlQuery(w.Page()->url()).queryItemValue(QStringLiteral("product_id")), QStringLiteral("11"));
      QCOMPARE(QUrlQuery(w.Page()->url()).queryItemValue(QStringLiteral("version")), QStringLiteral("1.4.2"));
      QCOMPARE(QUrlQuery(w.Page()->url()).queryItemValue(QStringLiteral("system_info")), SystemVersionText());
      QCOMPARE(QUrlQuery(w.Page()->url()).queryItemValue(QStringLiteral("vip")), QStringLiteral("0"));
    }
    QVERIFY(RunScript(w.Page(), QStringLiteral("document.body !== null")).toBool());

    // Later showings only bring the window up.
    QTRY_VERIFY(!w.Page()->isLoading());
    QSignalSpy started(w.Page(), &QWebEnginePage::loadStarted);
    w.hide();
    w.ShowSupport();
    QVERIFY(w.isVisible());
    QTest::qWait(300);
    QCOMPARE(started.count(), 0);
  }

  void AServiceSwitchedOffIsNotAsked() {
    TFrmTarnSupport w(Hosts(QString()), kKnownGuid, QStringLiteral("1.4.2"));
    QSignalSpy changed(&w, &TFrmTarnSupport::UnreadCountChanged);
    QVERIFY(!w.UnreadFetchRunning());
    w.FetchUnreadMessages();
    QVERIFY(!w.UnreadFetchRunning());
    QTest::qWait(100);
    QCOMPARE(changed.count(), 0);
    QCOMPARE(w.UnreadCount(), 0);
  }

  void ALinkOnTheSupportPageCarriesTheIdentityOnce() {
    auto w = Support(kUnknownGuid, Base);
    QVERIFY(w);
    QSignalSpy loaded(w->Page(), &QWebEnginePage::loadFinished);
    w->ShowSupport();
    QVERIFY(loaded.wait(30'000));
    QCOMPARE(w->Page()->url().toString(), w->PageAddress(QStringLiteral("home")));
    // A link to another page passes unchanged.
    QVERIFY(RunScript(w->Page(), QStringLiteral("location.href = 'index.php?to=home&x=1'; true")).toBool());
    QTRY_COMPARE_WITH_TIMEOUT(w->Page()->url().toString(), w->PageAddress(QStringLiteral("home&x=1")), 30'000);
    // A click on a question gets the identity.
    QVERIFY(RunScript(w->Page(), QStringLiteral("location.href = 'index.php?to=question&id=5'; true")).toBool());
    QTRY_VERIFY_WITH_TIMEOUT(w->Page()->url().toString().contains(QStringLiteral("guid=")), 30'000);
    QTRY_VERIFY(!w->Page()->isLoading());
    const QString url = w->Page()->url().toString();
    QVERIFY2(url.startsWith(w->PageAddress(QStringLiteral("question&id=5&guid="))), qPrintable(url));
    QCOMPARE(url.count(QStringLiteral("guid=")), 1);
    QCOMPARE(url.count(QStringLiteral("product_id=")), 1);
  }

  void ThePagesCommandsReachTheWindow_data() {
    QTest::addColumn<QString>("link");
    QTest::addColumn<QString>("called");
    QTest::newRow("screenshot") << "screenshot" << "capture";
    QTest::newRow("add image") << "add-image" << "Images (*.png *.jpg *.jpeg *.gif)";
    QTest::newRow("add file") << "add-file" << "Archives (*.zip *.rar *.7z)";
  }

  void ThePagesCommandsReachTheWindow() {
    QFETCH(QString, link);
    QFETCH(QString, called);
    TFrmTarnSupport w(Hosts(Base), kUnknownGuid, QStringLiteral("1.4.2"));
    QStringList calls;
    w.FilePicker = [&](const QString& filter) {
      calls.append(filter);
      return QString();
    };
    w.ScreenCapture = [&] {
      calls.append(QStringLiteral("capture"));
      return QImage();
    };
    w.show();
    const QString url = CommandPageUrl();
    QVERIFY(LoadAndWait(w.Page(), QUrl(url)));
    QVERIFY(RunScript(w.Page(), QStringLiteral("document.getElementById('%1').click(); true").arg(link)).toBool());
    QTRY_COMPARE_WITH_TIMEOUT(calls, QStringList{called}, 10'000);
    QTest::qWait(200);
    QCOMPARE(calls, QStringList{called});
    QCOMPARE(w.Page()->url().toString(), url);  // the page stays
    QVERIFY(w.isVisible());
  }

  void AMouseClickOnACommandReachesTheWindow() {
    TFrmTarnSupport w(Hosts(Base), kUnknownGuid, QStringLiteral("1.4.2"));
    QStringList calls;
    w.FilePicker = [&](const QString& filter) {
      calls.append(filter);
      return QString();
    };
    w.show();
    QVERIFY(QTest::qWaitForWindowExposed(&w));
    QVERIFY(LoadAndWait(w.Page(), QUrl(CommandPageUrl())));
    const QVariant box = RunScript(
        w.Page(), QStringLiteral("(function(){var r=document.getElementById('add-file').getBoundingClientRect();"
                                 "return [r.left + 10, r.top + r.height / 2];})()"));
    const QVariantList xy = box.toList();
    QCOMPARE(xy.size(), 2);
    QWidget* input = w.Browser()->focusProxy();
    QVERIFY(input);
    const QPoint at(xy[0].toInt(), xy[1].toInt());
    QTest::mouseClick(input, Qt::LeftButton, Qt::NoModifier, at);
    QTRY_COMPARE_WITH_TIMEOUT(calls, QStringList{QStringLiteral("Archives (*.zip *.rar *.7z)")}, 10'000);
  }

  void AFileOfTheLimitArrivesWhole() {
    auto w = Support(kUnknownGuid, Base);
    QVERIFY(w);
    const QString path = Dir.filePath(QStringLiteral("limit.zip"));
    const QByteArray bytes = Pattern(kLimit);
    QVERIFY(WriteFile(path, bytes));
    const QStringList before = Uploads();
    w->FilePicker = [&](const QString&) { return path; };
    QSignalSpy finished(w.get(), &TFrmTarnSupport::UploadFinished);
    w->PickArchive();
    QVERIFY(w->UploadRunning());
    // A second file while the first travels is dropped.
    const QString other = Dir.filePath(QStringLiteral("other.png"));
    QVERIFY(WriteFile(other, "png"));
    w->UploadFile(other);
    QVERIFY(finished.wait(60'000));
    QVERIFY(!w->UploadRunning());
    QTest::qWait(300);
    QCOMPARE(finished.count(), 1);

    QStringList added = Uploads();
    for (const QString& name : before) added.removeOne(name);
    QCOMPARE(added.size(), 1);
    QVERIFY(added.first().endsWith(QStringLiteral("-limit.zip")));
    QVERIFY(ReadFile(State + QStringLiteral("/uploads/") + added.first()) == bytes);

    QCOMPARE(w->Scripts.size(), 2);
    QCOMPARE(w->Scripts[0], QStringLiteral("uploadBegain(\"limit.zip\", \".zip\")"));
    QCOMPARE(w->Scripts[1], QStringLiteral("uploadCallback(\"limit.zip\", \"OK+%1+5242880\")").arg(added.first()));
  }

  void AFileOverTheLimitIsRefused() {
    auto w = Support(kUnknownGuid, Base);
    QVERIFY(w);
    const QString path = Dir.filePath(QStringLiteral("over.jpg"));
    QVERIFY(WriteFile(path, Pattern(kLimit + 1)));
    const QStringList before = Uploads();
    TBoxCloser boxes;
    QSignalSpy finished(w.get(), &TFrmTarnSupport::UploadFinished);
    w->FilePicker = [&](const QString&) { return path; };
    w->PickImage();
    QCOMPARE(boxes.Seen, 1);
    QCOMPARE(boxes.Caption, QStringLiteral("Confirm"));
    QCOMPARE(boxes.Text, QStringLiteral("The file can't be larger than 5M"));
    QCOMPARE(boxes.Kind, mkError);
    QVERIFY(!w->UploadRunning());
    QTest::qWait(300);
    QCOMPARE(finished.count(), 0);
    QCOMPARE(w->Scripts, QStringList());
    QCOMPARE(Uploads(), before);
  }

  void AFailedUploadIsToldToThePage() {
    auto w = Support(kUnknownGuid, Down);
    QVERIFY(w);
    const QString path = Dir.filePath(QStringLiteral("log.7z"));
    QVERIFY(WriteFile(path, "7z"));
    QSignalSpy finished(w.get(), &TFrmTarnSupport::UploadFinished);
    w->UploadFile(path);
    QVERIFY(finished.wait(30'000));
    QCOMPARE(finished.first().first().toString(), QStringLiteral(R"({"err":"upload failure"})"));
    QCOMPARE(w->Scripts.value(1),
             QStringLiteral("uploadCallback(\"log.7z\", \"%7b%22err%22%3a%22upload+failure%22%7d\")"));
  }

  // The page's own functions get the file's name as it is, quotes and all, and the reply.
  void ThePageGetsTheArgumentsUnharmed() {
    auto w = Support(kUnknownGuid, Base);
    QVERIFY(w);
    QVERIFY(LoadAndWait(w->Page(), QUrl(CommandPageUrl())));
    const QString name = QStringLiteral("it's \"a\" \\ test\u2028.png");
    const QString path = Dir.filePath(name);
    QVERIFY(WriteFile(path, "picture"));
    QSignalSpy finished(w.get(), &TFrmTarnSupport::UploadFinished);
    w->UploadFile(path);
    QVERIFY(finished.wait(30'000));
    const QString reply = finished.first().first().toString();
    QVERIFY2(reply.startsWith(QStringLiteral("OK ")), qPrintable(reply));
    QTRY_COMPARE(RunScript(w->Page(), QStringLiteral("window.calls.length")).toInt(), 2);
    const QVariantList calls = RunScript(w->Page(), QStringLiteral("window.calls")).toList();
    QCOMPARE(calls[0].toStringList(), (QStringList{QStringLiteral("begun"), name, QStringLiteral(".png")}));
    QCOMPARE(calls[1].toStringList(),
             (QStringList{QStringLiteral("done"), name, TFrmTarnSupport::FormEncode(reply.toUtf8())}));
  }

  // A page that loads while a file travels no longer waits for it. The server here takes
  // the connection and answers nothing until the page has loaded.
  void ANewPageForgetsTheUpload() {
    QTcpServer silent;
    QVERIFY(silent.listen(QHostAddress::LocalHost, 0));
    auto w = std::make_unique<TRecordingSupport>(Hosts(QStringLiteral("http://127.0.0.1:%1").arg(silent.serverPort())),
                                                 kUnknownGuid, QStringLiteral("1.4.2"));
    const QString path = Dir.filePath(QStringLiteral("pending.zip"));
    QVERIFY(WriteFile(path, Pattern(100'000)));
    QSignalSpy finished(w.get(), &TFrmTarnSupport::UploadFinished);
    w->UploadFile(path);
    QVERIFY(w->UploadRunning());
    QVERIFY(LoadAndWait(w->Page(), QUrl(CommandPageUrl())));
    QVERIFY(!w->UploadRunning());
    QCOMPARE(finished.count(), 0);
    while (QTcpSocket* s = silent.nextPendingConnection()) s->abort();
    silent.close();
    QTRY_COMPARE_WITH_TIMEOUT(finished.count(), 1, 30'000);
    QCOMPARE(finished.first().first().toString(), QStringLiteral(R"({"err":"upload failure"})"));
    QVERIFY(!w->Scripts.isEmpty());
    for (const QString& code : w->Scripts) QVERIFY2(!code.startsWith(QStringLiteral("uploadCallback")), qPrintable(code));
  }

  void AScreenshotIsSavedAndSent() {
    auto w = Support(kUnknownGuid, Base);
    QVERIFY(w);
    w->show();
    const QImage picture = Gradient(64, 48);
    bool hiddenWhileCapturing = false;
    w->ScreenCapture = [&] {
      hiddenWhileCapturing = !w->isVisible();
      return picture;
    };
    const QStringList before = Uploads();
    QSignalSpy finished(w.get(), &TFrmTarnSupport::UploadFinished);
    w->TakeScreenshot();
    QVERIFY(hiddenWhileCapturing);
    QVERIFY(w->isVisible());
    QVERIFY(finished.wait(30'000));
    const QRegularExpressionMatch m = QRegularExpression(QStringLiteral("^uploadBegain\\(\"(tarn\\w{6}\\.png)\", \"\\.png\"\\)$"))
                                          .match(w->Scripts.value(0));
    QVERIFY2(m.hasMatch(), qPrintable(w->Scripts.value(0)));
    const QString saved = QDir::temp().filePath(m.captured(1));
    QVERIFY(QFile::exists(saved));
    QCOMPARE(QImage(saved).convertToFormat(QImage::Format_RGB32), picture);
    QStringList added = Uploads();
    for (const QString& name : before) added.removeOne(name);
    QCOMPARE(added.size(), 1);
    QVERIFY(ReadFile(State + QStringLiteral("/uploads/") + added.first()) == ReadFile(saved));
    QFile::remove(saved);

    // A capture given up sends nothing.
    w->ScreenCapture = [] { return QImage(); };
    w->Scripts.clear();
    w->TakeScreenshot();
    QVERIFY(w->isVisible());
    QVERIFY(!w->UploadRunning());
    QCOMPARE(w->Scripts, QStringList());
  }

  void TheCaptureKeepsTheDraggedRectangle_data() {
    QTest::addColumn<QPoint>("from");
    QTest::addColumn<QPoint>("to");
    QTest::addColumn<QRect>("region");  // empty: nothing kept, the window stays
    QTest::newRow("up and left") << QPoint(50, 40) << QPoint(10, 10) << QRect(10, 10, 40, 30);
    QTest::newRow("down and right") << QPoint(10, 10) << QPoint(50, 40) << QRect(10, 10, 40, 30);
    QTest::newRow("down and left") << QPoint(50, 10) << QPoint(10, 40) << QRect(10, 10, 40, 30);
    QTest::newRow("one pixel") << QPoint(7, 9) << QPoint(8, 10) << QRect(7, 9, 1, 1);
    QTest::newRow("no width") << QPoint(30, 10) << QPoint(30, 40) << QRect();
    QTest::newRow("no height") << QPoint(10, 25) << QPoint(60, 25) << QRect();
    QTest::newRow("a click") << QPoint(20, 20) << QPoint(20, 20) << QRect();
  }

  void TheCaptureKeepsTheDraggedRectangle() {
    QFETCH(QPoint, from);
    QFETCH(QPoint, to);
    QFETCH(QRect, region);
    const QImage frozen = Gradient(120, 90);
    TFrmCatch c;
    c.SetFrozen(frozen);
    QCOMPARE(c.size(), frozen.size());
    QCOMPARE(c.cursor().shape(), Qt::CrossCursor);
    QVERIFY(c.windowFlags().testFlag(Qt::FramelessWindowHint));
    QVERIFY(c.windowFlags().testFlag(Qt::WindowStaysOnTopHint));
    QSignalSpy accepted(&c, &QDialog::accepted);
    QSignalSpy rejected(&c, &QDialog::rejected);
    c.show();
    QVERIFY(QTest::qWaitForWindowExposed(&c));
    SendMouse(&c, QEvent::MouseButtonPress, from, Qt::LeftButton, Qt::LeftButton);
    SendMouse(&c, QEvent::MouseMove, to, Qt::NoButton, Qt::LeftButton);
    const QImage shown = c.Shown();
    if (region.width() >= 3 && region.height() >= 3) {
      // Outlined on its edge, darkened inside, untouched outside.
      QCOMPARE(shown.pixel(region.topLeft()), TFrmCatch::kOutline);
      QCOMPARE(shown.pixel(region.bottomRight()), TFrmCatch::kOutline);
      const QPoint inside = region.center();
      const QColor was = frozen.pixelColor(inside);
      const QColor now = shown.pixelColor(inside);
      QVERIFY(qAbs(now.red() - was.red() * (255 - 26) / 255) <= 1);
      QVERIFY(qAbs(now.green() - was.green() * (255 - 26) / 255) <= 1);
      QCOMPARE(shown.pixel(region.topLeft() - QPoint(1, 1)), frozen.pixel(region.topLeft() - QPoint(1, 1)));
      QCOMPARE(shown.pixel(region.bottomRight() + QPoint(1, 1)), frozen.pixel(region.bottomRight() + QPoint(1, 1)));
    }
    // The frozen picture itself is not drawn on.
    QCOMPARE(c.Frozen(), frozen.convertToFormat(QImage::Format_RGB32));
    SendMouse(&c, QEvent::MouseButtonRelease, to, Qt::LeftButton, Qt::NoButton);
    if (region.isEmpty()) {
      QVERIFY(c.Captured().isNull());
      QVERIFY(c.isVisible());
      QCOMPARE(accepted.count() + rejected.count(), 0);
      QCOMPARE(c.Shown(), c.Frozen());
      return;
    }
    QCOMPARE(accepted.count(), 1);
    QVERIFY(!c.isVisible());
    QCOMPARE(c.Captured(), frozen.copy(region));
  }

  void TheCaptureIsGivenUp_data() {
    QTest::addColumn<bool>("escape");
    QTest::newRow("escape") << true;
    QTest::newRow("right button") << false;
  }

  void TheCaptureIsGivenUp() {
    QFETCH(bool, escape);
    TFrmCatch c;
    c.SetFrozen(Gradient(100, 80));
    QSignalSpy accepted(&c, &QDialog::accepted);
    QSignalSpy rejected(&c, &QDialog::rejected);
    c.show();
    QVERIFY(QTest::qWaitForWindowExposed(&c));
    // A right press starts nothing: the left release after it keeps nothing.
    SendMouse(&c, QEvent::MouseButtonPress, QPoint(5, 5), Qt::RightButton, Qt::RightButton);
    SendMouse(&c, QEvent::MouseMove, QPoint(40, 40), Qt::NoButton, Qt::RightButton);
    QCOMPARE(c.Shown(), c.Frozen());
    SendMouse(&c, QEvent::MouseButtonPress, QPoint(10, 10), Qt::LeftButton, Qt::LeftButton);
    SendMouse(&c, QEvent::MouseMove, QPoint(30, 30), Qt::NoButton, Qt::LeftButton);
    if (escape) {
      QTest::keyClick(&c, Qt::Key_Escape);
    } else {
      SendMouse(&c, QEvent::MouseButtonRelease, QPoint(30, 30), Qt::RightButton, Qt::LeftButton);
    }
    QCOMPARE(rejected.count(), 1);
    QCOMPARE(accepted.count(), 0);
    QVERIFY(c.Captured().isNull());
    QVERIFY(!c.isVisible());
  }

  // Under Xvfb: the support window over a plain desktop, and the capture window with a
  // rectangle being dragged, for a person to look at.
  void screenshots() {
    const QString out = qEnvironmentVariable("RESTOVO_SCREENSHOTS");
    if (QGuiApplication::platformName() != QLatin1StringView("xcb") || out.isEmpty())
      QSKIP("screenshots are taken on X11 with RESTOVO_SCREENSHOTS set");
    QVERIFY(QDir().mkpath(out));

    QWidget desktop(nullptr, Qt::FramelessWindowHint);
    desktop.setStyleSheet(QStringLiteral("background: #5a7d9a;"));
    desktop.setGeometry(desktop.screen()->geometry());
    desktop.show();
    QVERIFY(QTest::qWaitForWindowExposed(&desktop));

    auto w = Support(kUnknownGuid, Base);
    QVERIFY(w);
    QSignalSpy loaded(w->Page(), &QWebEnginePage::loadFinished);
    w->ShowSupport();
    QVERIFY(loaded.wait(30'000));
    QVERIFY(QTest::qWaitForWindowExposed(w.get()));
    QTest::qWait(1500);
    const QPixmap support = w->screen()->grabWindow(0);
    QVERIFY(!support.isNull());
    QVERIFY(support.save(QDir(out).filePath(QStringLiteral("support-center.png"))));

    TFrmCatch c;
    c.Freeze();
    QCOMPARE(c.Frozen().size(), c.screen()->geometry().size());
    c.show();
    QVERIFY(QTest::qWaitForWindowExposed(&c));
    const QPoint from = w->geometry().topLeft() + QPoint(40, 60);
    const QPoint to = from + QPoint(300, 200);
    SendMouse(&c, QEvent::MouseButtonPress, from, Qt::LeftButton, Qt::LeftButton);
    SendMouse(&c, QEvent::MouseMove, to, Qt::NoButton, Qt::LeftButton);
    QTest::qWait(500);
    const QPixmap capture = c.screen()->grabWindow(0);
    QVERIFY(capture.save(QDir(out).filePath(QStringLiteral("support-capture.png"))));
    SendMouse(&c, QEvent::MouseButtonRelease, to, Qt::LeftButton, Qt::NoButton);
    QCOMPARE(c.Captured().size(), QSize(300, 200));
  }

 private:
  static constexpr int accept_ = TSupportNavigation::Accept;
};

int main(int argc, char** argv) {
  PrepareWebEngine();
  // No GPU in the test machines: Chromium draws in software.
  if (!qEnvironmentVariableIsSet("QTWEBENGINE_CHROMIUM_FLAGS"))
    qputenv("QTWEBENGINE_CHROMIUM_FLAGS", "--disable-gpu");
  QApplication app(argc, argv);
  SupportCenterTest test;
  QTEST_SET_MAIN_SOURCE_PATH
  return QTest::qExec(&test, argc, argv);
}

#include "SupportCenterTest.moc"
