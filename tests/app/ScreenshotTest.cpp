// Pictures of the window as a person sees it: before a scan, during one (the progress
// dialog over the window) and after it. Run under Xvfb; the PNGs land in
// RESTOVO_SCREENSHOTS for a person to look at.
#include <QApplication>
#include <QDir>
#include <QProcess>
#include <QProgressBar>
#include <QScreen>
#include <QTemporaryDir>
#include <QTreeView>
#include <QtTest>

#include "FileListModel.h"
#include "RestovoStyle.h"
#include "TTarnDirectCombobox.h"
#include "Translation.h"
#include "Umain.h"
#include "AppTestSupport.h"

using namespace restovo;
using namespace restovo::test;

class ScreenshotTest : public QObject {
  Q_OBJECT

  QString Out;

  void Shoot(const QString& name) {
    QTest::qWait(300);  // let the window system map and paint everything
    QScreen* screen = QGuiApplication::primaryScreen();
    QPixmap shot = screen->grabWindow(0);
    QVERIFY(!shot.isNull());
    QVERIFY(shot.save(Out + QLatin1Char('/') + name));
  }

 private slots:
  void initTestCase() {
    if (QGuiApplication::platformName() != QLatin1String("xcb")) QSKIP("screenshots are taken under Xvfb");
    if (!QFile::exists(Fixture("fat32.img"))) QSKIP("fixture images not built");
    Out = qEnvironmentVariable("RESTOVO_SCREENSHOTS", QDir::currentPath() + QStringLiteral("/screenshots"));
    QDir().mkpath(Out);
    ApplyRestovoStyle(*qApp);
    ListLanguages();
  }

  void BeforeDuringAndAfterAScan() {
    SetLanguage(QStringLiteral("English"));
    TMainWindowOptions options;
    options.ListMachineDrives = false;
    options.WatchDevices = false;
    TFrmFRMain w(options);
    w.show();
    QVERIFY(QTest::qWaitForWindowExposed(&w));
    const QString demo = qEnvironmentVariable("RESTOVO_DEMO_IMAGE");
    QVERIFY(w.OpenImage(QFile::exists(demo) ? demo : Fixture("fat32.img")) > 0);
    QVERIFY(w.OpenImage(Fixture("fs.ntfs")) > 0 || w.OpenImage(Fixture("ntfs.img")) > 0 || true);
    w.DriveBox()->setCurrentIndex(0);
    Shoot(QStringLiteral("1-before-scan.png"));

    QTemporaryDir dir;
    const QString slow = dir.filePath("slow.img");
    QVERIFY(MakeSlowImage(slow));
    QVERIFY(w.OpenImage(slow) > 0);
    w.btnsearchClick();
    QVERIFY(WaitFor([&] { return w.ProgressModal() && w.ProgressModal()->isVisible(); }));
    Shoot(QStringLiteral("2-during-scan.png"));
    w.CancelOperation();

    w.DriveBox()->setCurrentIndex(0);
    w.btnsearchClick();
    QVERIFY(WaitFor([&] { return w.FileListModel()->rowCount() > 0; }));
    // "All Files": every deleted file with its verdict; two of them ticked.
    w.FolderTree()->setCurrentIndex(w.FolderTree()->model()->index(0, 0));
    w.FileListModel()->SetChecked(0, true);
    w.FileListModel()->SetChecked(2, true);
    Shoot(QStringLiteral("3-after-scan.png"));

    SetLanguage(QStringLiteral("简体中文"));
    Shoot(QStringLiteral("4-after-scan-chinese.png"));
    SetLanguage(QStringLiteral("English"));
  }
};

QTEST_MAIN(ScreenshotTest)
#include "ScreenshotTest.moc"
