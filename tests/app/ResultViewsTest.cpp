// The views of a finished scan: the folder tree with "All Files" and the recycle bin's
// readable names, the file list's rows, ticks and header sorting.
#include <QApplication>
#include <QHeaderView>
#include <QLabel>
#include <QProcess>
#include <QPushButton>
#include <QStandardItemModel>
#include <QTableView>
#include <QTemporaryDir>
#include <QTreeView>
#include <QtTest>
#include <functional>

#include "FileListModel.h"
#include "TTarnDirectCombobox.h"
#include "Translation.h"
#include "Umain.h"
#include "AppTestSupport.h"

using namespace restovo;
using namespace restovo::test;

namespace {

QByteArray RecycleRecord(int version, const QString& path) {
  QByteArray b;
  auto put64 = [&b](quint64 v) {
    for (int i = 0; i < 8; ++i) b.append(static_cast<char>((v >> (8 * i)) & 0xFF));
  };
  put64(static_cast<quint64>(version));
  put64(4096);                   // size of the recycled item
  put64(0x01DA000000000000ull);  // when it was deleted
  const QString withNul = path + QChar(0);
  if (version == 2) {
    const auto n = static_cast<quint32>(withNul.size());
    for (int i = 0; i < 4; ++i) b.append(static_cast<char>((n >> (8 * i)) & 0xFF));
  }
  for (QChar c : withNul) {
    b.append(static_cast<char>(c.unicode() & 0xFF));
    b.append(static_cast<char>(c.unicode() >> 8));
  }
  if (version == 1) b.append(QByteArray(520 - 2 * withNul.size(), '\0'));
  return b;
}

// A FAT volume whose recycle bin was emptied: the "$I" records and "$R" files deleted in
// it, one record of each version, and one recycled file whose record is gone.
QString MakeRecycleBinImage(const QTemporaryDir& dir) {
  const QString image = dir.filePath("recycled.img");
  const QString bin = QStringLiteral("::/$RECYCLE.BIN");
  const QString user = bin + QStringLiteral("/S-1-5-21-1001");
  if (!RunTool("mkfs.fat", {"-C", image, "4096"}) || !RunTool("mmd", {"-i", image, bin}) ||
      !RunTool("mmd", {"-i", image, user})) {
    return {};
  }
  const QList<QPair<QString, QByteArray>> files = {
      {"$I1A2B3C.jpg", RecycleRecord(1, "C:\\Users\\x\\Pictures\\cat.jpg")},
      {"$R1A2B3C.jpg", QByteArray(3000, 'j')},
      {"$I7Q9W2E.docx", RecycleRecord(2, "C:\\Users\\x\\Documents\\Brief an Müller.docx")},
      {"$R7Q9W2E.docx", QByteArray(5000, 'd')},
      {"$RZZZZZZ.png", QByteArray(2000, 'p')},
  };
  for (const auto& [name, content] : files) {
    QFile f(dir.filePath(name));
    if (!f.open(QIODevice::WriteOnly) || f.write(content) != content.size()) return {};
    f.close();
    if (!RunTool("mcopy", {"-i", image, dir.filePath(name), user + QLatin1Char('/') + name})) return {};
  }
  if (!RunTool("mdel", {"-i", image, user + QStringLiteral("/*")})) return {};
  return image;
}

QStringList Column(const TFileListModel* model, int column) {
  QStringList out;
  for (int r = 0; r < model->rowCount(); ++r) out << model->index(r, column).data().toString();
  return out;
}

}  // namespace

class ResultViewsTest : public QObject {
  Q_OBJECT

 private slots:
  void initTestCase() {
    if (!QFile::exists(Fixture("fat32.img"))) QSKIP("fixture images not built");
    ListLanguages();
    SetLanguage(QStringLiteral("English"));
  }

