// The advertising panel and the install report against the real reference services,
// started on a free loopback port with a copy of their sample data whose list each case
// rewrites. Rotation and change-over run on a clock the test moves; nothing sleeps for
// an advertisement's lifetime. Under Xvfb it also takes pictures of the panel.
#include <QDir>
#include <QFile>
#include <QImage>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QPointer>
#include <QProcess>
#include <QRegularExpression>
#include <QScreen>
#include <QSignalSpy>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTemporaryDir>
#include <QtTest>

#include "ServicesFixture.h"

#include <memory>

#include "UAd.h"
#include "uInstallStatus.h"

using namespace restovo;
using namespace restovo::test;

namespace {

bool WritePicture(const QString& path, QSize size, QColor color) {
  QDir().mkpath(QFileInfo(path).absolutePath());
  QImage image(size, QImage::Format_RGB32);
  image.fill(color);
  return image.save(path, "PNG");
}

QString Day(int fromToday) { return QDate::currentDate().addDays(fromToday).toString(QStringLiteral("yyyy-MM-dd")); }

// One element of the list; a null date leaves the member out.
QJsonObject AdElement(const QString& title, const QString& start, const QString& expire, int lifetime = 5,
                      const QString& img = QString()) {
  QJsonObject o{{QStringLiteral("title"), title},
                {QStringLiteral("tip"), title + QStringLiteral(" tip")},
                {QStringLiteral("link"), QStringLiteral("{base}/help/#") + title},
                {QStringLiteral("img"), img},
                {QStringLiteral("lifetime"), lifetime}};
  if (!start.isNull()) o.insert(QStringLiteral("startdate"), start);
  if (!expire.isNull()) o.insert(QStringLiteral("expire"), expire);
  return o;
}

// A list as the service answers it, handed to the panel without the service.
QString ListText(const QJsonArray& ads) {
  const QJsonObject list{{QStringLiteral("servertime"), QStringLiteral("2030-01-01 00:00:00")}, {QStringLiteral("ads"), ads}};
  return QString::fromUtf8(QJsonDocument(list).toJson(QJsonDocument::Compact));
}

QStringList Titles(const TTarnDirectAdShower& panel) {
  QStringList titles;
  for (int i = 0; i < panel.AdCount(); ++i) titles << panel.Ad(i)->Title;
  return titles;
}

const QColor Red(220, 20, 20);
const QColor Blue(20, 20, 220);

}  // namespace

class AdPanelTest : public QObject {
  Q_OBJECT

  QTemporaryDir Dir;
  QString Data;
  QString State;
  QProcess Server;
  QString Base;
  QByteArray Log;
  qint64 Clock = 1000000000;
  int SaveFolders = 0;

  TServiceHosts Hosts() const { return {Base, Base, Base}; }

  void SetAds(const QJsonArray& ads) {
    QVERIFY(WriteFile(Data + QStringLiteral("/ads.json"), QJsonDocument(ads).toJson()));
  }

  // A fresh folder for the kept pictures.
  QString NewSavePath() { return Dir.filePath(QStringLiteral("save%1").arg(++SaveFolders)); }

  // A panel on the test's server and clock whose timers never fire by themselves during a
  // case: the ticks are the test's.
  std::unique_ptr<TTarnDirectAdShower> Panel(const QString& savePath) {
    auto panel = std::make_unique<TTarnDirectAdShower>();
    panel->setCheckUrl(AdListUrl(Hosts()));
    panel->setSavePath(savePath);
    panel->setAniInterval(3600000);
    panel->Now = [this] { return Clock; };
    return panel;
  }

  // Fetches the list and waits until every picture is loaded or given up.
  bool Load(TTarnDirectAdShower& panel) {
    QSignalSpy processed(&panel, &TTarnDirectAdShower::ListProcessed);
    if (!panel.Fetch()) return false;
    if (!processed.wait(20000)) return false;
    return QTest::qWaitFor(
        [&] {
          for (int i = 0; i < panel.AdCount(); ++i)
            if (!panel.Ad(i)->PictureSettled) return false;
          return true;
        },
        20000);
  }

