// The main window's scan flow on real images: drive box, "Search", the progress dialog,
// the results, stopping, failures and device changes.
#include <QApplication>
#include <QLabel>
#include <QProcess>
#include <QProgressBar>
#include <QPushButton>
#include <QStandardItemModel>
#include <QTableView>
#include <QTemporaryDir>
#include <QTimer>
#include <QTreeView>
#include <QtTest>
#include <functional>

#include "DeviceMonitor.h"
#include "FileListModel.h"
#include "RestovoStyle.h"
#include "TTarnDirectCombobox.h"
#include "TTarnMessageBox.h"
#include "Translation.h"
#include "Umain.h"
#include "AppTestSupport.h"

using namespace restovo;
using namespace restovo::test;

class MainWindowTest : public QObject {
  Q_OBJECT

 private slots:
  void initTestCase() {
    if (!QFile::exists(Fixture("fat32.img"))) QSKIP("fixture images not built");
    ListLanguages();
    SetLanguage(QStringLiteral("English"));
  }

  void ScanShowsProgressThenTheTree() {
    TFrmFRMain w(TestOptions());
    w.show();
    QCOMPARE(w.OpenImage(Fixture("fat32.img")), 1);
    QCOMPARE(w.DriveBox()->count(), 1);

    QList<int> values;
    bool dialogSeen = false;
    w.RecoveryHelper()->OnScanStart = [&](TRecoveryHelper*) {
      w.ScanStarted();
      dialogSeen = w.ProgressModal()->isVisible() && !w.findChild<QWidget*>("pnlcontent")->isEnabled();
      QObject::connect(w.ProgressModal()->pb1, &QProgressBar::valueChanged, [&](int v) { values << v; });
    };
    w.btnsearchClick();
    QVERIFY(WaitFor([&] { return w.RecoveryHelper()->GetStatus() != stScanning && w.FolderTree()->model()->rowCount() > 0; }));
    QVERIFY(dialogSeen);
    QVERIFY(!w.ProgressModal()->isVisible());
    QCOMPARE(w.ProgressModal()->pb1->value(), 100);
    for (int i = 1; i < values.size(); ++i) QVERIFY2(values[i] >= values[i - 1], "the bar moved back");

    // "All Files" and the volume's folder tree, expanded one level.
    const QAbstractItemModel* tree = w.FolderTree()->model();
    QCOMPARE(tree->rowCount(), 2);
    QCOMPARE(tree->index(0, 0).data().toString(), TranslateText("FileRecovery", "AllFiles", "AllFiles"));
    // The volume node carries the drive's display name.
    QCOMPARE(tree->index(1, 0).data().toString(), QStringLiteral("RESTOVO32 (fat32.img)"));
    QVERIFY(w.FolderTree()->isExpanded(tree->index(1, 0)));
    QVERIFY(w.FileListModel()->rowCount() > 0);
    QVERIFY(w.isEnabled());
  }

  void ProgressMessagesOnlyMoveTheBarForward() {
    TFrmFRMain w(TestOptions());
    w.show();
    w.ScanStarted();
    QProgressBar* bar = w.ProgressModal()->pb1;
    struct Step {
      int percent;
      int expected;
    };
    const Step steps[] = {{40, 40}, {30, 40}, {41, 41}};
    for (const Step& s : steps) {
      // Queued as from the worker: nothing moves before the event loop runs.
      const int before = bar->value();
      emit w.ScanProgressed(s.percent);
      QCOMPARE(bar->value(), before);
      QCoreApplication::processEvents();
      QCOMPARE(bar->value(), s.expected);
    }
    // After the dialog is gone, late reports are ignored.
    w.CancelOperation();
    QVERIFY(!w.ProgressModal()->isVisible());
    w.ShowScanProgress(99);
    QCOMPARE(bar->value(), 41);
    // The worker's report becomes a percentage within 0 to 100: a total of 0 gives 0, a
    // position past the total 100.
    w.ScanStarted();
    w.ScanProgress(0, 5);
    QCoreApplication::processEvents();
    QCOMPARE(bar->value(), 0);
    w.ScanProgress(1000, 250);
    QCoreApplication::processEvents();
    QCOMPARE(bar->value(), 25);
    w.ScanProgress(10, 50);
    QCoreApplication::processEvents();
    QCOMPARE(bar->value(), 100);
    w.CancelOperation();
  }

