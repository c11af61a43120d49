#include <QApplication>
#include <QLabel>
#include <QPushButton>
#include <QTest>
#include <QTimer>
#include <QToolButton>

#include <functional>

#include "RestovoStyle.h"
#include "TTarnMessageBox.h"

using namespace restovo;

namespace {

TTarnMessageBox* VisibleBox() {
  for (QWidget* w : QApplication::topLevelWidgets()) {
    if (auto* box = qobject_cast<TTarnMessageBox*>(w); box && box->isVisible()) return box;
  }
  return nullptr;
}

// Runs act on the box once the modal loop shows it; the loop itself runs in Show().
void WhenShown(std::function<void(TTarnMessageBox*)> act) {
  auto* timer = new QTimer;
  timer->setInterval(10);
  QObject::connect(timer, &QTimer::timeout, timer, [timer, act = std::move(act)] {
    if (TTarnMessageBox* box = VisibleBox()) {
      timer->stop();
      timer->deleteLater();
      act(box);
    }
  });
  timer->start();
}

QStringList ButtonCaptions(TTarnMessageBox* box) {
  QStringList captions;
  for (auto* b : box->findChildren<QPushButton*>()) captions << b->objectName() + '=' + b->text();
  captions.sort();
  return captions;
}

}  // namespace

class MessageBoxTest : public QObject {
  Q_OBJECT

 private slots:
  void answers_data();
  void answers();
  void defaultCaptionsAreEnglish();
  void centredOverItsOwner();
  void longTextWraps();
};

void MessageBoxTest::answers_data() {
  QTest::addColumn<int>("kind");
  QTest::addColumn<int>("buttons");
  QTest::addColumn<QString>("action");  // a button's object name, or a key, or "close"
  QTest::addColumn<int>("result");
  QTest::addColumn<QString>("icon");

  QTest::newRow("confirm, Yes") << int(mkConfirm) << int(mbYesNo) << "btnYes" << 6 << "msg-question";
  QTest::newRow("confirm, No") << int(mkConfirm) << int(mbYesNo) << "btnNo" << 7 << "msg-question";
  QTest::newRow("warning, Yes") << int(mkWarning) << int(mbYesNo) << "btnYes" << 6 << "msg-warning";
  QTest::newRow("error, No") << int(mkError) << int(mbYesNo) << "btnNo" << 7 << "msg-error";
  QTest::newRow("information, OK") << int(mkInformation) << int(mbOK) << "btnOk" << 1
                                   << "msg-information";
  QTest::newRow("error, OK") << int(mkError) << int(mbOK) << "btnOk" << 1 << "msg-error";
  QTest::newRow("warning, OK") << int(mkWarning) << int(mbOK) << "btnOk" << 1 << "msg-warning";
  // Leaving the box without choosing answers No, or OK when there is nothing else.
  QTest::newRow("Escape in Yes/No") << int(mkConfirm) << int(mbYesNo) << "Escape" << 7 << "msg-question";
  QTest::newRow("Escape in OK") << int(mkInformation) << int(mbOK) << "Escape" << 1 << "msg-information";
  QTest::newRow("close in Yes/No") << int(mkWarning) << int(mbYesNo) << "close" << 7 << "msg-warning";
  QTest::newRow("close in OK") << int(mkError) << int(mbOK) << "close" << 1 << "msg-error";
  QTest::newRow("Enter takes Yes") << int(mkConfirm) << int(mbYesNo) << "Return" << 6 << "msg-question";
  QTest::newRow("Enter takes OK") << int(mkError) << int(mbOK) << "Return" << 1 << "msg-error";
}

