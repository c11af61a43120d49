// The window's update check and news against the real reference services, started on a
// free loopback port with a copy of their sample data that each case edits.
#include <QDir>
#include <QFile>
#include <QProcess>
#include <QRegularExpression>
#include <QTcpServer>
#include <QTemporaryDir>
#include <QtTest>

#include "ServicesFixture.h"
#include <memory>

#include "Settings.h"
#include "Translation.h"
#include "Umain.h"
#include "UAd.h"
#include "uSupport.h"
#include "Unew.h"
#include "WebServices.h"
#include "AppTestSupport.h"

using namespace restovo;
using namespace restovo::test;

namespace {

}  // namespace

class OnlineServicesTest : public QObject {
  Q_OBJECT

  QTemporaryDir Dir;
  QString Data;
  QProcess Server;
  QString Base;

  // A window that talks to the test's server only, with the switches given.
  std::unique_ptr<TFrmFRMain> Window(bool checkNewVer, bool getNews, int msgId = 0) {
    TMainWindowOptions o = TestOptions();
    o.Defaults.CheckNewVer = checkNewVer;
    o.Defaults.Getnews = getNews;
    o.Defaults.MsgID = msgId;
    auto w = std::make_unique<TFrmFRMain>(o);
    w->Hosts = {Base, Base, Base};
    return w;
  }

  void SetUpdate(const QByteArray& json) { QVERIFY(WriteFile(Data + QStringLiteral("/update.json"), json)); }
  void SetNews(const QByteArray& ini) { QVERIFY(WriteFile(Data + QStringLiteral("/news/kplinfo.htm"), ini)); }

 private slots:
  void initTestCase() {
    const QString program = qEnvironmentVariable("RESTOVO_SERVICES_BIN");
    if (!QFile::exists(program)) QSKIP("restovo-services is not built");
    ListLanguages();
    SetLanguage(QStringLiteral("English"));
    Data = Dir.filePath(QStringLiteral("data"));
    const QString failed = StartServices(Server, Data, Dir.filePath(QStringLiteral("state")), Base);
    QVERIFY2(failed.isEmpty(), qPrintable(failed));
  }

  void cleanupTestCase() {
    Server.kill();
    Server.waitForFinished();
  }

  void TextsComeWholeOrNotAtAll() {
    const QString descriptor = HttpGetText(NewsDescriptorUrl({Base, Base, Base}));
    QVERIFY(descriptor.contains(QStringLiteral("[Msg]")));
    QCOMPARE(HttpGetText(QUrl(Base + QStringLiteral("/no/such/page.html"))), QString());
    QElapsedTimer t;
    t.start();
    QCOMPARE(HttpGetText(QUrl(QStringLiteral("http://127.0.0.1:%1/news/kplinfo.htm").arg(ClosedPort()))), QString());
    QVERIFY(t.elapsed() < 5000);
    QCOMPARE(HttpGetText(QUrl()), QString());
  }

  void UpdateOffers_data() {
    QTest::addColumn<QByteArray>("reply");
    QTest::addColumn<bool>("manual");
    QTest::addColumn<QString>("message");  // empty: no box
    const QByteArray own = QByteArray::number(BuildNumber());
    const QByteArray next = QByteArray::number(BuildNumber() + 1);
    const QString offer = QStringLiteral("A new version is available! Do you want upgrade it now?");
    const QString none = QStringLiteral("No effective update found.");
    QTest::newRow("same build, manual") << QByteArray("{\"stopped\":0,\"build\":" + own + "}") << true << none;
    QTest::newRow("same build, automatic") << QByteArray("{\"stopped\":0,\"build\":" + own + "}") << false << QString();
    QTest::newRow("newer build, manual") << QByteArray("{\"stopped\":0,\"build\":" + next + ",\"blog_url\":\"\",\"url\":\"http://127.0.0.1:1/dl\"}") << true << offer;
    QTest::newRow("newer build, automatic") << QByteArray("{\"stopped\":0,\"build\":" + next + ",\"blog_url\":\"\",\"url\":\"http://127.0.0.1:1/dl\"}") << false << offer;
    QTest::newRow("stopped 1") << QByteArray("{\"stopped\":1,\"build\":999}") << true << none;
    QTest::newRow("no stopped member") << QByteArray("{\"build\":999}") << true << none;
    QTest::newRow("refused word") << QByteArray("{\"stopped\":0,\"build\":999,\"note\":\"Malwarebytes\"}") << true << none;
    QTest::newRow("not JSON") << QByteArray("<html>busy</html>") << true << none;
  }