  // How many requests the server logged whose target contains the text.
  int Requests(const QString& target) {
    while (Server.waitForReadyRead(100)) Log += Server.readAllStandardOutput();
    Log += Server.readAllStandardOutput();
    int n = 0;
    for (const QByteArray& line : Log.split('\n'))
      if (line.contains(' ' + target.toUtf8())) ++n;
    return n;
  }

 private slots:
  void initTestCase() {
    const QString program = qEnvironmentVariable("RESTOVO_SERVICES_BIN");
    if (!QFile::exists(program)) QSKIP("restovo-services is not built");
    Data = Dir.filePath(QStringLiteral("data"));
    State = Dir.filePath(QStringLiteral("state"));
    const QString failed = StartServices(Server, Data, State, Base);
    QVERIFY2(failed.isEmpty(), qPrintable(failed));
    QVERIFY(WriteFile(Data + QStringLiteral("/www/list/empty-array.txt"), "[]"));
    QVERIFY(WriteFile(Data + QStringLiteral("/www/list/empty.txt"), ""));
    QVERIFY(WritePicture(Data + QStringLiteral("/www/ads/red.png"), {200, 100}, Red));
    QVERIFY(WritePicture(Data + QStringLiteral("/www/ads/blue.png"), {200, 100}, Blue));
  }

  void cleanupTestCase() {
    Server.kill();
    Server.waitForFinished();
  }

  void init() { Clock = 1000000000; }

  void DatesDecideWhatIsShown_data() {
    QTest::addColumn<QJsonArray>("ads");
    QTest::addColumn<QStringList>("shown");
    const QString none;  // member left out
    const QString zeros = QStringLiteral("0000-00-00");
    QTest::newRow("start after the server's day is skipped")
        << QJsonArray{AdElement("A", Day(1), zeros), AdElement("B", zeros, zeros)} << QStringList{"B"};
    QTest::newRow("start on the server's day is shown")
        << QJsonArray{AdElement("A", Day(0), zeros)} << QStringList{"A"};
    QTest::newRow("expire on the server's day is shown")
        << QJsonArray{AdElement("A", Day(-30), Day(0))} << QStringList{"A"};
    QTest::newRow("expired the day before is skipped")
        << QJsonArray{AdElement("A", zeros, Day(-1)), AdElement("B", zeros, Day(1))} << QStringList{"B"};
    QTest::newRow("zeros, empty and missing mean no date")
        << QJsonArray{AdElement("A", zeros, zeros), AdElement("B", "", ""), AdElement("C", none, none)}
        << QStringList{"A", "B", "C"};
    QTest::newRow("an unreadable start ends the list there")
        << QJsonArray{AdElement("A", zeros, zeros), AdElement("B", "2025/01/01", zeros), AdElement("C", zeros, zeros)}
        << QStringList{"A"};
    QTest::newRow("an unreadable expiry ends the list there")
        << QJsonArray{AdElement("A", zeros, zeros), AdElement("B", zeros, "soon"), AdElement("C", zeros, zeros)}
        << QStringList{"A"};
    QTest::newRow("a skipped start is not read further")
        << QJsonArray{AdElement("A", Day(2), "soon"), AdElement("B", zeros, zeros)} << QStringList{"B"};
    QTest::newRow("an element that is no object ends the list")
        << QJsonArray{AdElement("A", zeros, zeros), 5, AdElement("C", zeros, zeros)} << QStringList{"A"};
  }

  void DatesDecideWhatIsShown() {
    QFETCH(QJsonArray, ads);
    QFETCH(QStringList, shown);
    SetAds(ads);
    auto panel = Panel(NewSavePath());
    QVERIFY(Load(*panel));
    QCOMPARE(Titles(*panel), shown);
    for (int i = 0; i < panel->AdCount(); ++i) QCOMPARE(panel->Ad(i)->Index, i);
    QCOMPARE(panel->Ad(0)->Tip, shown.first() + QStringLiteral(" tip"));
    QCOMPARE(panel->Ad(0)->Link, Base + QStringLiteral("/help/#") + shown.first());
    QCOMPARE(panel->CurAd(), panel->Ad(0));
  }