  void TreeAndListOfAFinishedScan() {
    TFrmFRMain w(TestOptions());
    w.show();
    QCOMPARE(w.OpenImage(Fixture("fat32.img")), 1);
    w.btnsearchClick();
    QVERIFY(WaitFor([&] { return w.FileListModel()->rowCount() > 0; }));
    const QAbstractItemModel* tree = w.FolderTree()->model();
    QCOMPARE(tree->rowCount(), 2);
    QCOMPARE(tree->index(0, 0).data().toString(), QStringLiteral("All Files"));
    const QModelIndex volume = tree->index(1, 0);
    QVERIFY(w.FolderTree()->isExpanded(volume));
    for (int r = 0; r < tree->rowCount(volume); ++r)
      QVERIFY(!w.FolderTree()->isExpanded(tree->index(r, 0, volume)));
    // "All Files" lists every record of the scan.
    QCOMPARE(static_cast<std::size_t>(w.FileListModel()->rowCount()),
             w.RecoveryHelper()->CurrentDisk()->Scaner->Items.size());

    // A folder: its rows, "-" for sub-folders, the path column from the volume's root.
    const QModelIndex documents = FindNode(tree, QStringLiteral("Documents"));
    QVERIFY(documents.isValid());
    w.FolderTree()->setCurrentIndex(documents);
    const TFileListModel* list = w.FileListModel();
    QVERIFY(list->rowCount() > 0);
    for (int r = 0; r < list->rowCount(); ++r) {
      QCOMPARE(list->index(r, TFileListModel::colPath).data().toString(), QStringLiteral("fat32.img/Documents/"));
      if (list->Item(r)->IsFolder) {
        QCOMPARE(list->index(r, TFileListModel::colSize).data().toString(), QStringLiteral("-"));
        QCOMPARE(list->index(r, TFileListModel::colState).data().toString(), QStringLiteral("-"));
      }
    }
    // A double-click on a folder row opens it and selects its node.
    for (int r = 0; r < list->rowCount(); ++r) {
      TFileInfo* item = list->Item(r);
      if (!item->IsFolder || !item->Children) continue;
      w.ShowFolder(item);
      QCOMPARE(w.FolderTree()->currentIndex().data().toString(), QString::fromStdString(item->Name));
      QCOMPARE(static_cast<std::size_t>(list->rowCount()), item->Children->size());
      break;
    }
  }

  // "Deep Scan" finds the later clusters of a deleted folder tree that "Search" cannot, and
  // shows them in the same tree; the progress dialog says which scan runs.
  void DeepScanFillsTheSameTreeWithWhatTheQuickScanMissed() {
    if (!QFile::exists(Fixture("fat32-deltree.img"))) QSKIP("the deep-scan fixtures are not built");
    TFrmFRMain w(TestOptions());
    w.show();
    QCOMPARE(w.OpenImage(Fixture("fat32-deltree.img")), 1);
    auto tripFiles = [&] {
      const QModelIndex trip = FindNode(w.FolderTree()->model(), QStringLiteral("Trip"));
      if (!trip.isValid()) return -1;
      w.FolderTree()->setCurrentIndex(trip);
      return w.FileListModel()->rowCount();
    };
    w.btnsearchClick();
    QVERIFY(WaitFor([&] { return w.FileListModel()->rowCount() > 0; }));
    const int quick = tripFiles();
    QVERIFY(w.DeepScanButton()->isEnabled());
    // The quick scan's files are listed while the free space is read: a folder opened and
    // a file ticked then are still so when the deep scan's results take their place.
    int earlyRows = -1;
    bool stripShown = false, restoreHeld = false;
    QString tickedName;
    w.RecoveryHelper()->OnScanEarlyResults = [&](TRecoveryHelper*) {
      w.ScanEarlyResults();
      stripShown = w.DeepScanStrip()->isVisible() && w.DeepScanStopButton()->isEnabled();
      earlyRows = tripFiles();
      for (int r = 0; r < w.FileListModel()->rowCount() && tickedName.isEmpty(); ++r) {
        if (w.FileListModel()->Item(r)->IsFolder) continue;
        w.FileListModel()->SetChecked(r, true);
        tickedName = QString::fromStdString(w.FileListModel()->Item(r)->Name);
      }
      restoreHeld = !w.RestoreButton()->isEnabled() && !w.RestoreButton()->toolTip().isEmpty();
    };
    QTest::mouseClick(w.DeepScanButton(), Qt::LeftButton);
    QVERIFY(w.RecoveryHelper()->DeepScan());
    QVERIFY(WaitFor([&] { return !w.IsBusy() && w.FileListModel()->rowCount() > 0 && !w.DeepScanStrip()->isVisible(); }));
    QVERIFY(stripShown);
    QVERIFY(restoreHeld);
    QCOMPARE(earlyRows, quick);
    QVERIFY(!tickedName.isEmpty());
    QCOMPARE(w.FolderTree()->currentIndex().data().toString(), QStringLiteral("Trip"));
    QCOMPARE(w.FileListModel()->rowCount(), 18);
    const TFileItems ticked = w.FileListModel()->CheckedItems();
    QCOMPARE(ticked.size(), std::size_t{1});
    QCOMPARE(QString::fromStdString(ticked.front()->Name), tickedName);
    QVERIFY(w.RestoreButton()->isEnabled());
    QCOMPARE(tripFiles(), 18);
    QVERIFY(quick < 18);
    QVERIFY(FindNode(w.FolderTree()->model(), QStringLiteral("Directory7")).isValid());
    // "Search" is a quick scan again.
    w.btnsearchClick();
    QVERIFY(!w.RecoveryHelper()->DeepScan());
    QVERIFY(WaitFor([&] { return !w.IsBusy() && w.FileListModel()->rowCount() > 0; }));
  }