  void UpdateOffers() {
    QFETCH(QByteArray, reply);
    QFETCH(bool, manual);
    QFETCH(QString, message);
    SetUpdate(reply);
    auto w = Window(true, false);
    TBoxWatcher boxes;
    boxes.Answer = mrYes;
    w->CheckForUpdate(manual);
    QVERIFY(w->UpdateCheckRunning());
    QVERIFY(WaitFor([&] { return !w->UpdateCheckRunning(); }));
    QTest::qWait(100);
    if (message.isEmpty()) {
      QCOMPARE(boxes.Seen, 0);
      return;
    }
    QCOMPARE(boxes.Seen, 1);
    QCOMPARE(boxes.Text, message);
    // "Yes" opens the download page in the browser.
    if (boxes.Kind == mkConfirm) QCOMPARE(w->LastOpenedLink, QStringLiteral("http://127.0.0.1:1/dl"));
  }

  void ACheckWhileOneRunsIsDropped() {
    SetUpdate("{\"stopped\":0,\"build\":0}");
    auto w = Window(true, false);
    TBoxWatcher boxes;
    w->CheckForUpdate(false);
    w->CheckForUpdate(true);  // ticking the menu entry while the check at start runs
    QVERIFY(WaitFor([&] { return !w->UpdateCheckRunning(); }));
    QTest::qWait(100);
    QCOMPARE(boxes.Seen, 0);  // the running check was automatic: nothing to say
  }

  void AServerThatIsDownChangesNothing() {
    auto w = Window(true, true);
    const QString down = QStringLiteral("http://127.0.0.1:%1").arg(ClosedPort());
    w->Hosts = {down, down, down};
    TBoxWatcher boxes;
    w->CheckForUpdate(false);
    QVERIFY(WaitFor([&] { return !w->UpdateCheckRunning() && !w->NewsFetchRunning(); }));
    QTest::qWait(100);
    QCOMPARE(boxes.Seen, 0);
    QCOMPARE(w->NewsShown, 0);
    w->CheckForUpdate(true);
    QVERIFY(WaitFor([&] { return boxes.Seen > 0; }));
    QCOMPARE(boxes.Text, QStringLiteral("No effective update found."));
    // A service switched off is not contacted at all, and behaves the same.
    w->Hosts = {};
    boxes.Seen = 0;
    w->CheckForUpdate(true);
    QVERIFY(WaitFor([&] { return boxes.Seen > 0; }));
    QCOMPARE(boxes.Text, QStringLiteral("No effective update found."));
  }

  void TheNewsFollowTheCheckAtStart() {
    SetUpdate("{\"stopped\":0,\"build\":0}");
    SetNews("[Msg]\nMsgID=7\nUrl=" + Base.toUtf8() + "/news/msg.html\n");
    auto w = Window(true, true);
    w->CheckForUpdate(false);
    QVERIFY(WaitFor([&] { return w->NewsShown == 7; }));
    QCOMPARE(w->Settings.MsgID, 7);
    // After a manual check no news are fetched.
    auto manual = Window(true, true);
    TBoxWatcher boxes;
    manual->CheckForUpdate(true);
    QVERIFY(WaitFor([&] { return boxes.Seen > 0; }));
    QVERIFY(!manual->NewsFetchRunning());
    QCOMPARE(manual->NewsShown, 0);
  }

  void NewsItemsAreChosenByIdAndLanguage_data() {
    QTest::addColumn<QByteArray>("descriptor");
    QTest::addColumn<int>("remembered");
    QTest::addColumn<QString>("language");
    QTest::addColumn<int>("shown");
    QTest::newRow("new item") << QByteArray("[Msg]\nMsgID=5\n") << 0 << "English" << 5;
    QTest::newRow("item already seen") << QByteArray("[Msg]\nMsgID=5\n") << 5 << "English" << 0;
    QTest::newRow("no item") << QByteArray("[Msg]\nMsgID=0\n") << 0 << "English" << 0;
    QTest::newRow("negative item") << QByteArray("[Msg]\nMsgID=-3\n") << 0 << "English" << 0;
    QTest::newRow("hexadecimal id") << QByteArray("[msg]\nmsgid=0x10\n") << 0 << "English" << 16;
    QTest::newRow("Chinese item, Chinese file") << QByteArray("[Msg]\nMsgID=6\nLangCode=0804\n") << 0 << "简体中文" << 6;
    QTest::newRow("Chinese item, English file") << QByteArray("[Msg]\nMsgID=6\nLangCode=0804\n") << 0 << "English" << 0;
    QTest::newRow("refused word") << QByteArray("[Msg]\nMsgID=8\n; Malwarebytes\n") << 0 << "English" << 0;
    QTest::newRow("not INI") << QByteArray("<html>busy</html>") << 0 << "English" << 0;
  }