  void LifetimeOfTheLastAccepted_data() {
    QTest::addColumn<QJsonArray>("ads");
    QTest::addColumn<int>("lifetime");
    const QString zeros = QStringLiteral("0000-00-00");
    QTest::newRow("last decides") << QJsonArray{AdElement("A", zeros, zeros, 5), AdElement("B", zeros, zeros, 8)} << 8;
    QTest::newRow("a skipped one does not")
        << QJsonArray{AdElement("A", zeros, zeros, 7), AdElement("B", zeros, Day(-1), 8)} << 7;
    QTest::newRow("nothing after the end counts")
        << QJsonArray{AdElement("A", zeros, zeros, 9), AdElement("B", "bad", zeros, 8)} << 9;
  }

  void LifetimeOfTheLastAccepted() {
    QFETCH(QJsonArray, ads);
    QFETCH(int, lifetime);
    SetAds(ads);
    auto panel = Panel(NewSavePath());
    QCOMPARE(panel->lifetime(), 5);
    QVERIFY(Load(*panel));
    QCOMPARE(panel->lifetime(), lifetime);
  }

  void RepliesWithoutAdsLeaveThePanelEmpty_data() {
    QTest::addColumn<QString>("path");
    QTest::newRow("[]") << QStringLiteral("/list/empty-array.txt");
    QTest::newRow("empty") << QStringLiteral("/list/empty.txt");
    QTest::newRow("not found") << QStringLiteral("/no/such/list");
    QTest::newRow("a page, not JSON") << QStringLiteral("/help/");
    QTest::newRow("an empty list") << QStringLiteral("/info_group/index.php?to=getinfonew&pid=4");
  }

  void RepliesWithoutAdsLeaveThePanelEmpty() {
    QFETCH(QString, path);
    SetAds({});
    auto panel = Panel(NewSavePath());
    panel->setCheckUrl(QUrl(Base + path));
    QSignalSpy shown(panel.get(), &TTarnDirectAdShower::ImgDone);
    QVERIFY(Load(*panel));
    QCOMPARE(panel->AdCount(), 0);
    QVERIFY(!panel->CurAd());
    QCOMPARE(shown.count(), 0);
    QVERIFY(!panel->IsRotating());
    panel->RotationTick();
    QVERIFY(!panel->CurAd());
  }

  void NoAddressNoRequest() {
    const int before = Requests(QStringLiteral("/info_group/"));
    auto panel = Panel(NewSavePath());
    panel->setCheckUrl(AdListUrl({Base, Base, QString()}));
    QVERIFY(panel->checkUrl().isEmpty());
    QVERIFY(!panel->Fetch());
    QTest::qWait(300);
    QCOMPARE(Requests(QStringLiteral("/info_group/")), before);
    QCOMPARE(panel->AdCount(), 0);
    // The address the window gives, for comparison.
    QCOMPARE(AdListUrl(Hosts()).toString(), Base + QStringLiteral("/info_group/index.php?to=getinfonew&pid=4"));
  }

