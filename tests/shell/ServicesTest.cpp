#include "LanguageFixture.h"
#include "Services.h"

#include <QDesktopServices>
#include <QDir>
#include <QTemporaryDir>
#include <QTest>
#include <QUrlQuery>

#include <functional>

using restovo::TVendorAddresses;

namespace {

// A program folder and a settings folder, each of which may get a Services.ini.
struct TFolders {
  QTemporaryDir Root;
  QString App = Root.filePath(QStringLiteral("app"));
  QString Config = Root.filePath(QStringLiteral("config"));

  TFolders() {
    QDir().mkpath(App);
    QDir().mkpath(Config);
  }
  static bool Write(const QString& dir, const QString& name, const QString& text) {
    return restovo::test::WriteFile(QDir(dir).filePath(name), text.toUtf8());
  }
  TVendorAddresses Load() const { return restovo::LoadVendorAddresses(App, Config); }
};

using TBuilder = std::function<QUrl(const TVendorAddresses&)>;

// Records what QDesktopServices was asked to open, instead of starting a browser.
class TUrlCatcher : public QObject {
  Q_OBJECT

 public:
  QList<QUrl> Opened;
  TUrlCatcher() {
    for (const char* scheme : {"http", "https", "mailto"})
      QDesktopServices::setUrlHandler(QString::fromLatin1(scheme), this, "Open");
  }
  ~TUrlCatcher() override {
    for (const char* scheme : {"http", "https", "mailto"})
      QDesktopServices::unsetUrlHandler(QString::fromLatin1(scheme));
  }

 public slots:
  void Open(const QUrl& url) { Opened << url; }
};

}  // namespace

Q_DECLARE_METATYPE(TBuilder)

class ServicesTest : public QObject {
  Q_OBJECT

 private slots:
  void withoutAFileTheLoopbackServicesAreUsed() {
    TFolders f;
    QVERIFY(f.Root.isValid());
    QCOMPARE(restovo::ServicesIniPath(f.App, f.Config), QString());
    const TVendorAddresses a = f.Load();
    QCOMPARE(a.HelpUrl, QStringLiteral("http://127.0.0.1:8470/help/"));
    QCOMPARE(a.ForumUrl, QStringLiteral("http://127.0.0.1:8470/forum/"));
    QCOMPARE(a.HomeUrl, QStringLiteral("http://127.0.0.1:8470/"));
    QCOMPARE(a.SupportEmail, QStringLiteral("support@restovo.example"));
    QCOMPARE(a.ProductUrl, QStringLiteral("http://127.0.0.1:8470/restovo/"));
    QCOMPARE(a.FacebookPage, QStringLiteral("restovo"));
    QCOMPARE(a.TwitterAccount, QStringLiteral("restovo"));
    QCOMPARE(a.ChineseSite, QStringLiteral("http://127.0.0.1:8470/zh/"));
    QCOMPARE(a.TranslateUrl, QStringLiteral("http://127.0.0.1:8470/translate/"));
    QCOMPARE(a.WebAddress, QStringLiteral("http://127.0.0.1:8470/"));
    // An empty folder name must not mean the working directory.
    QCOMPARE(restovo::ServicesIniPath(QString(), QString()), QString());
  }

  void theFileBesideTheProgramWins_data() {
    QTest::addColumn<QString>("appFile");     // name of the file in the program folder, or empty
    QTest::addColumn<QString>("configFile");  // name of the file in the settings folder, or empty
    QTest::addColumn<QString>("expected");    // "app/<name>", "config/<name>" or empty
    QTest::addColumn<QString>("help");

    const QString def = QStringLiteral("http://127.0.0.1:8470/help/");
    QTest::newRow("settings folder only") << "" << "Services.ini" << "config/Services.ini" << "config";
    QTest::newRow("program folder only") << "Services.ini" << "" << "app/Services.ini" << "app";
    QTest::newRow("both: program folder") << "Services.ini" << "Services.ini" << "app/Services.ini" << "app";
    QTest::newRow("any letter case") << "SERVICES.INI" << "Services.ini" << "app/SERVICES.INI" << "app";
    QTest::newRow("another name is no services file") << "Services.ini.bak" << "" << "" << def;
  }