  void NewsItemsAreChosenByIdAndLanguage() {
    QFETCH(QByteArray, descriptor);
    QFETCH(int, remembered);
    QFETCH(QString, language);
    QFETCH(int, shown);
    SetNews(descriptor);
    SetLanguage(language);
    auto w = Window(false, true, remembered);
    w->StartGetNews();
    QVERIFY(w->NewsFetchRunning());
    QVERIFY(WaitFor([&] { return !w->NewsFetchRunning(); }));
    QCOMPARE(w->NewsShown, shown);
    QCOMPARE(w->Settings.MsgID, shown ? shown : remembered);
    SetLanguage(QStringLiteral("English"));
  }

  void TheNewsWindowTakesTheDescribedSize_data() {
    QTest::addColumn<QByteArray>("size");
    QTest::addColumn<QSize>("window");
    QTest::newRow("designed") << QByteArray("") << QSize(492, 266);
    QTest::newRow("width alone keeps the designed size") << QByteArray("FormWidth=600\nFormHeight=0\n") << QSize(492, 266);
    QTest::newRow("both given") << QByteArray("FormWidth=600\nFormHeight=300\n") << QSize(602, 326);
  }

  void TheNewsWindowTakesTheDescribedSize() {
    QFETCH(QByteArray, size);
    QFETCH(QSize, window);
    SetNews("[Msg]\nMsgID=11\nUrl=" + Base.toUtf8() + "/news/msg.html\n" + size);
    auto w = Window(false, true);
    w->StartGetNews();
    QVERIFY(WaitFor([&] { return !w->NewsFetchRunning(); }));
    QCOMPARE(w->NewsShown, 11);
    QVERIFY(w->NewsWindow());
    QCOMPARE(w->NewsWindow()->size(), window);
    QCOMPARE(w->NewsWindow()->Url(), QUrl(Base + QStringLiteral("/news/msg.html")));
  }

  void TheWindowStartsTheSupportCentreStatisticsAndAdvertisements() {
    // A version's first run, under an installation with two answers waiting.
    QTemporaryDir settings;
    TMainWindowOptions o = TestOptions();
    o.OnlineServices = true;
    o.Hosts = TServiceHosts{Base, Base, Base};
    o.Defaults.SetupVerChanged = true;
    o.Defaults.InstallId = QStringLiteral("{8F0C2A3E-5B7D-4C1A-9E6F-2D4B8A1C3E5F}");
    o.Defaults.SetupVer = VersionText();
    TFrmFRMain w(o);
    w.ConfigDir = settings.path() + QLatin1Char('/');
    QVERIFY(w.SupportCenter());
    QVERIFY(WaitFor([&] { return w.FeedbackMarked(); }));
    QCOMPARE(w.SupportCenter()->UnreadCount(), 2);
    // The statistics post landed in the services' records.
    const QString statistics = Dir.filePath(QStringLiteral("state/install-statistics.tsv"));
    QVERIFY(WaitFor([&] {
      QFile f(statistics);
      return f.open(QIODevice::ReadOnly) && f.readAll().contains(o.Defaults.InstallId.toUtf8());
    }));
    QFile f(statistics);
    QVERIFY(f.open(QIODevice::ReadOnly));
    const QList<QByteArray> fields = f.readAll().trimmed().split('\n').last().split('\t');
    QCOMPARE(fields.mid(1), (QList<QByteArray>{VersionText().toUtf8(), "14", o.Defaults.InstallId.toUtf8()}));

    // Half a second after the first showing the advertisements arrive, their pictures
    // kept under the settings folder.
    w.show();
    QVERIFY(WaitFor([&] { return w.AdShower()->CurAd() != nullptr; }));
    QVERIFY(w.findChild<QWidget*>(QStringLiteral("pnlad"))->isVisible());
    QVERIFY(WaitFor([&] { return QDir(settings.filePath(QStringLiteral("UpdateInfo"))).entryList(QDir::Files).size() == 2; }));

    // The button opens the support centre and loses its mark.
    w.btnfeedbackClick();
    QVERIFY(!w.FeedbackMarked());
    QVERIFY(w.SupportCenter()->isVisible());
  }

  void NewsAreNotFetchedWhenSwitchedOff() {
    SetNews("[Msg]\nMsgID=9\n");
    auto w = Window(false, false);
    w->StartGetNews();
    QVERIFY(!w->NewsFetchRunning());
  }
};

int main(int argc, char** argv) {
  // The news window's browser is set up before the application, as the program does.
  PrepareWebEngine();
  QApplication app(argc, argv);
  OnlineServicesTest test;
  return QTest::qExec(&test, argc, argv);
}
#include "OnlineServicesTest.moc"
