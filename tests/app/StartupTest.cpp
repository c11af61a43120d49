// The program as a whole: one window per user (a second start hands over and ends), the
// menus built once at the first showing and re-captioned by a language switch, the share
// buttons, F1, and settings that survive a restart.
#include <QAction>
#include <QLocalServer>
#include <QMenu>
#include <QProcess>
#include <QTableView>
#include <QTemporaryDir>
#include <QToolButton>
#include <QtTest>
#include <memory>

#include "IniFile.h"
#include "SingleInstance.h"
#include "TTarnDirectCombobox.h"
#include "Translation.h"
#include "Umain.h"
#include "AppTestSupport.h"

using namespace restovo;
using namespace restovo::test;

namespace {

QStringList EntryNames(const QMenu* menu) {
  QStringList names;
  for (const QAction* a : menu->actions())
    names << (a->menu() ? a->menu()->objectName() : a->isSeparator() && a->objectName().isEmpty() ? QStringLiteral("-") : a->objectName());
  return names;
}

QAction* Entry(const QMenu* menu, const char* name) {
  for (QAction* a : menu->actions())
    if (a->objectName() == QLatin1String(name)) return a;
  return nullptr;
}

QString Translated(const char* key, const char* def) {
  return TranslateText(QStringLiteral("Translation"), QLatin1String(key), QLatin1String(def));
}

}  // namespace

class StartupTest : public QObject {
  Q_OBJECT

  QTemporaryDir Runtime;
  QTemporaryDir Config;

 private slots:
  void initTestCase() {
    // This test's own runtime and settings folders: the user's are never touched.
    qputenv("XDG_RUNTIME_DIR", Runtime.path().toLocal8Bit());
    qputenv("XDG_CONFIG_HOME", Config.path().toLocal8Bit());
    ListLanguages();
    SetLanguage(QStringLiteral("English"));
  }

  void ASecondStartHandsOverAndEnds() {
    const QString program = qEnvironmentVariable("RESTOVO_BIN");
    if (!QFile::exists(program)) QSKIP("the program is not built");
    if (!QFile::exists(Fixture("fat32.img"))) QSKIP("fixture images not built");
    TFrmFRMain w(TestOptions());
    auto instance = std::make_unique<TSingleInstance>();
    QVERIFY(instance->Listen());
    connect(instance.get(), &TSingleInstance::Activated, &w, &TFrmFRMain::ActivateFromOtherStart);
    w.showMinimized();
    QCOMPARE(w.DriveBox()->count(), 0);

    QProcess second;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("offscreen"));
    second.setProcessEnvironment(env);
    second.start(program, {Fixture("fat32.img")});
    QVERIFY(WaitFor([&] { return second.state() == QProcess::NotRunning; }, 30000));
    QCOMPARE(second.exitStatus(), QProcess::NormalExit);
    QCOMPARE(second.exitCode(), 0);
    // The running window came back from the taskbar with the image as its chosen drive.
    QVERIFY(!w.isMinimized());
    QCOMPARE(w.DriveBox()->count(), 1);
    QCOMPARE(w.DriveBox()->currentIndex(), 0);

