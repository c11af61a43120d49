#include <QApplication>
#include <QLabel>
#include <QPointer>
#include <QScreen>
#include <QSignalSpy>
#include <QTest>
#include <QToolButton>
#include <QVBoxLayout>
#include <QWindow>

#include "RestovoStyle.h"
#include "TTarnWindow.h"

using namespace restovo;

namespace {

constexpr QRect kStart(200, 150, 500, 360);

// The window with a layout that lets it shrink well below its start size.
std::unique_ptr<TTarnWindow> ShownWindow() {
  auto w = std::make_unique<TTarnWindow>();
  w->SetCaption(QStringLiteral("Restovo"));
  w->SetButtonHints(QStringLiteral("Min"), QStringLiteral("Max"), QStringLiteral("Back"),
                    QStringLiteral("Shut"), QStringLiteral("Options"));
  w->setMinimumSize(300, 200);
  w->setGeometry(kStart);
  w->show();
  return w;
}

QPoint EmptyTitleBarPoint(TTarnTitleBar* bar) { return QPoint(bar->width() / 2, bar->height() / 2); }

// Mouse events go to the window, as the window system delivers them, so that the
// frame sees them before any child widget does.
void Drag(QWidget* w, QPoint from, QPoint by) {
  QWindow* handle = w->windowHandle();
  const QPoint target = handle->mapToGlobal(from + by);
  QTest::mousePress(handle, Qt::LeftButton, {}, from);
  QTest::mouseMove(handle, from + by);
  // Released where the pointer is, which the resize may have moved in the window.
  QTest::mouseRelease(handle, Qt::LeftButton, {}, handle->mapFromGlobal(target));
}

}  // namespace

class TarnWindowTest : public QObject {
  Q_OBJECT

 private slots:
  void init() { QGuiApplication::restoreOverrideCursor(); }
  void captionIsShownAndBecomesTheWindowTitle();
  void maximizeButtonFollowsTheWindowState();
  void doubleClickOnTitleBarMaximizesAndRestores();
  void menuButtonReportsWhereToOpenTheMenu();
  void minimizeAndCloseButtons();
  void draggingTheTitleBarMovesTheWindow();
  void edgesResize_data();
  void edgesResize();
  void edgesShowResizeCursors_data();
  void edgesShowResizeCursors();
  void maximizedWindowHasNoEdges();
  void cornersAreRoundOnlyWhenNotMaximized();
  void contentAndTitleBarWidgets();
  void dialogIsCentredFixedAndClosesAsReject();
};

void TarnWindowTest::captionIsShownAndBecomesTheWindowTitle() {
  TTarnWindow w;
  w.SetCaption(QStringLiteral("Restovo – NIKON"));
  QCOMPARE(w.Caption(), QStringLiteral("Restovo – NIKON"));
  QCOMPARE(w.windowTitle(), QStringLiteral("Restovo – NIKON"));
  QCOMPARE(w.TitleBar()->findChild<QLabel*>(QStringLiteral("TarnCaption"))->text(),
           QStringLiteral("Restovo – NIKON"));
  QVERIFY(w.windowFlags() & Qt::FramelessWindowHint);
}

void TarnWindowTest::maximizeButtonFollowsTheWindowState() {
  auto w = ShownWindow();
  QVERIFY(QTest::qWaitForWindowExposed(w.get()));
  QToolButton* max = w->TitleBar()->Button(TTarnTitleBar::btMaximize);
  QCOMPARE(max->toolTip(), QStringLiteral("Max"));
  QCOMPARE(max->icon().cacheKey(), RestovoIcon(u"window-maximize").cacheKey());

  QTest::mouseClick(max, Qt::LeftButton);
  QVERIFY(w->isMaximized());
  QCOMPARE(max->toolTip(), QStringLiteral("Back"));
  QCOMPARE(max->icon().cacheKey(), RestovoIcon(u"window-restore").cacheKey());

  QTest::mouseClick(max, Qt::LeftButton);
  QVERIFY(!w->isMaximized());
  QCOMPARE(max->toolTip(), QStringLiteral("Max"));
  QCOMPARE(max->icon().cacheKey(), RestovoIcon(u"window-maximize").cacheKey());

  // Hints set while maximised apply to the state shown.
  w->showMaximized();
  w->SetButtonHints(QStringLiteral("a"), QStringLiteral("b"), QStringLiteral("c"),
                    QStringLiteral("d"), QStringLiteral("e"));
  QCOMPARE(max->toolTip(), QStringLiteral("c"));
  QCOMPARE(w->TitleBar()->Button(TTarnTitleBar::btMinimize)->toolTip(), QStringLiteral("a"));
  QCOMPARE(w->TitleBar()->Button(TTarnTitleBar::btClose)->toolTip(), QStringLiteral("d"));
  QCOMPARE(w->TitleBar()->Button(TTarnTitleBar::btMenu)->toolTip(), QStringLiteral("e"));
}

