// Restoring from the window on a real FAT32 image: the ticked rows through the progress
// dialog, the selected rows from the list's menu, the same-volume refusal, numbered names,
// stopping, and what the user is told when files cannot be written.
#include <QAction>
#include <QCryptographicHash>
#include <QDir>
#include <QFile>
#include <QMenu>
#include <QProgressBar>
#include <QPushButton>
#include <QTableView>
#include <QTemporaryDir>
#include <QtTest>

#include "FileListModel.h"
#include "Translation.h"
#include "Umain.h"
#include "AppTestSupport.h"

using namespace restovo;
using namespace restovo::test;

namespace {

// The SHA-256 of each file of the image's manifest, by its name.
QHash<QString, QByteArray> ManifestHashes(const QString& manifest) {
  QHash<QString, QByteArray> hashes;
  QFile f(manifest);
  if (!f.open(QIODevice::ReadOnly)) return hashes;
  for (const QByteArray& line : f.readAll().split('\n')) {
    const QList<QByteArray> cells = line.split('\t');
    if (cells.size() >= 4 && cells[3] == "file")
      hashes.insert(QString::fromUtf8(cells[0]).section(QLatin1Char('/'), -1), cells[2]);
  }
  return hashes;
}

QByteArray FileHash(const QString& path) {
  QFile f(path);
  if (!f.open(QIODevice::ReadOnly)) return {};
  return QCryptographicHash::hash(f.readAll(), QCryptographicHash::Sha256).toHex();
}

const QStringList kLetters = {QStringLiteral("Letter to the Bank.txt"), QStringLiteral("Entwurf für Jürgen.txt"),
                              QStringLiteral("Far Away Letter.txt")};

// The window with fat32.img scanned, the whole volume listed.
struct TScanned {
  TFrmFRMain W{TestOptions()};
  bool Ready = false;
  TScanned() {
    W.show();
    if (W.OpenImage(Fixture("fat32.img"), true) != 1) return;
    W.btnsearchClick();
    Ready = WaitFor([&] { return !W.IsBusy() && W.FileListModel()->rowCount() > 0; });
  }
  int Row(const QString& name) const {
    for (int r = 0; r < W.FileListModel()->rowCount(); ++r)
      if (QString::fromStdString(W.FileListModel()->Item(r)->Name) == name) return r;
    return -1;
  }
  void Tick(const QStringList& names) {
    for (const QString& name : names) W.FileListModel()->SetChecked(Row(name), true);
  }
};

}  // namespace

class RestoreFlowTest : public QObject {
  Q_OBJECT

 private slots:
  void initTestCase() {
    if (!QFile::exists(Fixture("fat32.img"))) QSKIP("fixture images not built");
    ListLanguages();
    SetLanguage(QStringLiteral("English"));
  }

  void TickedRowsAreRestoredByteForByte() {
    TScanned s;
    QVERIFY(s.Ready);
    QVERIFY(!s.W.RestoreButton()->isEnabled());
    s.Tick(kLetters);
    QVERIFY(s.W.RestoreButton()->isEnabled());
    QTemporaryDir out;
    QString asked;
    s.W.FolderPicker = [&](const QString& title, QString& path) {
      asked = title;
      path = out.path();
      return true;
    };
    TBoxWatcher boxes;
    s.W.btnrestoreClick();
    QCOMPARE(asked, QStringLiteral("Select folder to restore"));
    // The dialog keeps the user away from the records while the worker reads them.
    QVERIFY(s.W.ProgressModal()->isVisible());
    QVERIFY(!s.W.findChild<QWidget*>("pnlcontent")->isEnabled());
    QVERIFY(WaitFor([&] { return boxes.Seen > 0; }));
    QCOMPARE(boxes.Caption, QStringLiteral("Information"));
    QCOMPARE(boxes.Text, QStringLiteral("The files has been recoveried."));
    QVERIFY(!s.W.ProgressModal()->isVisible());
    QVERIFY(s.W.findChild<QWidget*>("pnlcontent")->isEnabled());
    QVERIFY(QApplication::overrideCursor() == nullptr);

    const auto hashes = ManifestHashes(Fixture("fat32.manifest.tsv"));
    for (const QString& name : kLetters) {
      QVERIFY2(hashes.contains(name), qPrintable(name));
      QCOMPARE(FileHash(QDir(out.path()).filePath(name)), hashes.value(name));
    }
    // The file manager is asked to show the first restored item, selected.
    QCOMPARE(s.W.LastRevealed, QDir(out.path()).filePath(s.W.RestoreList.front()->Name.c_str()));

    // Again into the same folder: numbered names beside the first copies, no question.
    boxes.Seen = 0;
    s.W.btnrestoreClick();
    QVERIFY(WaitFor([&] { return boxes.Seen > 0; }));
    QCOMPARE(boxes.Text, QStringLiteral("The files has been recoveried."));
    QCOMPARE(FileHash(QDir(out.path()).filePath("Letter to the Bank(1).txt")), hashes.value(kLetters[0]));
    QCOMPARE(QDir(out.path()).entryList(QDir::Files).size(), 6);
  }