    // A start finds nobody once the first copy is gone.
    instance.reset();
    QVERIFY(!TSingleInstance::HandToRunning({}, 500));
  }

  void MenusAreBuiltOnceAndFollowTheLanguage() {
    TFrmFRMain w(TestOptions());
    QCOMPARE(w.MenuBuilds, 0);
    w.show();
    QCOMPARE(w.MenuBuilds, 1);
    const QStringList system = {"pmOpenImage", "-",          "pmHelp", "pmforum", "pmHome", "pmContact", "N1",
                                "pmCheckNew",  "pmCheckMsg", "N2",     "pmLang",  "pmAbout"};
    QCOMPARE(EntryNames(w.SystemMenu()), system);
    QCOMPARE(EntryNames(w.FileMenu()),
             (QStringList{"pmrestore", "N1", "pmSelectAll", "pmSelectNone", "pmSelectInvert"}));
    QCOMPARE(Entry(w.SystemMenu(), "pmHelp")->shortcut(), QKeySequence(Qt::Key_F1));
    QCOMPARE(Entry(w.SystemMenu(), "pmCheckNew")->isChecked(), w.Settings.CheckNewVer);
    QCOMPARE(Entry(w.SystemMenu(), "pmCheckMsg")->isChecked(), w.Settings.Getnews);
    // Showing again builds nothing.
    w.hide();
    w.show();
    QCOMPARE(w.MenuBuilds, 1);
    QCOMPARE(EntryNames(w.SystemMenu()), system);

    SetLanguage(QStringLiteral("Deutsch"));
    QCOMPARE(Entry(w.SystemMenu(), "pmHelp")->text(), Translated("pmHelp", "Help Online"));
    QVERIFY(Entry(w.SystemMenu(), "pmHelp")->text() != QStringLiteral("Help Online"));
    QCOMPARE(Entry(w.FileMenu(), "pmrestore")->text(), Translated("pmrestore", "Recovery the selected items."));
    QMenu* languages = w.SystemMenu()->findChild<QMenu*>(QStringLiteral("pmLang"));
    QCOMPARE(languages->title(), Translated("pmLang", "Languages"));
    for (QAction* a : languages->actions())
      if (a->isCheckable()) QCOMPARE(a->isChecked(), a->text() == QStringLiteral("Deutsch"));
    QCOMPARE(EntryNames(w.SystemMenu()), system);
    SetLanguage(QStringLiteral("English"));
  }

  void ShareButtonsFollowTheLanguage() {
    TFrmFRMain w(TestOptions());
    w.show();
    QCOMPARE(w.ShareTarget(0).scheme(), QStringLiteral("mailto"));
    QCOMPARE(w.ShareTarget(1).host(), QStringLiteral("www.facebook.com"));
    QCOMPARE(w.ShareTarget(2).host(), QStringLiteral("twitter.com"));
    const qint64 englishIcon = w.ShareButton(0)->icon().cacheKey();
    w.ShareButton(1)->click();
    QCOMPARE(QUrl(w.LastOpenedLink).host(), QStringLiteral("www.facebook.com"));

    SetLanguage(QStringLiteral("简体中文"));
    QCOMPARE(w.ShareTarget(0).host(), QStringLiteral("tieba.baidu.com"));
    QCOMPARE(w.ShareTarget(1).host(), QStringLiteral("sns.qzone.qq.com"));
    QCOMPARE(w.ShareTarget(2).host(), QStringLiteral("service.weibo.com"));
    QVERIFY(w.ShareButton(0)->icon().cacheKey() != englishIcon);
    w.ShareButton(2)->click();
    QCOMPARE(QUrl(w.LastOpenedLink).host(), QStringLiteral("service.weibo.com"));
    SetLanguage(QStringLiteral("English"));
    QCOMPARE(w.ShareTarget(0).scheme(), QStringLiteral("mailto"));
  }

  void F1OpensTheHelpWhereverTheFocusIs() {
    TFrmFRMain w(TestOptions());
    w.show();
    w.activateWindow();
    QVERIFY(QTest::qWaitForWindowActive(&w));
    w.FileList()->setFocus();
    QTest::keyClick(w.FileList(), Qt::Key_F1);
    QCOMPARE(w.LastOpenedLink, w.Vendor.HelpUrl);
  }

  void AnEmptyAddressDisablesItsEntry() {
    TFrmFRMain w(TestOptions());
    w.Vendor.ForumUrl = QStringLiteral("  ");
    w.Vendor.SupportEmail.clear();
    w.show();
    QVERIFY(!Entry(w.SystemMenu(), "pmforum")->isEnabled());
    QVERIFY(!Entry(w.SystemMenu(), "pmContact")->isEnabled());
    QVERIFY(Entry(w.SystemMenu(), "pmHome")->isEnabled());
    QVERIFY(!w.OpenLink(QStringLiteral(" ")));
  }

  void SettingsSurviveARestart() {
    TMainWindowOptions options = TestOptions();
    options.SettingsFile = true;
    options.InstallIdFile = Config.filePath(QStringLiteral("machine/install-id"));
    QString installId;
    {
      TFrmFRMain w(options);
      w.Hosts = {};  // no online service is contacted
      w.show();
      QVERIFY(w.Settings.SetupVerChanged);  // the first run of this version
      QVERIFY(w.PreviewVisible());          // shown on a fresh start
      installId = w.Settings.InstallId;
      w.btnprvClick();
      Entry(w.SystemMenu(), "pmCheckMsg")->trigger();
      QMenu* languages = w.SystemMenu()->findChild<QMenu*>(QStringLiteral("pmLang"));
      for (QAction* a : languages->actions())
        if (a->text() == QStringLiteral("Deutsch")) a->trigger();
      QCOMPARE(Lang(), QStringLiteral("Deutsch"));
    }
    TIniFile ini;
    QVERIFY(ini.LoadFromFile(Config.filePath(QStringLiteral("Restovo/Config.ini"))));
    QCOMPARE(ini.ReadString(u"General", u"Lang"), QStringLiteral("Deutsch"));
    QCOMPARE(ini.ReadString(u"General", u"ShowPreview"), QStringLiteral("0"));
    QCOMPARE(ini.ReadString(u"General", u"Getnews"), QStringLiteral("0"));
    QCOMPARE(ini.ReadString(u"General", u"CheckNewVer"), QStringLiteral("1"));

    SetLanguage(QStringLiteral("English"));
    {
      TFrmFRMain w(options);
      w.Hosts = {};
      w.show();
      QCOMPARE(Lang(), QStringLiteral("Deutsch"));
      QVERIFY(!w.Settings.SetupVerChanged);
      QCOMPARE(w.Settings.InstallId, installId);
      QVERIFY(!w.PreviewVisible());
      QVERIFY(!Entry(w.SystemMenu(), "pmCheckMsg")->isChecked());
    }
    SetLanguage(QStringLiteral("English"));
  }
};

QTEST_MAIN(StartupTest)
#include "StartupTest.moc"
