// The search box over the file list: keywords and patterns, category choices, the clear
// button and the edit menu. The records are made here; no volume is needed.
#include <QAction>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QSignalSpy>
#include <QTableView>
#include <QtTest>
#include <memory>
#include <vector>

#include "FileListModel.h"
#include "TTarnSearchBox.h"
#include "Translation.h"
#include "Umain.h"
#include "AppTestSupport.h"

using namespace restovo;
using namespace restovo::test;

namespace {

// A folder's worth of records: files of every kind and two folders.
struct TView {
  std::vector<std::unique_ptr<TFileInfo>> Owned;
  TFileItems Items;
  TView() {
    const std::pair<const char*, bool> entries[] = {
        {"Cat.jpg", false},     {"Concatenate.doc", false}, {"dog.txt", false},    {"hotdog.PNG", false},
        {"catalog", true},      {"song.MP3", false},        {"x.mp3", true},       {"voice.wav", false},
        {"a(b).txt", false},    {"report.docx", false},     {"notes.ocx", false},  {"IMG_0001.JPG", false}};
    for (const auto& [name, folder] : entries) {
      Owned.push_back(NewFileInfo());
      Owned.back()->Name = name;
      Owned.back()->IsFolder = folder;
      Items.push_back(Owned.back().get());
    }
  }
};

QStringList Shown(const TFrmFRMain& w) {
  QStringList names;
  for (const TFileInfo* r : w.FileListModel()->Items()) names << QString::fromStdString(r->Name);
  return names;
}

const QStringList kAll = {"Cat.jpg", "Concatenate.doc", "dog.txt", "hotdog.PNG", "catalog", "song.MP3",
                          "x.mp3",   "voice.wav",       "a(b).txt", "report.docx", "notes.ocx", "IMG_0001.JPG"};

}  // namespace

class SearchBoxTest : public QObject {
  Q_OBJECT

 private slots:
  void initTestCase() {
    ListLanguages();
    SetLanguage(QStringLiteral("English"));
  }

  void TypedKeywordsFilterTheView_data() {
    QTest::addColumn<QString>("typed");
    QTest::addColumn<QStringList>("shown");
    QTest::newRow("contained, any case") << "cat" << QStringList{"Cat.jpg", "Concatenate.doc", "catalog"};
    QTest::newRow("starts with | contains") << "cat|dog" << QStringList{"Cat.jpg", "dog.txt", "hotdog.PNG", "catalog"};
    QTest::newRow("extension, any case") << "*.JPG" << QStringList{"Cat.jpg", "IMG_0001.JPG"};
    QTest::newRow("question mark") << "img_????.jpg" << QStringList{"IMG_0001.JPG"};
    QTest::newRow("nothing matches") << "zebra" << QStringList{};
    QTest::newRow("*.* shows all") << "*.*" << kAll;
    QTest::newRow("*.* inside shows all") << "a*.*b" << kAll;
    QTest::newRow("colon shows all") << "a:b" << kAll;
    QTest::newRow("comma shows all") << "a,b" << kAll;
    QTest::newRow("backslash shows all") << "a\\b" << kAll;
    QTest::newRow("parenthesis shows all") << "(a" << kAll;
    QTest::newRow("the old hint text shows all") << "File or folder name" << kAll;
    QTest::newRow("blanks show all") << "   " << kAll;
  }

  void TypedKeywordsFilterTheView() {
    QFETCH(QString, typed);
    QFETCH(QStringList, shown);
    TView view;
    TFrmFRMain w(TestOptions());
    w.show();
    w.ShowFolderContent(view.Items);
    QCOMPARE(Shown(w), kAll);
    QTest::keyClicks(w.SearchBox()->LineEdit(), typed);
    QCOMPARE(Shown(w), shown);
    QCOMPARE(w.SearchBox()->ChosenIndex(), -1);
    QCOMPARE(w.LastFilterText, typed);
    // The status line counts what is shown.
    QVERIFY(w.StatusLine()->text().contains(QStringLiteral(">%1<").arg(shown.size())));
    // Opening another folder filters it by the same keyword.
    TFileItems half(view.Items.begin(), view.Items.begin() + 6);
    w.ShowFolderContent(half);
    for (const QString& name : Shown(w)) QVERIFY(shown.contains(name));
  }

  void KeysThatKeepTheTextDoNotFilterAgain() {
    TView view;
    TFrmFRMain w(TestOptions());
    w.show();
    w.ShowFolderContent(view.Items);
    QTest::keyClicks(w.SearchBox()->LineEdit(), QStringLiteral("dog"));
    QSignalSpy resets(w.FileListModel(), &QAbstractItemModel::modelReset);
    QTest::keyClick(w.SearchBox()->LineEdit(), Qt::Key_Left);
    QTest::keyClick(w.SearchBox()->LineEdit(), Qt::Key_Home);
    QCOMPARE(resets.count(), 0);
    QTest::keyClick(w.SearchBox()->LineEdit(), Qt::Key_End);
    QTest::keyClick(w.SearchBox()->LineEdit(), Qt::Key_Backspace);
    QCOMPARE(resets.count(), 1);
    QCOMPARE(Shown(w), (QStringList{"Concatenate.doc", "dog.txt", "hotdog.PNG", "report.docx"}));
  }