  void TheScannedVolumeIsRefused() {
    TScanned s;
    QVERIFY(s.Ready);
    s.Tick(kLetters);
    // As if the image were mounted here: a folder below is on the scanned volume.
    QTemporaryDir mount;
    s.W.RecoveryHelper()->CurrentDisk()->MountPoint = mount.path().toStdString();
    TBoxWatcher boxes;
    QVERIFY(!s.W.RestoreTo(mount.path() + QStringLiteral("/saved"), s.W.FileListModel()->CheckedItems(), true));
    QVERIFY(WaitFor([&] { return boxes.Seen > 0; }));
    QCOMPARE(boxes.Caption, QStringLiteral("Warning"));
    QCOMPARE(boxes.Text, QStringLiteral("For keep the data valid, please choose another drive to restore"));
    QVERIFY(!QFileInfo::exists(mount.path() + QStringLiteral("/saved")));
    QVERIFY(!s.W.IsBusy());

    // Nothing scanned: the path cannot be judged.
    TFrmFRMain fresh(TestOptions());
    boxes.Seen = 0;
    QVERIFY(!fresh.RestoreTo(QDir::tempPath(), {}, true));
    QVERIFY(WaitFor([&] { return boxes.Seen > 0; }));
    QCOMPARE(boxes.Caption, QStringLiteral("Error"));
    QCOMPARE(boxes.Text, QStringLiteral("The path is invalid."));
  }

  void TheListMenuRestoresTheSelectedRowsAndLeavesTheWindowFree() {
    TScanned s;
    QVERIFY(s.Ready);
    QTemporaryDir out;
    s.W.FolderPicker = [&](const QString&, QString& path) {
      path = out.path();
      return true;
    };
    const int row = s.Row(kLetters[2]);
    s.W.FileList()->selectRow(row);
    QCOMPARE(s.W.FileListModel()->CheckedCount(), 0);
    QAction* entry = s.W.FileMenu()->findChild<QAction*>(QStringLiteral("pmrestore"));
    QVERIFY(entry);
    QCOMPARE(s.W.FileMenu()->actions().first(), entry);
    QCOMPARE(entry->text(), QStringLiteral("Recovery the selected items."));

    TBoxWatcher boxes;
    entry->trigger();
    // No dialog, the window stays usable, but no scan or second restore may start while
    // the worker reads the records.
    QVERIFY(!s.W.ProgressModal() || !s.W.ProgressModal()->isVisible());
    QVERIFY(s.W.findChild<QWidget*>("pnlcontent")->isEnabled());
    QVERIFY(s.W.IsBusy());
    QVERIFY(!s.W.SearchButton()->isEnabled());
    QVERIFY(QApplication::overrideCursor() != nullptr);
    s.W.btnsearchClick();
    QCOMPARE(s.W.RecoveryHelper()->GetStatus(), stRestoring);
    QVERIFY(!s.W.RestoreTo(out.path(), {s.W.FileListModel()->Item(row)}, true));

    QVERIFY(WaitFor([&] { return boxes.Seen > 0; }));
    QCOMPARE(boxes.Text, QStringLiteral("The files has been recoveried."));
    QVERIFY(QFileInfo::exists(QDir(out.path()).filePath(kLetters[2])));
    QCOMPARE(QDir(out.path()).entryList(QDir::Files).size(), 1);
    QVERIFY(s.W.SearchButton()->isEnabled());
    QVERIFY(QApplication::overrideCursor() == nullptr);
  }

  void CancelStopsWithoutACompletionMessage() {
    TScanned s;
    QVERIFY(s.Ready);
    s.Tick(kLetters);
    QTemporaryDir out;
    TBoxWatcher boxes;
    QVERIFY(s.W.RestoreTo(out.path(), s.W.FileListModel()->CheckedItems(), true));
    s.W.ProgressModal()->btnsearchcancelClick();
    QTest::qWait(300);
    QCOMPARE(boxes.Seen, 0);
    QVERIFY(s.W.RestoreList.empty());
    QVERIFY(!s.W.ProgressModal()->isVisible());
    QVERIFY(QApplication::overrideCursor() == nullptr);
    QVERIFY(!s.W.IsBusy());
  }

  void FailuresAreToldWithTheirReasons() {
    TScanned s;
    QVERIFY(s.Ready);
    s.Tick(kLetters);
    QTemporaryDir out;
    // A folder stands where one file must go: the others are written, that one is listed.
    QVERIFY(QDir(out.path()).mkdir(kLetters[1]));
    TBoxWatcher boxes;
    QVERIFY(s.W.RestoreTo(out.path(), s.W.FileListModel()->CheckedItems(), true));
    QVERIFY(WaitFor([&] { return boxes.Seen > 0; }));
    QCOMPARE(boxes.Kind, mkWarning);
    QCOMPARE(boxes.Text, QStringLiteral("1 of the files could not be restored as they were:"));
    QVERIFY(boxes.Details.contains(kLetters[1] + QStringLiteral(": A folder of that name is in the way.")));
    QVERIFY(QFileInfo(QDir(out.path()).filePath(kLetters[0])).isFile());

    // A destination that cannot be made ends the run: the coordinator's reason in an
    // error box, the pointer back to normal, the dialog gone.
    QFile blocker(out.path() + QStringLiteral("/plain-file"));
    QVERIFY(blocker.open(QIODevice::WriteOnly));
    blocker.close();
    boxes.Seen = 0;
    QVERIFY(s.W.RestoreTo(blocker.fileName() + QStringLiteral("/inside"), s.W.FileListModel()->CheckedItems(), true));
    QVERIFY(WaitFor([&] { return boxes.Seen > 0; }));
    QCOMPARE(boxes.Caption, QStringLiteral("Error"));
    QVERIFY2(boxes.Text.contains(QStringLiteral("The destination folder cannot be created")), qPrintable(boxes.Text));
    QVERIFY(!s.W.ProgressModal()->isVisible());
    QVERIFY(QApplication::overrideCursor() == nullptr);
  }
};

QTEST_MAIN(RestoreFlowTest)
#include "RestoreFlowTest.moc"