  // A cut-short image (a copy that ended early, a card that gave out) still shows what
  // could be read, and the status line keeps saying what could not.
  void ATruncatedImageSaysHowMuchCouldNotBeRead() {
    QTemporaryDir dir;
    const QString image = dir.filePath(QStringLiteral("cut.img"));
    QVERIFY(QFile::copy(Fixture("fat32.img"), image));
    QVERIFY(QFile::resize(image, QFileInfo(image).size() * 3 / 5));
    TFrmFRMain w(TestOptions());
    w.show();
    QCOMPARE(w.OpenImage(image), 1);
    w.btnsearchClick();
    // The status turns to done on the worker before the window has filled its list.
    QVERIFY(WaitFor([&] { return w.FileListModel()->rowCount() > 0; }));
    const TDiskScaner* scaner = w.RecoveryHelper()->CurrentDisk()->Scaner.get();
    QVERIFY(scaner->UnreadBytes > 0);
    const QString size = QString::fromStdString(FormatFileSize(static_cast<std::int64_t>(scaner->UnreadBytes)));
    QVERIFY2(w.StatusLine()->text().contains(size + QStringLiteral(" unreadable")), qPrintable(w.StatusLine()->text()));
    QCOMPARE(w.StatusLine()->toolTip(),
             size + QStringLiteral(" of the volume could not be read: files stored there may be missing."));
    // Another folder keeps the note.
    w.FolderTree()->setCurrentIndex(w.FolderTree()->model()->index(1, 0));
    QVERIFY(w.StatusLine()->text().contains(QStringLiteral(" unreadable")));
    QVERIFY(!w.StatusLine()->toolTip().isEmpty());
  }

  void RecycledFilesGetTheirNamesBack() {
    QTemporaryDir dir;
    const QString image = MakeRecycleBinImage(dir);
    QVERIFY(!image.isEmpty());
    TFrmFRMain w(TestOptions());
    w.show();
    QCOMPARE(w.OpenImage(image), 1);
    w.btnsearchClick();
    QVERIFY(WaitFor([&] { return w.FileListModel()->rowCount() > 0; }));
    const QModelIndex bin = FindNode(w.FolderTree()->model(), QStringLiteral("Recycle Bin"));
    QVERIFY2(bin.isValid(), "the recycle bin is shown under its readable name");
    const QModelIndex user = FindNode(w.FolderTree()->model(), QStringLiteral("S-1-5-21-1001"));
    QVERIFY(user.isValid());
    w.FolderTree()->setCurrentIndex(user);
    const QStringList names = Column(w.FileListModel(), TFileListModel::colName);
    QVERIFY2(names.contains(QStringLiteral("cat.jpg")), qPrintable(names.join(", ")));
    QVERIFY2(names.contains(QStringLiteral("Brief an Müller.docx")), qPrintable(names.join(", ")));
    QVERIFY(names.contains(QStringLiteral("$RZZZZZZ.png")));  // its record is gone
    QVERIFY(names.contains(QStringLiteral("$I1A2B3C.jpg")));
    QCOMPARE(w.FileListModel()->index(0, TFileListModel::colPath).data().toString(),
             QStringLiteral("recycled.img/Recycle Bin/S-1-5-21-1001/"));
    // Categories go by the names given back: cat.jpg, $RZZZZZZ.png and the .jpg record are
    // pictures; the letter and its .docx record documents.
    QCOMPARE(w.Categories[catImages].Files.size(), std::size_t{3});
    QCOMPARE(w.Categories[catDocuments].Files.size(), std::size_t{2});
  }