void TarnWindowTest::doubleClickOnTitleBarMaximizesAndRestores() {
  auto w = ShownWindow();
  QVERIFY(QTest::qWaitForWindowExposed(w.get()));
  TTarnTitleBar* bar = w->TitleBar();
  QTest::mouseDClick(bar, Qt::LeftButton, {}, EmptyTitleBarPoint(bar));
  QVERIFY(w->isMaximized());
  QCOMPARE(bar->Button(TTarnTitleBar::btMaximize)->toolTip(), QStringLiteral("Back"));
  QTest::mouseDClick(bar, Qt::LeftButton, {}, EmptyTitleBarPoint(bar));
  QVERIFY(!w->isMaximized());
  QCOMPARE(w->geometry(), kStart);

  // Without a maximise button (a dialog's title bar) a double click does nothing.
  bar->SetButtons(TTarnTitleBar::btClose);
  QTest::mouseDClick(bar, Qt::LeftButton, {}, EmptyTitleBarPoint(bar));
  QVERIFY(!w->isMaximized());
}

void TarnWindowTest::menuButtonReportsWhereToOpenTheMenu() {
  auto w = ShownWindow();
  QVERIFY(QTest::qWaitForWindowExposed(w.get()));
  QSignalSpy spy(w.get(), &TTarnWindow::MenuRequested);
  QToolButton* menu = w->TitleBar()->Button(TTarnTitleBar::btMenu);
  QTest::mouseClick(menu, Qt::LeftButton);
  QCOMPARE(spy.count(), 1);
  QCOMPARE(spy.at(0).at(0).toPoint(), menu->mapToGlobal(QPoint(0, menu->height())));
}

void TarnWindowTest::minimizeAndCloseButtons() {
  auto w = ShownWindow();
  QVERIFY(QTest::qWaitForWindowExposed(w.get()));
  QTest::mouseClick(w->TitleBar()->Button(TTarnTitleBar::btMinimize), Qt::LeftButton);
  QVERIFY(w->isMinimized());
  w->showNormal();
  QTest::mouseClick(w->TitleBar()->Button(TTarnTitleBar::btClose), Qt::LeftButton);
  QVERIFY(!w->isVisible());
}

void TarnWindowTest::draggingTheTitleBarMovesTheWindow() {
  auto w = ShownWindow();
  QVERIFY(QTest::qWaitForWindowExposed(w.get()));
  TTarnTitleBar* bar = w->TitleBar();
  const QPoint start = EmptyTitleBarPoint(bar);
  QTest::mousePress(bar, Qt::LeftButton, {}, start);
  // A move shorter than the drag distance is a click, not a drag.
  QTest::mouseMove(bar, start + QPoint(1, 0));
  QCOMPARE(w->pos(), kStart.topLeft());
  QTest::mouseMove(bar, start + QPoint(40, 25));
  QTest::mouseRelease(bar, Qt::LeftButton, {}, start + QPoint(40, 25));
  QCOMPARE(w->pos(), kStart.topLeft() + QPoint(40, 25));
  QCOMPARE(w->size(), kStart.size());
}