  void PicturesAreKeptAndNeverFetchedAgain() {
    const QString zeros = QStringLiteral("0000-00-00");
    SetAds({AdElement("A", zeros, zeros, 5, QStringLiteral("{base}/ads/ad1.png")),
            AdElement("B", zeros, zeros, 5, QStringLiteral("{base}/ads/missing.png"))});
    const QString save = NewSavePath();
    const int fetchedBefore = Requests(QStringLiteral("/ads/ad1.png"));
    {
      auto panel = Panel(save);
      QVERIFY(Load(*panel));
      QCOMPARE(panel->AdCount(), 2);
      const QString kept = save + QStringLiteral("/UpdateInfo/ad1.png");
      QCOMPARE(panel->Ad(0)->LocalFile, kept);
      QCOMPARE(ReadFile(kept), ReadFile(Data + QStringLiteral("/www/ads/ad1.png")));
      QCOMPARE(panel->Ad(0)->Picture.size(), QSize(200, 60));
      // A picture that cannot be had leaves no file and keeps its advertisement.
      QVERIFY(panel->Ad(1)->Picture.isNull());
      QVERIFY(!QFile::exists(save + QStringLiteral("/UpdateInfo/missing.png")));
      QCOMPARE(QDir(save + QStringLiteral("/UpdateInfo")).entryList(QDir::Files), QStringList{"ad1.png"});
    }
    QCOMPARE(Requests(QStringLiteral("/ads/ad1.png")), fetchedBefore + 1);

    // The server's picture changes; the kept one stays the advertisement's picture.
    const QByteArray original = ReadFile(Data + QStringLiteral("/www/ads/ad1.png"));
    QVERIFY(WritePicture(Data + QStringLiteral("/www/ads/ad1.png"), {30, 30}, Red));
    auto again = Panel(save);
    QSignalSpy shown(again.get(), &TTarnDirectAdShower::ImgDone);
    QVERIFY(Load(*again));
    QVERIFY(WriteFile(Data + QStringLiteral("/www/ads/ad1.png"), original));
    QCOMPARE(again->Ad(0)->Picture.size(), QSize(200, 60));
    QCOMPARE(Requests(QStringLiteral("/ads/ad1.png")), fetchedBefore + 1);
    QCOMPARE(shown.count(), 1);
    QCOMPARE(shown.first(), (QList<QVariant>{200, 60}));
  }

  void PictureNamesStayInTheFolder_data() {
    QTest::addColumn<QString>("img");
    QTest::addColumn<QString>("name");
    QTest::newRow("plain") << "http://host/ads/ad1.png" << "ad1.png";
    QTest::newRow("back slashes") << "http://host/..\\..\\evil.png" << "evil.png";
    QTest::newRow("parent") << "http://host/ads/.." << "";
    QTest::newRow("current") << "http://host/ads/." << "";
    QTest::newRow("folder") << "http://host/ads/" << "";
    QTest::newRow("empty") << "" << "";
  }

  void PictureNamesStayInTheFolder() {
    QFETCH(QString, img);
    QFETCH(QString, name);
    QCOMPARE(TTarnDirectAdShower::LocalPictureName(img), name);
  }