  void CancelStopsTheScanAndEmptiesTheViews() {
    QTemporaryDir dir;
    const QString image = dir.filePath("slow.img");
    QVERIFY(MakeSlowImage(image));
    TFrmFRMain w(TestOptions());
    w.show();
    QCOMPARE(w.OpenImage(image), 1);
    w.btnsearchClick();
    QVERIFY(WaitFor([&] { return w.ProgressModal() && w.ProgressModal()->isVisible(); }));
    QTest::qWait(200);
    QElapsedTimer t;
    t.start();
    QTest::mouseClick(w.ProgressModal()->btnsearchcancel, Qt::LeftButton);
    QVERIFY(t.elapsed() < 2000);
    QCOMPARE(w.RecoveryHelper()->GetStatus(), stStopped);
    QVERIFY(!w.ProgressModal()->isVisible());
    QCOMPARE(w.FolderTree()->model()->rowCount(), 0);
    QCOMPARE(w.FileListModel()->rowCount(), 0);
    QCOMPARE(w.StatusLine()->text(), QStringLiteral("The scan has been canceled."));
    QVERIFY(w.findChild<QWidget*>("pnlcontent")->isEnabled());
    QVERIFY(w.SearchButton()->isEnabled());  // a new scan may start at once

    // "Cancel" with nothing running only closes the dialog.
    w.ProgressModal()->show();
    w.CancelOperation();
    QVERIFY(!w.ProgressModal()->isVisible());
    QCOMPARE(w.RecoveryHelper()->GetStatus(), stStopped);
  }

  void AStoppedDeepScanKeepsWhatItFound() {
    // As the worker reports a stop after it linked what it had found: a deep scan's records
    // stay listed, a quick scan's views empty.
    struct Case {
      bool deep;
      QString status;
    };
    const Case cases[] = {
        {true, QStringLiteral("The deep scan was stopped. What it found before the stop is listed.")},
        {false, QStringLiteral("The scan has been canceled.")},
    };
    for (const Case& c : cases) {
      TFrmFRMain w(TestOptions());
      w.show();
      QCOMPARE(w.OpenImage(Fixture("fat32-deltree.img")), 1);
      if (c.deep) w.btndeepscanClick();
      else w.btnsearchClick();
      QVERIFY(WaitFor([&] { return !w.IsBusy() && w.FileListModel()->rowCount() > 0; }));
      QCOMPARE(w.RecoveryHelper()->KeepStoppedResults(), c.deep);
      const int listed = w.FileListModel()->rowCount();
      w.ScanStopped();
      QCOMPARE(w.StatusLine()->text(), c.status);
      QCOMPARE(w.FileListModel()->rowCount(), c.deep ? listed : 0);
      QCOMPARE(w.FolderTree()->model()->rowCount(), c.deep ? 2 : 0);
    }
  }

  void ClosingTheWindowDuringAScanStopsIt() {
    QTemporaryDir dir;
    const QString image = dir.filePath("slow.img");
    QVERIFY(MakeSlowImage(image));
    // Closed while the dialog shows, and deleted before the worker has even said it started
    // (a scan of another drive had ended just before).
    for (bool viaClose : {true, false}) {
      auto* w = new TFrmFRMain(TestOptions());
      w->show();
      QCOMPARE(w->OpenImage(Fixture("fat12.img")), 1);
      w->btnsearchClick();
      QVERIFY(WaitFor([&] { return w->FileListModel()->rowCount() > 0; }));
      QCOMPARE(w->OpenImage(image), 1);
      w->btnsearchClick();
      if (viaClose) QVERIFY(WaitFor([&] { return w->ProgressModal() && w->ProgressModal()->isVisible(); }));
      QElapsedTimer t;
      t.start();
      if (viaClose) QVERIFY(w->close());
      delete w;  // the coordinator stops the worker and waits for it
      QVERIFY(t.elapsed() < 3000);
    }
  }

  void AFailedScanShowsAnErrorAndForgetsTheOldResults() {
    QTemporaryDir dir;
    const QString first = dir.filePath("first.img");
    const QString gone = dir.filePath("gone.img");
    QVERIFY(QFile::copy(Fixture("fat32.img"), first));
    QVERIFY(QFile::copy(Fixture("fat16.img"), gone));
    TFrmFRMain w(TestOptions());
    w.show();
    QCOMPARE(w.OpenImage(first), 1);
    QCOMPARE(w.OpenImage(gone), 1);
    w.DriveBox()->setCurrentIndex(0);
    w.btnsearchClick();
    QVERIFY(WaitFor([&] { return w.FileListModel()->rowCount() > 0; }));

    // The second drive vanishes before "Search".
    QVERIFY(QFile::remove(gone));
    w.DriveBox()->setCurrentIndex(1);
    TBoxWatcher boxes;
    w.btnsearchClick();
    QVERIFY(WaitFor([&] { return boxes.Seen > 0; }));
    QCOMPARE(boxes.Caption, QStringLiteral("Error"));
    QCOMPARE(boxes.Text, QStringLiteral("Invalid disk partition."));
    QCOMPARE(w.FileListModel()->rowCount(), 0);
    QCOMPARE(w.FolderTree()->model()->rowCount(), 0);
  }

