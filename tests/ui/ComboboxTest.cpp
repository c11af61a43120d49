#include <QAbstractItemView>
#include <QAction>
#include <QContextMenuEvent>
#include <QLineEdit>
#include <QMenu>
#include <QSignalSpy>
#include <QTest>
#include <QToolButton>

#include "RestovoStyle.h"
#include "TTarnDirectCombobox.h"
#include "TTarnSearchBox.h"

using namespace restovo;

namespace {

// The button QLineEdit shows for an action inside the field.
QWidget* ButtonOf(QAction* action) {
  for (QObject* o : action->associatedObjects()) {
    if (auto* b = qobject_cast<QToolButton*>(o)) return b;
  }
  return nullptr;
}

void PickFromDropDown(TTarnSearchBox& box, int row) {
  box.showPopup();
  QAbstractItemView* view = box.view();
  QTRY_VERIFY(view->isVisible());
  const QRect item = view->visualRect(view->model()->index(row, 0));
  QTest::mouseClick(view->viewport(), Qt::LeftButton, {}, item.center());
  QTRY_VERIFY(!view->isVisible());
}

}  // namespace

class ComboboxTest : public QObject {
  Q_OBJECT

 private slots:
  void driveEntriesCarryTheirData();
  void searchBoxClearButton();
  void searchBoxChoices();
  void searchBoxKeepsItsTextWhenChoicesChange();
  void searchBoxEditMenu();
};

void ComboboxTest::driveEntriesCarryTheirData() {
  TTarnDirectCombobox box;
  QVERIFY(!box.isEditable());
  int drives[2] = {};
  QCOMPARE(box.AddEntry(RestovoIcon(u"drive-removable"), QStringLiteral("NIKON (SDB1)"), &drives[0]), 0);
  QCOMPARE(box.AddEntry(RestovoIcon(u"drive-image"), QStringLiteral("CARD.IMG"), &drives[1]), 1);
  QCOMPARE(box.AddEntry(QIcon(), QStringLiteral("NO DATA"), nullptr), 2);

  QCOMPARE(box.count(), 3);
  QCOMPARE(box.EntryData(0), static_cast<void*>(&drives[0]));
  QCOMPARE(box.EntryData(1), static_cast<void*>(&drives[1]));
  QCOMPARE(box.EntryData(2), nullptr);
  QCOMPARE(box.itemText(1), QStringLiteral("CARD.IMG"));
  QCOMPARE(box.itemIcon(1).cacheKey(), RestovoIcon(u"drive-image").cacheKey());
  QCOMPARE(box.currentIndex(), 0);
  QCOMPARE(box.EntryData(-1), nullptr);
  QCOMPARE(box.EntryData(3), nullptr);

  // Picking another entry leaves every entry's data where it was.
  box.setCurrentIndex(1);
  QCOMPARE(box.EntryData(box.currentIndex()), static_cast<void*>(&drives[1]));
  QCOMPARE(box.EntryData(0), static_cast<void*>(&drives[0]));

  box.Clear();
  QCOMPARE(box.count(), 0);
  QCOMPARE(box.currentIndex(), -1);
  QCOMPARE(box.EntryData(0), nullptr);
}

void ComboboxTest::searchBoxClearButton() {
  TTarnSearchBox box;
  box.SetPlaceholder(QStringLiteral("Input KeyWord"));
  box.SetClearHint(QStringLiteral("Löschen"));
  box.show();
  QVERIFY(QTest::qWaitForWindowExposed(&box));
  QCOMPARE(box.LineEdit()->placeholderText(), QStringLiteral("Input KeyWord"));
  QCOMPARE(box.ClearAction()->toolTip(), QStringLiteral("Löschen"));
  QVERIFY(!box.ClearAction()->isVisible());

  QSignalSpy edited(&box, &TTarnSearchBox::TextEdited);
  QSignalSpy cleared(&box, &TTarnSearchBox::Cleared);
  QTest::keyClicks(box.LineEdit(), QStringLiteral("dsc"));
  QCOMPARE(box.Text(), QStringLiteral("dsc"));
  QCOMPARE(edited.count(), 3);
  QCOMPARE(edited.last().at(0).toString(), QStringLiteral("dsc"));
  QVERIFY(box.ClearAction()->isVisible());

  QWidget* button = ButtonOf(box.ClearAction());
  QVERIFY(button);
  QTRY_VERIFY(button->isVisible());
  QTest::mouseClick(button, Qt::LeftButton);
  QCOMPARE(cleared.count(), 1);
  QCOMPARE(box.Text(), QString());
  QCOMPARE(box.ChosenIndex(), -1);
  QVERIFY(!box.ClearAction()->isVisible());
  QCOMPARE(edited.count(), 3);

  // Text the program puts in shows the button too, without counting as typed.
  box.SetText(QStringLiteral("*.jpg"));
  QVERIFY(box.ClearAction()->isVisible());
  QCOMPARE(edited.count(), 3);
}

