// Pictures of the window as a person sees it: before a scan, during one (the progress
// dialog over the window) and after it. Run under Xvfb; the PNGs land in
// RESTOVO_SCREENSHOTS for a person to look at.
#include <QApplication>
#include <QDir>
#include <QLineEdit>
#include <QMenu>
#include <QProcess>
#include <QProgressBar>
#include <QScreen>
#include <QTemporaryDir>
#include <QTableView>
#include <QTimer>
#include <QToolButton>
#include <QTreeView>
#include <QtTest>
#include <functional>

#include "FileListModel.h"
#include "RestovoStyle.h"
#include "TTarnDirectCombobox.h"
#include "TTarnMessageBox.h"
#include "TTarnSearchBox.h"
#include "UAbout.h"
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

  // A deep scan of a fixture image in a shown window, with `folder` chosen in the tree;
  // `check` looks at the chosen folder before the picture is taken.
  void DeepScanAndShoot(const char* image, const QString& folder, const QString& shot,
                        const std::function<void(const QModelIndex&)>& check = {}) {
    if (!QFile::exists(Fixture(image))) QSKIP("the deep-scan fixtures are not built");
    SetLanguage(QStringLiteral("English"));
    TFrmFRMain w(TestOptions());
    w.show();
    QVERIFY(QTest::qWaitForWindowExposed(&w));
    QCOMPARE(w.OpenImage(Fixture(image)), 1);
    w.btndeepscanClick();
    QVERIFY(WaitFor([&] { return !w.IsBusy() && w.FileListModel()->rowCount() > 0; }));
    const QModelIndex node = FindNode(w.FolderTree()->model(), folder);
    QVERIFY(node.isValid());
    if (check) check(node);
    w.FolderTree()->setCurrentIndex(node);
    Shoot(shot);
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
    TFrmFRMain w(TestOptions());
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

  // A copy that ended early: the status line keeps saying how much could not be read.
  void ATruncatedImage() {
    SetLanguage(QStringLiteral("English"));
    QTemporaryDir dir;
    const QString image = dir.filePath(QStringLiteral("cut-short.img"));
    QVERIFY(QFile::copy(Fixture("fat32.img"), image));
    QVERIFY(QFile::resize(image, QFileInfo(image).size() * 3 / 5));
    TFrmFRMain w(TestOptions());
    w.show();
    QVERIFY(QTest::qWaitForWindowExposed(&w));
    QCOMPARE(w.OpenImage(image), 1);
    w.btnsearchClick();
    // The status turns to done on the worker before the window has filled its list.
    QVERIFY(WaitFor([&] { return w.FileListModel()->rowCount() > 0; }));
    Shoot(QStringLiteral("13-truncated-image.png"));
  }

  // A deep scan of a volume whose deleted folders lie spread over it.
  void ADeepScan() {
    DeepScanAndShoot("fat32-deltree.img", QStringLiteral("Trip"), QStringLiteral("14-deep-scan.png"));
  }

  // The quick scan's files while the deep scan reads on below them.
  void ADeepScanReadingBehindItsEarlyResults() {
    if (!QFile::exists(Fixture("fat32-deltree.img"))) QSKIP("the deep-scan fixtures are not built");
    SetLanguage(QStringLiteral("English"));
    TFrmFRMain w(TestOptions());
    w.show();
    QVERIFY(QTest::qWaitForWindowExposed(&w));
    QCOMPARE(w.OpenImage(Fixture("fat32-deltree.img")), 1);
    bool shot = false;
    w.RecoveryHelper()->OnScanEarlyResults = [&](TRecoveryHelper*) {
      w.ScanEarlyResults();
      const QModelIndex trip = FindNode(w.FolderTree()->model(), QStringLiteral("Trip"));
      if (trip.isValid()) w.FolderTree()->setCurrentIndex(trip);
      w.FileListModel()->SetChecked(0, true);
      w.ShowScanProgress(37);
      Shoot(QStringLiteral("17-deep-scan-early-results.png"));
      shot = true;
    };
    w.btndeepscanClick();
    QVERIFY(WaitFor([&] { return !w.IsBusy() && w.FileListModel()->rowCount() > 0; }));
    QVERIFY(shot);
  }

  void ADeepScanOfACardFormattedWithLargerClusters() {
    // The older volume's folders, with their names, under a folder of their own.
    DeepScanAndShoot("fat32-reformatted.img", QStringLiteral("100CAMERA"),
                     QStringLiteral("15-deep-scan-reformatted.png"), [](const QModelIndex& camera) {
                       QCOMPARE(camera.parent().parent().data().toString(), QStringLiteral("Previous file system"));
                     });
  }

  void ADeepScanOfACardWhoseFoldersAreGone() {
    // Files known by their content alone, a folder per kind.
    DeepScanAndShoot("fat32-carved.img", QStringLiteral("JPEG"), QStringLiteral("16-deep-scan-by-content.png"),
                     [](const QModelIndex& jpeg) {
                       QCOMPARE(jpeg.parent().data().toString(), QStringLiteral("Found by content"));
                     });
  }

  void FilterPreviewAndRestore() {
    const QString demo = qEnvironmentVariable("RESTOVO_DEMO_IMAGE");
    if (!QFile::exists(demo)) QSKIP("the demo image is not built");
    SetLanguage(QStringLiteral("English"));
    TFrmFRMain w(TestOptions());
    w.show();
    QVERIFY(QTest::qWaitForWindowExposed(&w));
    QVERIFY(w.OpenImage(demo) > 0);
    w.btnsearchClick();
    QVERIFY(WaitFor([&] { return !w.IsBusy() && w.FileListModel()->rowCount() > 0; }));
    auto row = [&](const char* name) {
      for (int r = 0; r < w.FileListModel()->rowCount(); ++r)
        if (w.FileListModel()->Item(r)->Name == name) return r;
      return -1;
    };

    // The category "Images" chosen in the search box, a deleted photo in the preview.
    TTarnSearchBox* box = w.SearchBox();
    box->setCurrentIndex(0);
    emit box->activated(0);
    Shoot(QStringLiteral("5-filter-images.png"));
    w.SetPreviewVisible(true);
    QVERIFY(row("Sunset.jpg") >= 0);
    w.FileList()->selectRow(row("Sunset.jpg"));
    Shoot(QStringLiteral("6-picture-preview.png"));

    // A keyword, and a deleted letter as text.
    box->ClearAction()->trigger();
    QTest::keyClicks(box->LineEdit(), QStringLiteral("letter"));
    QVERIFY(row("Letter to the landlord.txt") >= 0);
    w.FileList()->selectRow(row("Letter to the landlord.txt"));
    Shoot(QStringLiteral("7-text-preview.png"));

    // Restored, with the completion message over the window.
    box->ClearAction()->trigger();
    for (const char* name : {"Sunset.jpg", "Friends.png", "Letter to the landlord.txt"})
      w.FileListModel()->SetChecked(row(name), true);
    QTemporaryDir out;
    int ticks = 0;
    bool shot = false;
    QTimer watcher;
    QObject::connect(&watcher, &QTimer::timeout, [&] {
      for (QWidget* top : QApplication::topLevelWidgets()) {
        auto* msg = qobject_cast<TTarnMessageBox*>(top);
        if (!msg || !msg->isVisible()) continue;
        if (++ticks < 8) return;  // mapped and painted
        shot = QGuiApplication::primaryScreen()->grabWindow(0).save(Out + QStringLiteral("/8-restore-done.png"));
        msg->reject();
      }
    });
    watcher.start(50);
    QVERIFY(w.RestoreTo(out.path(), w.FileListModel()->CheckedItems(), true));
    QVERIFY(WaitFor([&] { return shot; }));
  }

  void MenusAndTheAboutWindow() {
    SetLanguage(QStringLiteral("English"));
    TFrmFRMain w(TestOptions());
    w.show();
    QVERIFY(QTest::qWaitForWindowExposed(&w));
    QWidget* menuButton = w.TitleBar()->Button(TTarnTitleBar::btMenu);
    const QPoint below = menuButton->mapToGlobal(QPoint(0, menuButton->height()));
    w.SystemMenu()->popup(below);
    QVERIFY(QTest::qWaitForWindowExposed(w.SystemMenu()));
    Shoot(QStringLiteral("9-system-menu.png"));
    // The languages, opened from their entry.
    QMenu* languages = w.SystemMenu()->findChild<QMenu*>(QStringLiteral("pmLang"));
    w.SystemMenu()->setActiveAction(languages->menuAction());
    QTest::keyClick(w.SystemMenu(), Qt::Key_Right);
    QVERIFY(WaitFor([&] { return languages->isVisible(); }, 3000));
    Shoot(QStringLiteral("10-language-menu.png"));
    languages->close();
    w.SystemMenu()->close();

    for (const char* language : {"English", "简体中文"}) {
      SetLanguage(QString::fromUtf8(language));
      auto* about = new TFrmFRAbout(&w, w.Vendor);
      about->show();
      QVERIFY(QTest::qWaitForWindowExposed(about));
      Shoot(QString::fromUtf8(language) == u"English" ? QStringLiteral("11-about.png")
                                                       : QStringLiteral("12-about-chinese.png"));
      delete about;
    }
    SetLanguage(QStringLiteral("English"));
  }
};

QTEST_MAIN(ScreenshotTest)
#include "ScreenshotTest.moc"