  void theFileBesideTheProgramWins() {
    QFETCH(QString, appFile);
    QFETCH(QString, configFile);
    QFETCH(QString, expected);
    QFETCH(QString, help);
    TFolders f;
    // Each file names its folder, so the address read tells which one was used; the
    // program folder's file sets no other key, which must not be filled from the other file.
    if (!appFile.isEmpty()) QVERIFY(TFolders::Write(f.App, appFile, QStringLiteral("[Links]\nHelp=app\n")));
    if (!configFile.isEmpty())
      QVERIFY(TFolders::Write(f.Config, configFile, QStringLiteral("[Links]\nHelp=config\nForum=config\n")));

    const QString path = restovo::ServicesIniPath(f.App, f.Config);
    QCOMPARE(path.isEmpty() ? QString() : QDir(f.Root.path()).relativeFilePath(path), expected);
    const TVendorAddresses a = f.Load();
    QCOMPARE(a.HelpUrl, help);
    QCOMPARE(a.ForumUrl, expected.startsWith(QLatin1String("config")) ? QStringLiteral("config")
                                                                      : QStringLiteral("http://127.0.0.1:8470/forum/"));
  }

  // Installed into a prefix, the program lies in <prefix>/bin and the shipped default in
  // <prefix>/share/restovo; a file of the user's own, or one beside the program, comes first.
  void theInstalledDefaultComesLast() {
    TFolders f;
    const QString bin = f.Root.filePath(QStringLiteral("usr/bin"));
    const QString shared = f.Root.filePath(QStringLiteral("usr/share/restovo"));
    QVERIFY(QDir().mkpath(bin));
    QVERIFY(QDir().mkpath(shared));
    QVERIFY(TFolders::Write(shared, QStringLiteral("Services.ini"), QStringLiteral("[Links]\nHelp=shared\n")));
    QCOMPARE(restovo::ServicesIniPath(bin, f.Config), shared + QStringLiteral("/Services.ini"));
    QCOMPARE(restovo::LoadVendorAddresses(bin, f.Config).HelpUrl, QStringLiteral("shared"));
    // Not from the settings folder's parent, nor from the working directory.
    QCOMPARE(restovo::ServicesIniPath(f.App, f.Config), QString());
    QCOMPARE(restovo::ServicesIniPath(QString(), bin), QString());

    QVERIFY(TFolders::Write(f.Config, QStringLiteral("Services.ini"), QStringLiteral("[Links]\nHelp=config\n")));
    QCOMPARE(restovo::LoadVendorAddresses(bin, f.Config).HelpUrl, QStringLiteral("config"));
    QVERIFY(TFolders::Write(bin, QStringLiteral("Services.ini"), QStringLiteral("[Links]\nHelp=beside\n")));
    QCOMPARE(restovo::LoadVendorAddresses(bin, f.Config).HelpUrl, QStringLiteral("beside"));
  }

  void emptyKeysSwitchLinksOffAndMissingKeysKeepTheirDefault() {
    TFolders f;
    QVERIFY(TFolders::Write(f.Config, QStringLiteral("Services.ini"),
                            QStringLiteral("[Other]\nHome=http://other.example/\n"
                                           "[links]\n"
                                           "help = https://help.example/  \n"
                                           "SupportEmail=\n"
                                           "Facebook=\n"
                                           "ChineseSite=   \n"
                                           "Web=https://www.example.org/\n")));
    const TVendorAddresses a = f.Load();
    const TVendorAddresses d = restovo::DefaultVendorAddresses();
    QCOMPARE(a.HelpUrl, QStringLiteral("https://help.example/"));
    QCOMPARE(a.SupportEmail, QString());
    QCOMPARE(a.FacebookPage, QString());
    QCOMPARE(a.ChineseSite, QString());
    QCOMPARE(a.WebAddress, QStringLiteral("https://www.example.org/"));
    // Missing from [Links] (a key of another section does not count).
    QCOMPARE(a.HomeUrl, d.HomeUrl);
    QCOMPARE(a.ForumUrl, d.ForumUrl);
    QCOMPARE(a.ProductUrl, d.ProductUrl);
    QCOMPARE(a.TwitterAccount, d.TwitterAccount);
    QCOMPARE(a.TranslateUrl, d.TranslateUrl);
  }