  void RotationAndChangeOver() {
    const QString zeros = QStringLiteral("0000-00-00");
    SetAds({AdElement("Red", zeros, zeros, 5, QStringLiteral("{base}/ads/red.png")),
            AdElement("Blue", zeros, zeros, 5, QStringLiteral("{base}/ads/blue.png"))});
    auto panel = Panel(NewSavePath());
    panel->resize(200, 100);
    QStringList opened;
    panel->OpenUrl = [&opened](const QUrl& url) { opened << url.toString(); };
    QSignalSpy shown(panel.get(), &TTarnDirectAdShower::ImgDone);
    QVERIFY(Load(*panel));
    // Whichever picture arrived first is on show.
    const TTarnDirectAd* first = panel->CurAd();
    QVERIFY(first);
    const TTarnDirectAd* second = panel->Ad(1 - first->Index);
    const QColor firstColor = first->Title == QLatin1String("Red") ? Red : Blue;
    const QColor secondColor = first->Title == QLatin1String("Red") ? Blue : Red;
    QCOMPARE(shown.count(), 1);
    QCOMPARE(shown.first(), (QList<QVariant>{200, 100}));
    QCOMPARE(panel->toolTip(), first->Tip);
    QVERIFY(panel->IsRotating());
    QCOMPARE(panel->ShownPicture().toImage().pixelColor(10, 10), firstColor);

    QTest::mouseClick(panel.get(), Qt::LeftButton, {}, QPoint(100, 50));
    QCOMPARE(opened, QStringList{first->Link});

    for (const qint64 step : {1000, 2000, 2000}) {
      Clock += step;
      panel->RotationTick();
      QCOMPARE(panel->CurAd(), first);
      QVERIFY(!panel->IsAnimating());
    }
    Clock += 1;
    panel->RotationTick();
    QCOMPARE(panel->CurAd(), second);
    QCOMPARE(shown.count(), 2);
    QCOMPARE(panel->toolTip(), second->Tip);
    QVERIFY(panel->IsAnimating());
    QVERIFY(!panel->IsRotating());
    // A tick during the change-over changes nothing.
    Clock += 60000;
    panel->RotationTick();
    QCOMPARE(shown.count(), 2);

    // The new picture uncovers the old one from the right, a tenth per step.
    const int w = 200;
    for (int s = 0; s < 8; ++s) {
      panel->AnimationTick();
      QVERIFY(panel->IsAnimating());
      QCOMPARE(panel->AnimationStep(), s + 1);
      const QImage frame = panel->ShownPicture().toImage();
      const int edge = w - (w / 10) * (s + 1);
      QCOMPARE(frame.size(), QSize(200, 100));
      QCOMPARE(frame.pixelColor(0, 50), firstColor);
      QCOMPARE(frame.pixelColor(edge - 1, 50), firstColor);
      QCOMPARE(frame.pixelColor(edge, 50), secondColor);
      QCOMPARE(frame.pixelColor(w - 1, 99), secondColor);
    }
    panel->AnimationTick();
    QVERIFY(!panel->IsAnimating());
    QVERIFY(panel->IsRotating());
    QCOMPARE(panel->AnimationStep(), 0);
    QCOMPARE(panel->ShownPicture().toImage().pixelColor(5, 5), secondColor);

    QTest::mouseClick(panel.get(), Qt::LeftButton, {}, QPoint(100, 50));
    QCOMPARE(opened.last(), second->Link);

    // The lifetime counts from the end of the change-over, then the list wraps.
    Clock += 5000;
    panel->RotationTick();
    QCOMPARE(panel->CurAd(), second);
    Clock += 1;
    panel->RotationTick();
    QCOMPARE(panel->CurAd(), first);
    QVERIFY(panel->IsAnimating());
  }

  void ASingleAdNeverChanges() {
    const QString zeros = QStringLiteral("0000-00-00");
    SetAds({AdElement("Red", zeros, zeros, 1, QStringLiteral("{base}/ads/red.png"))});
    auto panel = Panel(NewSavePath());
    QSignalSpy shown(panel.get(), &TTarnDirectAdShower::ImgDone);
    QVERIFY(Load(*panel));
    const TTarnDirectAd* only = panel->CurAd();
    QVERIFY(only);
    for (int i = 0; i < 5; ++i) {
      Clock += 3600000;
      panel->RotationTick();
    }
    QCOMPARE(panel->CurAd(), only);
    QVERIFY(!panel->IsAnimating());
    QCOMPARE(shown.count(), 1);
  }

  void ADestroyedPanelDropsLateAnswers() {
    const QString zeros = QStringLiteral("0000-00-00");
    SetAds({AdElement("Red", zeros, zeros, 5, QStringLiteral("{base}/ads/red.png"))});
    auto panel = Panel(NewSavePath());
    QPointer<QThread> fetch = panel->Fetch();
    QVERIFY(fetch);
    panel.reset();
    QTRY_VERIFY_WITH_TIMEOUT(fetch.isNull(), 20000);

    // The same with a picture on its way.
    const QString save = NewSavePath();
    auto other = Panel(save);
    other->ProcessList(ListText({QJsonObject{{"title", "Blue"}, {"img", Base + QStringLiteral("/ads/blue.png")}}}));
    QCOMPARE(other->AdCount(), 1);
    QVERIFY(!other->CurAd());
    other.reset();
    QTRY_VERIFY_WITH_TIMEOUT(QFile::exists(save + QStringLiteral("/UpdateInfo/blue.png")), 20000);
    QTest::qWait(200);
  }