void ComboboxTest::searchBoxChoices() {
  TTarnSearchBox box;
  box.AddChoice(RestovoIcon(u"type-picture"), QStringLiteral("Images"));
  box.AddChoice(RestovoIcon(u"type-audio"), QStringLiteral("Audios"));
  box.AddChoice(RestovoIcon(u"type-video"), QStringLiteral("Videos"));
  box.show();
  QVERIFY(QTest::qWaitForWindowExposed(&box));
  QCOMPARE(box.ChosenIndex(), -1);
  QCOMPARE(box.Text(), QString());

  QSignalSpy picked(&box, &TTarnSearchBox::ChoicePicked);
  PickFromDropDown(box, 1);
  QCOMPARE(picked.count(), 1);
  QCOMPARE(picked.at(0).at(0).toInt(), 1);
  QCOMPARE(box.ChosenIndex(), 1);
  QCOMPARE(box.Text(), QStringLiteral("Audios"));
  QVERIFY(box.ClearAction()->isVisible());

  // Typing ends the choice; Enter does not add the typed text as a new choice.
  box.LineEdit()->setFocus();
  QTest::keyClick(box.LineEdit(), Qt::Key_Backspace);
  QCOMPARE(box.ChosenIndex(), -1);
  QTest::keyClick(box.LineEdit(), Qt::Key_Return);
  QCOMPARE(box.count(), 3);

  PickFromDropDown(box, 2);
  QCOMPARE(box.ChosenIndex(), 2);
  QTest::mouseClick(ButtonOf(box.ClearAction()), Qt::LeftButton);
  QCOMPARE(box.ChosenIndex(), -1);
  QCOMPARE(box.Text(), QString());
}

void ComboboxTest::searchBoxKeepsItsTextWhenChoicesChange() {
  TTarnSearchBox box;
  box.SetText(QStringLiteral("report"));
  // The first item of a combo box would otherwise become current and replace the text.
  box.AddChoice(RestovoIcon(u"type-document"), QStringLiteral("Docments"));
  box.AddChoice(RestovoIcon(u"type-mail"), QStringLiteral("Email"));
  QCOMPARE(box.Text(), QStringLiteral("report"));
  QCOMPARE(box.ChosenIndex(), -1);

  box.ClearChoices();
  QCOMPARE(box.count(), 0);
  QCOMPARE(box.Text(), QStringLiteral("report"));
}

void ComboboxTest::searchBoxEditMenu() {
  TTarnSearchBox box;
  box.show();
  QVERIFY(QTest::qWaitForWindowExposed(&box));
  QMenu menu;
  menu.addAction(QStringLiteral("Ausschneiden"));
  box.SetEditMenu(&menu);
  QSignalSpy aboutToShow(&menu, &QMenu::aboutToShow);
  QContextMenuEvent event(QContextMenuEvent::Mouse, QPoint(5, 5),
                          box.LineEdit()->mapToGlobal(QPoint(5, 5)));
  QCoreApplication::sendEvent(box.LineEdit(), &event);
  QCOMPARE(aboutToShow.count(), 1);
  menu.hide();

  box.SetEditMenu(nullptr);
  QCOMPARE(box.LineEdit()->contextMenuPolicy(), Qt::DefaultContextMenu);
}

QTEST_MAIN(ComboboxTest)
#include "ComboboxTest.moc"