void TarnWindowTest::edgesResize_data() {
  QTest::addColumn<QPoint>("press");  // in window coordinates; -1 stands for the far edge
  QTest::addColumn<QPoint>("by");
  QTest::addColumn<QRect>("expected");
  const QRect s = kStart;
  QTest::newRow("right edge") << QPoint(-1, 150) << QPoint(50, 7) << s.adjusted(0, 0, 50, 0);
  QTest::newRow("bottom edge") << QPoint(250, -1) << QPoint(9, 40) << s.adjusted(0, 0, 0, 40);
  QTest::newRow("left edge") << QPoint(1, 150) << QPoint(-30, 0) << s.adjusted(-30, 0, 0, 0);
  QTest::newRow("top edge") << QPoint(250, 0) << QPoint(0, 20) << s.adjusted(0, 20, 0, 0);
  QTest::newRow("bottom-right corner") << QPoint(-1, -1) << QPoint(20, 10)
                                       << s.adjusted(0, 0, 20, 10);
  QTest::newRow("top-left corner") << QPoint(2, 2) << QPoint(-20, -10)
                                   << s.adjusted(-20, -10, 0, 0);
  // Corners reach a little along both edges.
  QTest::newRow("near top-right corner") << QPoint(-1, 10) << QPoint(15, -15)
                                         << s.adjusted(0, -15, 15, 0);
  QTest::newRow("shrinking stops at the minimum size")
      << QPoint(-1, -1) << QPoint(-400, -400) << QRect(s.topLeft(), QSize(300, 200));
  QTest::newRow("left edge keeps the right edge at the minimum")
      << QPoint(0, 150) << QPoint(400, 0) << QRect(s.right() - 299, s.top(), 300, s.height());
  QTest::newRow("inside the margin nothing happens") << QPoint(20, 150) << QPoint(30, 0) << s;
}

void TarnWindowTest::edgesResize() {
  QFETCH(QPoint, press);
  QFETCH(QPoint, by);
  QFETCH(QRect, expected);
  auto w = ShownWindow();
  QVERIFY(QTest::qWaitForWindowExposed(w.get()));
  if (press.x() < 0) press.setX(w->width() - 1);
  if (press.y() < 0) press.setY(w->height() - 1);
  Drag(w.get(), press, by);
  QCOMPARE(w->geometry(), expected);
}

void TarnWindowTest::edgesShowResizeCursors_data() {
  QTest::addColumn<QPoint>("at");
  QTest::addColumn<int>("shape");  // -1: no resize cursor
  QTest::newRow("left") << QPoint(0, 100) << int(Qt::SizeHorCursor);
  QTest::newRow("right") << QPoint(-1, 100) << int(Qt::SizeHorCursor);
  QTest::newRow("top") << QPoint(250, 3) << int(Qt::SizeVerCursor);
  QTest::newRow("bottom") << QPoint(250, -1) << int(Qt::SizeVerCursor);
  QTest::newRow("top-left") << QPoint(1, 1) << int(Qt::SizeFDiagCursor);
  QTest::newRow("bottom-right") << QPoint(-1, -1) << int(Qt::SizeFDiagCursor);
  QTest::newRow("top-right") << QPoint(-1, 0) << int(Qt::SizeBDiagCursor);
  QTest::newRow("bottom-left") << QPoint(0, -1) << int(Qt::SizeBDiagCursor);
  QTest::newRow("inside") << QPoint(250, 150) << -1;
}

void TarnWindowTest::edgesShowResizeCursors() {
  QFETCH(QPoint, at);
  QFETCH(int, shape);
  auto w = ShownWindow();
  QVERIFY(QTest::qWaitForWindowExposed(w.get()));
  if (at.x() < 0) at.setX(w->width() - 1);
  if (at.y() < 0) at.setY(w->height() - 1);
  QTest::mouseMove(w->windowHandle(), at);
  const QCursor* cursor = QGuiApplication::overrideCursor();
  if (shape < 0) {
    QVERIFY(!cursor);
    return;
  }
  QVERIFY(cursor);
  QCOMPARE(int(cursor->shape()), shape);
  // Back inside, the widgets' own cursors apply again.
  QTest::mouseMove(w->windowHandle(), QPoint(250, 150));
  QVERIFY(!QGuiApplication::overrideCursor());
}

void TarnWindowTest::maximizedWindowHasNoEdges() {
  auto w = ShownWindow();
  QVERIFY(QTest::qWaitForWindowExposed(w.get()));
  w->showMaximized();
  QTRY_VERIFY(w->geometry() != kStart);
  const QRect maximized = w->geometry();
  const QPoint edge(w->width() - 1, w->height() / 2);
  QTest::mouseMove(w->windowHandle(), edge);
  QVERIFY(!QGuiApplication::overrideCursor());
  Drag(w.get(), edge, QPoint(-50, 0));
  QCOMPARE(w->geometry(), maximized);

  w->showNormal();
  QTRY_COMPARE(w->geometry(), kStart);
  w->SetResizable(false);
  Drag(w.get(), QPoint(w->width() - 1, 100), QPoint(50, 0));
  QCOMPARE(w->geometry(), kStart);
}