  void PictureFitsThePanel_data() {
    QTest::addColumn<QSize>("panel");
    QTest::addColumn<QSize>("picture");
    QTest::addColumn<QRect>("placed");
    QTest::newRow("oblong panel stretches") << QSize(200, 100) << QSize(200, 60) << QRect(0, 0, 200, 100);
    QTest::newRow("oblong panel, square picture") << QSize(200, 100) << QSize(40, 40) << QRect(0, 0, 200, 100);
    QTest::newRow("square panel, landscape") << QSize(100, 100) << QSize(200, 50) << QRect(0, 37, 100, 25);
    QTest::newRow("square panel, portrait") << QSize(100, 100) << QSize(50, 200) << QRect(37, 0, 25, 100);
    QTest::newRow("square panel, small square") << QSize(100, 100) << QSize(40, 40) << QRect(30, 30, 40, 40);
    QTest::newRow("square panel, same size") << QSize(100, 100) << QSize(100, 100) << QRect(0, 0, 100, 100);
    QTest::newRow("square panel, large square") << QSize(100, 100) << QSize(150, 150) << QRect(0, 0, 100, 100);
  }

  void PictureFitsThePanel() {
    QFETCH(QSize, panel);
    QFETCH(QSize, picture);
    QFETCH(QRect, placed);
    const QString save = NewSavePath();
    QVERIFY(WritePicture(save + QStringLiteral("/UpdateInfo/p.png"), picture, Red));
    // The kept picture is used: the address is never asked.
    auto shower = Panel(save);
    shower->resize(panel);
    shower->ProcessList(
        ListText({QJsonObject{{"title", "P"}, {"img", QStringLiteral("http://127.0.0.1:%1/p.png").arg(ClosedPort())}}}));
    QVERIFY(shower->CurAd());
    QCOMPARE(shower->PictureRect(), placed);
    const QImage drawn = shower->grab().toImage();
    QCOMPARE(drawn.pixelColor(placed.center()), Red);
  }

  void InstallReportReachesTheService() {
    const QString tsv = State + QStringLiteral("/install-statistics.tsv");
    const QString guid = QStringLiteral("{8F0C2A3E-5B7D-4C1A-9E6F-2D4B8A1C3E5F}");
    QPointer<QThread> post = PostInstallStatus(Hosts(), 3, QStringLiteral("1.2 beta+1&x=y"), guid);
    QVERIFY(post);
    QTRY_VERIFY_WITH_TIMEOUT(post.isNull(), 20000);
    const QList<QByteArray> lines = ReadFile(tsv).trimmed().split('\n');
    const QList<QByteArray> fields = lines.last().split('\t');
    QCOMPARE(fields.size(), 4);
    QCOMPARE(fields.mid(1), (QList<QByteArray>{"1.2 beta+1&x=y", "3", guid.toUtf8()}));

    // Second site off: nothing goes out.
    const int before = Requests(QStringLiteral("/install_statistics/"));
    QVERIFY(!PostInstallStatus({Base, QString(), Base}, 3, QStringLiteral("1.2"), guid));
    QTest::qWait(300);
    QCOMPARE(Requests(QStringLiteral("/install_statistics/")), before);
    QCOMPARE(ReadFile(tsv).trimmed().split('\n').size(), lines.size());

    // Nobody listening: the report ends quietly.
    const QString closed = QStringLiteral("http://127.0.0.1:%1").arg(ClosedPort());
    QPointer<QThread> lost = PostInstallStatus({closed, closed, closed}, 3, QStringLiteral("1.2"), guid);
    QVERIFY(lost);
    QTRY_VERIFY_WITH_TIMEOUT(lost.isNull(), 20000);
  }