  void aFileWithoutLinksGivesTheDefaults() {
    TFolders f;
    // A file in the program folder that says nothing still shadows the settings folder's.
    QVERIFY(TFolders::Write(f.App, QStringLiteral("Services.ini"), QString()));
    QVERIFY(TFolders::Write(f.Config, QStringLiteral("Services.ini"), QStringLiteral("[Links]\nHelp=\n")));
    QCOMPARE(f.Load().HelpUrl, restovo::DefaultVendorAddresses().HelpUrl);
  }

  void shareLinks_data() {
    QTest::addColumn<TBuilder>("build");
    QTest::addColumn<QString>("expected");

    QTest::newRow("mail")
        << TBuilder(restovo::ShareEmailUrl)
        << "mailto:?subject=Please%20Try%20Restovo%20-%20%20It%20will%20recover%20your%20deleted%20data%20from"
           "%20your%20local%20or%20removalbe%20drives%21"
           "&body=%3Chtml%3E%3Cbody%3E%3Ca%20href%3D%22http%3A%2F%2F127.0.0.1%3A8470%2Frestovo%2F%22%3EPlease"
           "%20Try%20Restovo%21%3C%2Fa%3E%20It%20will%20recover%20your%20deleted%20data%20from%20your%20local"
           "%20or%20removalbe%20drives%21%3C%2Fbody%3E%3C%2Fhtml%3E";
    QTest::newRow("tieba") << TBuilder(restovo::TiebaShareUrl)
                           << "https://tieba.baidu.com/f/commit/share/openShareApi?url=http://127.0.0.1:8470/zh/";
    QTest::newRow("qzone")
        << TBuilder(restovo::QzoneShareUrl)
        << "https://sns.qzone.qq.com/cgi-bin/qzshare/cgi_qzshare_onekey?url=http%3A%2F%2F127.0.0.1%3A8470%2Fzh%2F";
    QTest::newRow("weibo") << TBuilder(restovo::WeiboShareUrl)
                           << "https://service.weibo.com/share/share.php?url=http%3A%2F%2F127.0.0.1%3A8470%2Fzh%2F";
    QTest::newRow("facebook")
        << TBuilder(restovo::FacebookShareUrl)
        << "https://www.facebook.com/plugins/likebox.php?href=https%3A%2F%2Fwww.facebook.com%2Frestovo"
           "&width=292&height=62&colorscheme=light&show_faces=false&header=false&stream=false&show_border=true";
    QTest::newRow("twitter")
        << TBuilder(restovo::TwitterShareUrl)
        << "https://twitter.com/share?original_referer=http%3A%2F%2F127.0.0.1%3A8470%2F"
           "&url=http%3A%2F%2F127.0.0.1%3A8470%2F&source=tweetbutton&via=restovo"
           "&text=Recover%20deleted%20photos,%20documents,%20videos,%20emails%20etc.%20from%20your%20local"
           "%20or%20removable%20drives%20for%20free.";
  }

  void shareLinks() {
    QFETCH(TBuilder, build);
    QFETCH(QString, expected);
    const QUrl url = build(restovo::DefaultVendorAddresses());
    QVERIFY(url.isValid());
    QCOMPARE(url.toString(QUrl::FullyEncoded), expected);
  }

  void shareMailReadsAsWritten() {
    TVendorAddresses a = restovo::DefaultVendorAddresses();
    a.ProductUrl = QStringLiteral("https://example.org/get?it=1&lang=de");
    const QUrlQuery query(restovo::ShareEmailUrl(a));
    QCOMPARE(query.queryItemValue(QStringLiteral("subject"), QUrl::FullyDecoded),
             QStringLiteral("Please Try Restovo -  It will recover your deleted data from your local or removalbe drives!"));
    QCOMPARE(query.queryItemValue(QStringLiteral("body"), QUrl::FullyDecoded),
             QStringLiteral("<html><body><a href=\"https://example.org/get?it=1&lang=de\">Please Try Restovo!</a> "
                            "It will recover your deleted data from your local or removalbe drives!</body></html>"));
  }