void TarnWindowTest::cornersAreRoundOnlyWhenNotMaximized() {
  // The offscreen platform stands for a compositing desktop.
  auto w = ShownWindow();
  QVERIFY(QTest::qWaitForWindowExposed(w.get()));
  QVERIFY(w->testAttribute(Qt::WA_TranslucentBackground));
  QVERIFY(w->Frame()->HasRoundedCorners());
  QImage image = w->grab().toImage();
  QCOMPARE(image.pixelColor(0, 0).alpha(), 0);
  QCOMPARE(image.pixelColor(image.width() - 1, image.height() - 1).alpha(), 0);
  QCOMPARE(image.pixelColor(0, image.height() / 2), w->Frame()->BorderColor());
  QCOMPARE(image.pixelColor(image.width() / 2, image.height() - 2), w->Frame()->FillColor());

  w->showMaximized();
  QVERIFY(!w->Frame()->HasRoundedCorners());
  image = w->grab().toImage();
  QCOMPARE(image.pixelColor(0, 0), w->Frame()->FillColor());
  // No outline around a maximised window.
  QCOMPARE(image.pixelColor(0, image.height() / 2), w->Frame()->FillColor());
}

void TarnWindowTest::contentAndTitleBarWidgets() {
  auto w = ShownWindow();
  QPointer<QLabel> first = new QLabel(QStringLiteral("first"));
  w->SetContent(first);
  QCOMPARE(first->parentWidget(), w->ContentArea());
  auto* second = new QLabel(QStringLiteral("second"));
  w->SetContent(second);
  QVERIFY(first.isNull());
  QCOMPARE(second->parentWidget(), w->ContentArea());
  QVERIFY(QTest::qWaitForWindowExposed(w.get()));
  QCOMPARE(second->width(), w->ContentArea()->width());

  auto* extra = new QToolButton;
  w->TitleBar()->AddWidget(extra);
  QApplication::processEvents();
  QVERIFY(extra->isVisible());
  QVERIFY(extra->geometry().right() < w->TitleBar()->Button(TTarnTitleBar::btMenu)->x());
  QVERIFY(extra->x() > w->TitleBar()->findChild<QLabel*>(QStringLiteral("TarnCaption"))->x());
}

void TarnWindowTest::dialogIsCentredFixedAndClosesAsReject() {
  TTarnWindow owner;
  owner.setGeometry(20, 30, 600, 400);
  owner.show();
  QVERIFY(QTest::qWaitForWindowExposed(&owner));

  TTarnDialog dialog(&owner);
  dialog.SetCaption(QStringLiteral("Progress"));
  dialog.setFixedSize(388, 118);
  dialog.show();
  QVERIFY(QTest::qWaitForWindowExposed(&dialog));
  QVERIFY(qAbs(dialog.geometry().center().x() - owner.geometry().center().x()) <= 1);
  QVERIFY(qAbs(dialog.geometry().center().y() - owner.geometry().center().y()) <= 1);
  QCOMPARE(dialog.TitleBar()->Buttons(), TTarnTitleBar::TButtons(TTarnTitleBar::btClose));
  QVERIFY(!dialog.TitleBar()->Button(TTarnTitleBar::btMaximize)->isVisible());

  const QRect placed = dialog.geometry();
  Drag(&dialog, QPoint(387, 60), QPoint(40, 0));
  QCOMPARE(dialog.geometry(), placed);

  // Shown again after the owner moved, it is centred over it again.
  dialog.hide();
  owner.move(150, 300);
  dialog.show();
  QVERIFY(qAbs(dialog.geometry().center().x() - owner.geometry().center().x()) <= 1);
  QVERIFY(qAbs(dialog.geometry().center().y() - owner.geometry().center().y()) <= 1);

  // An owner hanging off the screen does not take the dialog with it.
  dialog.hide();
  owner.move(500, 600);
  dialog.show();
  QVERIFY(owner.screen()->availableGeometry().contains(dialog.geometry()));

  QSignalSpy rejected(&dialog, &QDialog::rejected);
  QTest::mouseClick(dialog.TitleBar()->Button(TTarnTitleBar::btClose), Qt::LeftButton);
  QCOMPARE(rejected.count(), 1);
  QVERIFY(!dialog.isVisible());

  dialog.SetTitleBarVisible(false);
  dialog.show();
  QVERIFY(!dialog.TitleBar()->isVisible());
}

QTEST_MAIN(TarnWindowTest)
#include "TarnWindowTest.moc"