  void OpeningBadImagesSaysWhy() {
    QTemporaryDir dir;
    const QString zeros = dir.filePath("zeros.img");
    QFile f(zeros);
    QVERIFY(f.open(QIODevice::WriteOnly));
    f.write(QByteArray(1 << 20, '\0'));
    f.close();
    TFrmFRMain w(TestOptions());
    w.show();
    TBoxWatcher boxes;
    // The boxes are modal: each is answered while OpenImage waits for it.
    QCOMPARE(w.OpenImage(zeros), 0);
    QCOMPARE(boxes.Seen, 1);
    QCOMPARE(boxes.Caption, QStringLiteral("Warning"));
    QVERIFY(boxes.Text.startsWith(QStringLiteral("No FAT or NTFS volume was found in this disk image.")));
    QCOMPARE(w.OpenImage(dir.filePath("missing.img")), 0);
    QCOMPARE(boxes.Seen, 2);
    QCOMPARE(boxes.Caption, QStringLiteral("Error"));
    QVERIFY(boxes.Text.startsWith(QStringLiteral("Can not open the disk image:")));
    QCOMPARE(w.DriveBox()->count(), 0);
  }

  void SampleImagesBecomeDrives() {
    if (!QFile::exists(Fixture("fs.ntfs")) || !QFile::exists(Fixture("fs.vfat"))) QSKIP("forensic samples missing");
    TFrmFRMain w(TestOptions());
    w.show();
    QCOMPARE(w.OpenImage(Fixture("fs.ntfs")), 1);
    QCOMPARE(w.OpenImage(Fixture("fs.vfat")), 1);
    QCOMPARE(w.DriveBox()->count(), 2);
    QVERIFY(w.DriveBox()->itemText(0).contains(QStringLiteral("NTFS")));
    QVERIFY(w.DriveBox()->itemText(1).contains(QStringLiteral("FAT32")));
    // An NTFS scan ends with its tree and list like a FAT one.
    w.DriveBox()->setCurrentIndex(0);
    w.btnsearchClick();
    QVERIFY(WaitFor([&] { return w.FileListModel()->rowCount() > 0; }));
    QCOMPARE(w.FolderTree()->model()->index(1, 0).data().toString(), QStringLiteral("fs.ntfs#1"));
    // Both samples hold the same deleted files: pictures, sounds, films and a letter.
    for (int drive : {0, 1}) {
      if (drive == 1) {
        w.DriveBox()->setCurrentIndex(1);
        w.btnsearchClick();
        // Done when the tree shows the second volume (the status still says "done" from the
        // first scan until the worker starts).
        const bool shown = WaitFor([&] {
          return w.FolderTree()->model()->index(1, 0).data().toString() == QStringLiteral("fs.vfat#1");
        });
        if (!shown) qWarning() << w.FolderTree()->model()->index(1, 0).data() << w.DriveBox()->currentText();
        QVERIFY(shown);
      }
      QCOMPARE(w.Categories[catImages].Files.size(), std::size_t{5});
      QCOMPARE(w.Categories[catAudios].Files.size(), std::size_t{2});
      QCOMPARE(w.Categories[catVideos].Files.size(), std::size_t{3});
      QCOMPARE(w.Categories[catDocuments].Files.size(), std::size_t{1});
    }
  }

  void DeviceChangesKeepTheChosenDrive() {
    TFrmFRMain w(TestOptions());
    w.show();
    QCOMPARE(w.OpenImage(Fixture("fat12.img")), 1);
    QCOMPARE(w.OpenImage(Fixture("fat16.img")), 1);
    QCOMPARE(w.DriveBox()->currentIndex(), 1);
    const QString chosen = w.DriveBox()->currentText();
    // The monitor's own signals, as udev would make it send them.
    auto* monitor = new TDeviceMonitor(&w);
    w.WatchDevices(monitor);
    QSignalSpy filled(w.DriveBox(), &QComboBox::currentIndexChanged);
    for (const auto signal : {&TDeviceMonitor::DeviceArrived, &TDeviceMonitor::DeviceRemoved}) {
      const qsizetype before = filled.count();
      emit (monitor->*signal)();
      QVERIFY(filled.count() > before);  // the box was filled again
      QCOMPARE(w.DriveBox()->count(), 2);
      QCOMPARE(w.DriveBox()->currentText(), chosen);
    }
    // An entry that is no longer listed gives way to the first.
    w.DriveBox()->setItemText(1, QStringLiteral("SOMETHING ELSE"));
    w.FillDriveBox();
    QCOMPARE(w.DriveBox()->currentIndex(), 0);
  }

  void LanguageSwitchRetranslatesTheWindow() {
    TFrmFRMain w(TestOptions());
    w.show();
    QVERIFY(Languages().contains(QStringLiteral("Deutsch")));
    SetLanguage(QStringLiteral("Deutsch"));
    const QString search = TranslateText("Translation", "FrmFRMain.btnsearch.caption", "Search");
    QVERIFY(search != QStringLiteral("Search"));
    QCOMPARE(w.findChild<QPushButton*>("btnsearch")->text(), search);
    QCOMPARE(w.FileListModel()->headerData(0, Qt::Horizontal, Qt::DisplayRole).toString(),
             TranslateText("FileRecovery", "FrmFRMain.lstFile.headitems[0]", "File Name"));
    SetLanguage(QStringLiteral("English"));
    QCOMPARE(w.findChild<QPushButton*>("btnsearch")->text(), QStringLiteral("Search"));
  }
};

QTEST_MAIN(MainWindowTest)
#include "MainWindowTest.moc"