  void sharedAddressesSurviveAsOneValue_data() {
    QTest::addColumn<TBuilder>("build");
    QTest::addColumn<QString>("key");
    QTest::newRow("tieba") << TBuilder(restovo::TiebaShareUrl) << "url";
    QTest::newRow("qzone") << TBuilder(restovo::QzoneShareUrl) << "url";
    QTest::newRow("weibo") << TBuilder(restovo::WeiboShareUrl) << "url";
  }

  void sharedAddressesSurviveAsOneValue() {
    QFETCH(TBuilder, build);
    QFETCH(QString, key);
    // An address with its own query and fragment must not spill into the share link's.
    TVendorAddresses a = restovo::DefaultVendorAddresses();
    a.ChineseSite = QStringLiteral("https://example.cn/a b?x=1&y=2#top");
    const QUrl url = build(a);
    QVERIFY(url.isValid());
    QVERIFY(!url.hasFragment());
    const QUrlQuery query(url);
    QCOMPARE(query.queryItems().size(), 1);
    QCOMPARE(query.queryItemValue(key, QUrl::FullyDecoded), a.ChineseSite);
  }

  void emptySourcesGiveEmptyLinks_data() {
    QTest::addColumn<TBuilder>("build");
    QTest::addColumn<QString>("cleared");  // the key written empty

    QTest::newRow("mail without product") << TBuilder(restovo::ShareEmailUrl) << "Product";
    QTest::newRow("tieba without Chinese site") << TBuilder(restovo::TiebaShareUrl) << "ChineseSite";
    QTest::newRow("qzone without Chinese site") << TBuilder(restovo::QzoneShareUrl) << "ChineseSite";
    QTest::newRow("weibo without Chinese site") << TBuilder(restovo::WeiboShareUrl) << "ChineseSite";
    QTest::newRow("facebook without page") << TBuilder(restovo::FacebookShareUrl) << "Facebook";
    QTest::newRow("twitter without web address") << TBuilder(restovo::TwitterShareUrl) << "Web";
    QTest::newRow("twitter without account") << TBuilder(restovo::TwitterShareUrl) << "Twitter";
  }

  void emptySourcesGiveEmptyLinks() {
    QFETCH(TBuilder, build);
    QFETCH(QString, cleared);
    // Switched off the way an installation does it: an empty key in Services.ini.
    TFolders f;
    QVERIFY(TFolders::Write(f.App, QStringLiteral("Services.ini"), QStringLiteral("[Links]\n%1=\n").arg(cleared)));
    QVERIFY(!build(restovo::DefaultVendorAddresses()).isEmpty());
    QVERIFY(build(f.Load()).isEmpty());
  }

  void openLinkOpensOnlyRealAddresses_data() {
    QTest::addColumn<QString>("address");
    QTest::addColumn<QString>("opened");  // empty: nothing may be opened

    QTest::newRow("empty") << "" << "";
    QTest::newRow("blanks") << " \t " << "";
    QTest::newRow("web address trimmed") << "  http://127.0.0.1:8470/help/ \n" << "http://127.0.0.1:8470/help/";
    QTest::newRow("mail") << "mailto:support@restovo.example" << "mailto:support@restovo.example";
    QTest::newRow("without a scheme") << "www.example.org/x" << "http://www.example.org/x";
  }

  void openLinkOpensOnlyRealAddresses() {
    QFETCH(QString, address);
    QFETCH(QString, opened);
    TUrlCatcher catcher;
    QCOMPARE(restovo::OpenLink(address), !opened.isEmpty());
    if (opened.isEmpty()) {
      QVERIFY(catcher.Opened.isEmpty());
    } else {
      QCOMPARE(catcher.Opened.size(), 1);
      QCOMPARE(catcher.Opened.first().toString(QUrl::FullyEncoded), opened);
    }
    QVERIFY(!restovo::OpenLink(QUrl()));
  }
};

QTEST_MAIN(ServicesTest)
#include "ServicesTest.moc"