void MessageBoxTest::answers() {
  QFETCH(int, kind);
  QFETCH(int, buttons);
  QFETCH(QString, action);
  QFETCH(int, result);
  QFETCH(QString, icon);

  TMsgButtonTexts texts;
  texts.Yes = QStringLiteral("Ja");
  texts.No = QStringLiteral("Nein");
  texts.Ok = QStringLiteral("Gut");
  const QStringList expectedCaptions =
      buttons == mbYesNo ? QStringList{QStringLiteral("btnNo=Nein"), QStringLiteral("btnYes=Ja")}
                         : QStringList{QStringLiteral("btnOk=Gut")};

  QStringList seenCaptions;
  QString seenIcon;
  QString seenTitle;
  QString seenText;
  WhenShown([&](TTarnMessageBox* box) {
    seenCaptions = ButtonCaptions(box);
    seenIcon = box->findChild<QWidget*>(QStringLiteral("TarnMsgIcon"))->property("iconName").toString();
    seenTitle = box->Caption();
    seenText = box->findChild<QLabel*>(QStringLiteral("TarnMsgText"))->text();
    if (action == QLatin1StringView("Escape")) {
      QTest::keyClick(box, Qt::Key_Escape);
    } else if (action == QLatin1StringView("Return")) {
      QTest::keyClick(box, Qt::Key_Return);
    } else if (action == QLatin1StringView("close")) {
      QTest::mouseClick(box->TitleBar()->Button(TTarnTitleBar::btClose), Qt::LeftButton);
    } else {
      QTest::mouseClick(box->findChild<QPushButton*>(action), Qt::LeftButton);
    }
  });
  const int answer = TTarnMessageBox::Show(nullptr, TMsgKind(kind), QStringLiteral("Fehler"),
                                           QStringLiteral("Ungültige Partition."),
                                           TMsgButtons(buttons), texts);
  QCOMPARE(answer, result);
  QCOMPARE(seenCaptions, expectedCaptions);
  QCOMPARE(seenIcon, icon);
  QCOMPARE(seenTitle, QStringLiteral("Fehler"));
  QCOMPARE(seenText, QStringLiteral("Ungültige Partition."));
  QVERIFY(!VisibleBox());
}

void MessageBoxTest::defaultCaptionsAreEnglish() {
  QStringList yesNo;
  WhenShown([&](TTarnMessageBox* box) {
    yesNo = ButtonCaptions(box);
    box->findChild<QPushButton*>(QStringLiteral("btnNo"))->click();
  });
  TTarnMessageBox::Show(nullptr, mkConfirm, QStringLiteral("Restovo"), QStringLiteral("Go on?"), mbYesNo);
  QCOMPARE(yesNo, (QStringList{QStringLiteral("btnNo=No"), QStringLiteral("btnYes=Yes")}));

  QStringList ok;
  WhenShown([&](TTarnMessageBox* box) {
    ok = ButtonCaptions(box);
    box->findChild<QPushButton*>(QStringLiteral("btnOk"))->click();
  });
  TTarnMessageBox::Show(nullptr, mkInformation, QStringLiteral("Restovo"), QStringLiteral("Done."), mbOK);
  QCOMPARE(ok, QStringList{QStringLiteral("btnOk=OK")});
}

void MessageBoxTest::centredOverItsOwner() {
  TTarnWindow owner;
  owner.setGeometry(60, 90, 640, 480);
  owner.show();
  QVERIFY(QTest::qWaitForWindowExposed(&owner));

  QRect placed;
  bool modal = false;
  WhenShown([&](TTarnMessageBox* box) {
    placed = box->geometry();
    modal = box->isModal() && QApplication::activeModalWidget() == box;
    box->findChild<QPushButton*>(QStringLiteral("btnOk"))->click();
  });
  TTarnMessageBox::Show(&owner, mkWarning, QStringLiteral("Restovo"), QStringLiteral("Careful."), mbOK);
  QVERIFY(modal);
  QVERIFY2(qAbs(placed.center().x() - owner.geometry().center().x()) <= 1, qPrintable(QString::number(placed.x())));
  QVERIFY2(qAbs(placed.center().y() - owner.geometry().center().y()) <= 1, qPrintable(QString::number(placed.y())));
}

void MessageBoxTest::longTextWraps() {
  const QString text = QStringLiteral("Can not restore the file：\n") +
                       QStringLiteral("/media/me/backup/").repeated(12) + QStringLiteral("photo.jpg ") +
                       QStringLiteral("could not be written because the destination is full. ").repeated(3);
  int textWidth = 0;
  int textHeight = 0;
  int lineHeight = 0;
  QSize boxSize;
  WhenShown([&](TTarnMessageBox* box) {
    auto* label = box->findChild<QLabel*>(QStringLiteral("TarnMsgText"));
    textWidth = label->width();
    textHeight = label->height();
    lineHeight = label->fontMetrics().lineSpacing();
    boxSize = box->size();
    box->findChild<QPushButton*>(QStringLiteral("btnOk"))->click();
  });
  TTarnMessageBox::Show(nullptr, mkError, QStringLiteral("Error"), text, mbOK);
  QCOMPARE(textWidth, 420);
  QVERIFY2(textHeight >= 4 * lineHeight, qPrintable(QString::number(textHeight)));
  QVERIFY(boxSize.width() < 560);
  QVERIFY(boxSize.height() > textHeight);
}

QTEST_MAIN(MessageBoxTest)
#include "MessageBoxTest.moc"