  void TicksAndSorting() {
    TFrmFRMain w(TestOptions());
    w.show();
    // Records of our own: the list only needs names, sizes, times and verdicts.
    std::vector<std::unique_ptr<TFileInfo>> records;
    TFileItems items;
    const std::tuple<const char*, std::int64_t, std::int32_t> rows[] = {
        {"beta.txt", 300, rsGood}, {"Alpha.jpg", 10, rsPoor}, {"gamma.doc", 2000, rsLost}, {"delta.mp3", 5, rsVeryPoor}};
    for (const auto& [name, size, state] : rows) {
      records.push_back(NewFileInfo());
      records.back()->Name = name;
      records.back()->Size = size;
      records.back()->State = state;
      items.push_back(records.back().get());
    }
    w.ShowFolderContent(items);
    TFileListModel* list = w.FileListModel();
    auto* restore = w.findChild<QPushButton*>(QStringLiteral("btnrestore"));

    for (int r = 0; r < 3; ++r) list->setData(list->index(r, 0), Qt::Checked, Qt::CheckStateRole);
    list->setData(list->index(1, 0), Qt::Unchecked, Qt::CheckStateRole);
    QCOMPARE(list->CheckedCount(), 2);
    QVERIFY(restore->isEnabled());
    list->setData(list->index(0, 0), Qt::Unchecked, Qt::CheckStateRole);
    list->setData(list->index(2, 0), Qt::Unchecked, Qt::CheckStateRole);
    QCOMPARE(list->CheckedCount(), 0);
    QVERIFY(!restore->isEnabled());
    w.CheckAll();
    QCOMPARE(list->CheckedCount(), 4);
    QVERIFY(restore->isEnabled());
    w.InvertChecks();
    QCOMPARE(list->CheckedCount(), 0);
    QVERIFY(!restore->isEnabled());

    // Header clicks: the first on the size puts the smallest first, the second the largest;
    // the first on the name sorts Z to A. Ticks travel with their rows.
    list->setData(list->index(0, 0), Qt::Checked, Qt::CheckStateRole);  // beta.txt
    struct Click {
      int column;
      QStringList names;
    };
    const Click clicks[] = {
        {TFileListModel::colSize, {"delta.mp3", "Alpha.jpg", "beta.txt", "gamma.doc"}},
        {TFileListModel::colSize, {"gamma.doc", "beta.txt", "Alpha.jpg", "delta.mp3"}},
        {TFileListModel::colName, {"gamma.doc", "delta.mp3", "beta.txt", "Alpha.jpg"}},
        {TFileListModel::colName, {"Alpha.jpg", "beta.txt", "delta.mp3", "gamma.doc"}},
        {TFileListModel::colState, {"gamma.doc", "delta.mp3", "Alpha.jpg", "beta.txt"}},
    };
    QHeaderView* header = w.FileList()->horizontalHeader();
    for (const Click& c : clicks) {
      QTest::mouseClick(header->viewport(), Qt::LeftButton, {},
                        QPoint(header->sectionViewportPosition(c.column) + 5, header->height() / 2));
      QCOMPARE(Column(list, TFileListModel::colName), c.names);
    }
    QCOMPARE(list->CheckedItems(), TFileItems{records[0].get()});

    // "Poor" with its icon, and again after a language switch.
    const int poorRow = static_cast<int>(Column(list, TFileListModel::colName).indexOf("Alpha.jpg"));
    QCOMPARE(list->index(poorRow, TFileListModel::colState).data().toString(), QStringLiteral("Poor"));
    QVERIFY(!list->index(poorRow, TFileListModel::colState).data(Qt::DecorationRole).value<QIcon>().isNull());
    SetLanguage(QStringLiteral("Deutsch"));
    const QString german = TranslateText("FileRecovery", "Poor", "Poor");
    QCOMPARE(list->index(poorRow, TFileListModel::colState).data().toString(), german);
    SetLanguage(QStringLiteral("English"));
    QCOMPARE(list->index(poorRow, TFileListModel::colState).data().toString(), QStringLiteral("Poor"));
    // Rebuilding the view clears every tick.
    w.ShowFolderContent(items);
    QCOMPARE(list->CheckedCount(), 0);
    QVERIFY(!restore->isEnabled());
    w.ShowFolderContent({});
  }

  void DatesAndSizesInTheUsersFormat() {
    QLocale::setDefault(QLocale(QLocale::English, QLocale::UnitedStates));
    qputenv("TZ", "UTC0");
    tzset();
    // 2024-06-15 00:00:00 UTC: midnight shows the date alone.
    const FILETIME midnight = UnixTimeToFileTime(1718409600);
    QCOMPARE(TFileListModel::DateText(midnight), QLocale().toString(QDate(2024, 6, 15), QLocale::ShortFormat));
    const QString withTime = TFileListModel::DateText(midnight + 10000000ull * 3723);
    QVERIFY(withTime.startsWith(QLocale().toString(QDate(2024, 6, 15), QLocale::ShortFormat) + QLatin1Char(' ')));
    QVERIFY(withTime.contains(QStringLiteral("1:02:03")));
  }
};

QTEST_MAIN(ResultViewsTest)
#include "ResultViewsTest.moc"