  void InstallReportRequestAsSent() {
    QCOMPARE(InstallStatusBody(3, QStringLiteral("1.0 b+1&x=y"), QStringLiteral("{A-B}")),
             QByteArray("product_ver=1.0%20b%2B1%26x%3Dy&product_id=3&gu_id=%7BA-B%7D"));
    // What goes over the wire, seen by a listener of the test's own.
    QTcpServer listener;
    QVERIFY(listener.listen(QHostAddress::LocalHost, 0));
    QByteArray request;
    QTcpSocket* client = nullptr;
    connect(&listener, &QTcpServer::newConnection, this, [&] {
      client = listener.nextPendingConnection();
      connect(client, &QTcpSocket::readyRead, this, [&] {
        request += client->readAll();
        if (request.endsWith("gu_id=7")) {
          client->write("HTTP/1.1 200 OK\r\nContent-Length: 2\r\nConnection: close\r\n\r\nOK");
          client->disconnectFromHost();
        }
      });
    });
    const QString host = QStringLiteral("http://127.0.0.1:%1/").arg(listener.serverPort());
    QPointer<QThread> post = PostInstallStatus({QString(), host, QString()}, 4, QStringLiteral("2.0"), QStringLiteral("7"));
    QVERIFY(post);
    QTRY_VERIFY_WITH_TIMEOUT(post.isNull(), 20000);
    QVERIFY2(request.startsWith("POST /install_statistics/index.php?p=install_statistics HTTP/1.1\r\n"), request.constData());
    QVERIFY2(request.contains("\r\nContent-Type: application/x-www-form-urlencoded \r\n"), request.constData());
    QVERIFY2(request.contains("\r\nUser-Agent: Mozilla/4.0 (compatible; MSIE 6.0; Windows NT 5.0; Maxthon)\r\n"),
             request.constData());
    QVERIFY(request.endsWith("\r\n\r\nproduct_ver=2.0&product_id=4&gu_id=7"));
  }

  void Screenshots() {
    const QString out = qEnvironmentVariable("RESTOVO_SCREENSHOTS");
    if (QGuiApplication::platformName() != QLatin1StringView("xcb") || out.isEmpty())
      QSKIP("screenshots are taken on X11 with RESTOVO_SCREENSHOTS set");
    QDir().mkpath(out);
    QVERIFY(WriteFile(Data + QStringLiteral("/ads.json"), ReadFile(qEnvironmentVariable("RESTOVO_SERVICES_DATA") +
                                                                    QStringLiteral("/ads.json"))));
    const QString save = NewSavePath();
    // Kept in list order, so that the first advertisement is the one on show.
    QVERIFY(QFile::copy(Data + QStringLiteral("/www/ads/ad1.png"), save + QStringLiteral("/UpdateInfo/ad1.png")) ||
            (QDir().mkpath(save + QStringLiteral("/UpdateInfo")) &&
             QFile::copy(Data + QStringLiteral("/www/ads/ad1.png"), save + QStringLiteral("/UpdateInfo/ad1.png"))));
    QVERIFY(QFile::copy(Data + QStringLiteral("/www/ads/ad2.png"), save + QStringLiteral("/UpdateInfo/ad2.png")));
    auto panel = Panel(save);
    panel->setWindowFlag(Qt::FramelessWindowHint);
    panel->setGeometry(100, 100, 200, 100);
    QVERIFY(Load(*panel));
    QCOMPARE(panel->CurAd(), panel->Ad(0));
    panel->show();
    QVERIFY(QTest::qWaitForWindowExposed(panel.get()));
    QTest::qWait(300);
    const auto shoot = [&](const QString& name) {
      const QPoint at = panel->mapToGlobal(QPoint(0, 0));
      const QPixmap shot = panel->screen()->grabWindow(0, at.x(), at.y(), panel->width(), panel->height());
      QCOMPARE(shot.size(), QSize(200, 100));
      QVERIFY(shot.save(QDir(out).filePath(name)));
    };
    shoot(QStringLiteral("ad-panel.png"));
    Clock += 5001;
    panel->RotationTick();
    for (int s = 0; s < 4; ++s) panel->AnimationTick();
    panel->repaint();
    QTest::qWait(300);
    shoot(QStringLiteral("ad-panel-changing.png"));
  }
};

QTEST_MAIN(AdPanelTest)
#include "AdPanelTest.moc"