  void LongKeywordsAreCutAt80Characters() {
    TView view;
    TFrmFRMain w(TestOptions());
    w.show();
    w.ShowFolderContent(view.Items);
    QTest::keyClicks(w.SearchBox()->LineEdit(), QStringLiteral("c") + QString(99, QLatin1Char('x')));
    QCOMPARE(w.SearchBox()->Text().size(), 80);
    QVERIFY(Shown(w).isEmpty());
    // A pasted one too.
    w.SearchBox()->LineEdit()->clear();
    w.SearchBox()->LineEdit()->insert(QString(120, QLatin1Char('y')));
    QCOMPARE(w.SearchBox()->Text().size(), 80);
  }

  void ACategoryWritesItsMaskAndNarrowsEveryFolder() {
    TView view;
    TFrmFRMain w(TestOptions());
    w.show();
    TTarnSearchBox* box = w.SearchBox();
    QCOMPARE(box->count(), 6);
    QCOMPARE(box->itemText(1), QStringLiteral("Audios"));
    QCOMPARE(box->itemText(3), QStringLiteral("Docments"));
    w.ShowFolderContent(view.Items);
    box->setCurrentIndex(1);
    emit box->activated(1);
    QCOMPARE(box->Text(), QStringLiteral("*.mp3|*.wav|*.wma|*.mid"));
    QCOMPARE(w.CategoryIndex(), 1);
    QVERIFY(box->ClearAction()->isVisible());
    // A folder named like an audio file is listed too: it is matched by its name.
    QCOMPARE(Shown(w), (QStringList{"song.MP3", "x.mp3", "voice.wav"}));
    // While the category is chosen, a folder opened shows its folders and the category's
    // files ("ocx" is found inside "*.docx", as when the scan sorted the files).
    box->setCurrentIndex(3);
    emit box->activated(3);
    w.ShowFolderContent(view.Items);
    QCOMPARE(Shown(w), (QStringList{"Concatenate.doc", "catalog", "x.mp3", "report.docx", "notes.ocx"}));
    // Typing ends the category: the keyword filter takes over.
    QTest::keyClick(box->LineEdit(), Qt::Key_End);
    QTest::keyClicks(box->LineEdit(), QStringLiteral("|dog"));
    QCOMPARE(w.CategoryIndex(), -1);
  }

  void DeleteShowsTheWholeViewAndThePlaceholder() {
    TView view;
    TFrmFRMain w(TestOptions());
    w.show();
    w.ShowFolderContent(view.Items);
    TTarnSearchBox* box = w.SearchBox();
    box->setCurrentIndex(0);
    emit box->activated(0);
    QVERIFY(Shown(w).size() < kAll.size());
    box->ClearAction()->trigger();
    QCOMPARE(box->Text(), QString());
    QCOMPARE(box->ChosenIndex(), -1);
    QCOMPARE(Shown(w), kAll);
    QVERIFY(!box->ClearAction()->isVisible());
    QCOMPARE(box->LineEdit()->placeholderText(), QStringLiteral("Input KeyWord"));
    QCOMPARE(w.focusWidget(), w.FileList());
  }

  void TheEditMenuFollowsTheFieldAndTheLanguage() {
    TFrmFRMain w(TestOptions());
    w.show();
    QMenu* menu = w.EditMenu();
    QStringList names;
    for (QAction* a : menu->actions()) names << (a->isSeparator() ? QStringLiteral("-") : a->objectName());
    QCOMPARE(names, (QStringList{"pmcut", "pmcopy", "pmpaste", "pmdelete", "-", "pmselectall"}));
    auto entry = [&](const char* name) { return menu->findChild<QAction*>(QLatin1String(name)); };
    QLineEdit* edit = w.SearchBox()->LineEdit();
    emit menu->aboutToShow();
    QVERIFY(!entry("pmcut")->isEnabled());
    QVERIFY(!entry("pmselectall")->isEnabled());
    edit->setText(QStringLiteral("holiday"));
    edit->setSelection(0, 3);
    emit menu->aboutToShow();
    QVERIFY(entry("pmcut")->isEnabled() && entry("pmcopy")->isEnabled() && entry("pmdelete")->isEnabled());
    QVERIFY(entry("pmselectall")->isEnabled());
    entry("pmdelete")->trigger();
    QCOMPARE(edit->text(), QStringLiteral("iday"));

    SetLanguage(QStringLiteral("Deutsch"));
    QCOMPARE(menu->actions().size(), 6);  // rebuilt, not added to
    QCOMPARE(entry("pmpaste")->text(),
             TranslateText(QStringLiteral("Edit"), QStringLiteral("pmpaste"), QStringLiteral("Paste")));
    QCOMPARE(w.SearchBox()->itemText(0),
             TranslateText(QStringLiteral("FileRecovery"), QStringLiteral("Images"), QStringLiteral("Images")));
    SetLanguage(QStringLiteral("English"));
  }
};

QTEST_MAIN(SearchBoxTest)
#include "SearchBoxTest.moc"
