// Renders the sample main window, a message box, the progress dialog and an open menu
// under a real X server (Xvfb) and saves them as PNG files into $RESTOVO_SCREENSHOT_DIR:
//   RESTOVO_SCREENSHOT_DIR=shots xvfb-run -a -s "-screen 0 1280x800x24" ./ui_screenshots
// It also fails when a button or label is narrower than its text needs.
#include <QAbstractButton>
#include <QActionGroup>
#include <QApplication>
#include <QDir>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QPainter>
#include <QScreen>
#include <QTest>
#include <QTextStream>
#include <QTimer>
#include <QToolTip>
#include <QToolButton>
#include <QTreeView>

#include <cstdio>
#include <memory>

#include "RestovoStyle.h"
#include "SampleWindows.h"
#include "TTarnMessageBox.h"
#include "TTarnSearchBox.h"
#include "TTarnWindow.h"

namespace {

int failures = 0;

void Fail(const QString& what) {
  std::fprintf(stderr, "FAIL: %s\n", qPrintable(what));
  ++failures;
}

bool Save(const QPixmap& pm, const QDir& dir, const QString& name) {
  const QString path = dir.filePath(name);
  if (!pm.save(path)) {
    Fail(QStringLiteral("cannot write %1").arg(path));
    return false;
  }
  std::printf("wrote %s (%dx%d)\n", qPrintable(path), pm.width(), pm.height());
  return true;
}

// Text that does not fit is cut silently; find it before a person has to.
void CheckNothingClipped(QWidget* window) {
  for (auto* b : window->findChildren<QAbstractButton*>()) {
    // The icon buttons inside a text field are sized by the field.
    if (qobject_cast<QLineEdit*>(b->parentWidget())) continue;
    if (b->isVisible() && b->width() < b->minimumSizeHint().width()) {
      Fail(QStringLiteral("%1: button %2 is %3 px wide, needs %4")
               .arg(window->objectName(), b->objectName())
               .arg(b->width())
               .arg(b->minimumSizeHint().width()));
    }
  }
  for (auto* l : window->findChildren<QLabel*>()) {
    if (!l->isVisible() || l->text().isEmpty() || l->wordWrap()) continue;
    if (l->sizePolicy().horizontalPolicy() == QSizePolicy::Ignored) continue;
    const int needed = l->fontMetrics().horizontalAdvance(l->text());
    const QMargins m = l->contentsMargins();
    if (l->width() - m.left() - m.right() < needed) {
      Fail(QStringLiteral("%1: label \"%2\" is cut").arg(window->objectName(), l->text()));
    }
    if (l->height() < l->fontMetrics().height()) {
      Fail(QStringLiteral("%1: label \"%2\" is too low").arg(window->objectName(), l->text()));
    }
  }
}

// Every icon at the sizes the windows use and larger, on the window colour.
QPixmap IconSheet(const QFont& font) {
  const QStringList names = QDir(QStringLiteral(":/restovo/icons")).entryList();
  const int sizes[] = {16, 20, 24, 32, 48};
  const int rowHeight = 56;
  QPixmap sheet(560, rowHeight * int(names.size()) + 8);
  sheet.fill(QColor(0xf4, 0xf5, 0xf7));
  QPainter p(&sheet);
  p.setFont(font);
  int y = 4;
  for (const QString& file : names) {
    const QString name = file.chopped(4);
    p.setPen(QColor(0x1f, 0x23, 0x28));
    p.drawText(QRect(8, y, 180, rowHeight), Qt::AlignVCenter, name);
    int x = 190;
    for (int size : sizes) {
      restovo::RestovoIcon(name).paint(&p, QRect(x, y + (rowHeight - size) / 2, size, size));
      x += size + 18;
    }
    restovo::RestovoIcon(name).paint(&p, QRect(x, y + (rowHeight - 24) / 2, 24, 24),
                                     Qt::AlignCenter, QIcon::Disabled);
    y += rowHeight;
  }
  return sheet;
}

void Settle(QWidget* w) {
  if (!QTest::qWaitForWindowExposed(w)) Fail(QStringLiteral("%1 not exposed").arg(w->objectName()));
  QTest::qWait(150);
}

}  // namespace

int main(int argc, char** argv) {
  QApplication app(argc, argv);
  if (QGuiApplication::platformName() != QLatin1StringView("xcb")) {
    std::printf("screenshots are taken on an X server only (run under xvfb-run); skipped\n");
    return 0;
  }
  const QString target = qEnvironmentVariable("RESTOVO_SCREENSHOT_DIR");
  if (target.isEmpty()) {
    std::fprintf(stderr, "set RESTOVO_SCREENSHOT_DIR to the folder for the PNG files\n");
    return 2;
  }
  QDir dir;
  if (!dir.mkpath(target)) {
    std::fprintf(stderr, "cannot create %s\n", qPrintable(target));
    return 2;
  }
  dir.setPath(target);

  restovo::ApplyRestovoStyle(app);
  app.setFont(QFont(QStringLiteral("DejaVu Sans"), 10));

  Save(IconSheet(app.font()), dir, QStringLiteral("icons.png"));

  std::unique_ptr<restovo::TTarnWindow> main(restovo::MakeSampleMainWindow());
  main->move(40, 40);
  main->show();
  Settle(main.get());
  main->activateWindow();
  if (!QTest::qWaitForWindowActive(main.get())) Fail(QStringLiteral("main window not active"));
  main->findChild<QTreeView*>(QStringLiteral("lstFile"))->setFocus();
  QTest::qWait(50);
  CheckNothingClipped(main.get());
  Save(main->grab(), dir, QStringLiteral("main-window.png"));

  restovo::TTarnMessageBox box(main.get(), restovo::mkConfirm, QStringLiteral("Restovo"),
                               QStringLiteral("The folder \"/media/me/NIKON\" is on the drive "
                                              "being scanned. Restoring onto the same drive can "
                                              "overwrite the deleted files.\n\nChoose another "
                                              "folder?"),
                               restovo::mbYesNo);
  box.setObjectName(QStringLiteral("MessageBox"));
  box.show();
  Settle(&box);
  CheckNothingClipped(&box);
  Save(box.grab(), dir, QStringLiteral("message-box.png"));
  Save(main->screen()->grabWindow(0, main->x(), main->y(), main->width(), main->height()), dir,
       QStringLiteral("main-window-with-message.png"));
  box.hide();

  restovo::TTarnMessageBox error(main.get(), restovo::mkError, QStringLiteral("Error"),
                                 QStringLiteral("Invalid disk partition."), restovo::mbOK);
  error.setObjectName(QStringLiteral("ErrorBox"));
  error.show();
  Settle(&error);
  CheckNothingClipped(&error);
  Save(error.grab(), dir, QStringLiteral("message-error.png"));
  error.hide();

  std::unique_ptr<restovo::TTarnDialog> progress(restovo::MakeSampleProgressDialog(main.get()));
  progress->show();
  Settle(progress.get());
  CheckNothingClipped(progress.get());
  Save(progress->grab(), dir, QStringLiteral("progress-dialog.png"));
  progress->hide();

  QMenu menu;
  menu.setObjectName(QStringLiteral("pmmain"));
  menu.addAction(QStringLiteral("Open Disk Image..."))->setShortcut(QKeySequence(QStringLiteral("Ctrl+O")));
  menu.addAction(QStringLiteral("Refresh Drives"))->setShortcut(QKeySequence(QStringLiteral("F5")));
  menu.addSeparator();
  QAction* shown = menu.addAction(QStringLiteral("Show Lost Files"));
  shown->setCheckable(true);
  shown->setChecked(true);
  QMenu* language = menu.addMenu(QStringLiteral("Language"));
  auto* group = new QActionGroup(&menu);
  for (const char* name : {"English", "Deutsch", "简体中文"}) {
    QAction* a = language->addAction(QString::fromUtf8(name));
    a->setCheckable(true);
    a->setActionGroup(group);
    a->setChecked(qstrcmp(name, "English") == 0);
  }
  menu.addSeparator();
  menu.addAction(QStringLiteral("About Restovo"));
  QAction* disabled = menu.addAction(QStringLiteral("Check for Updates"));
  disabled->setEnabled(false);
  menu.popup(main->TitleBar()->Button(restovo::TTarnTitleBar::btMenu)->mapToGlobal(QPoint(0, 30)));
  Settle(&menu);
  menu.setActiveAction(shown);
  QTest::qWait(50);
  Save(menu.grab(), dir, QStringLiteral("menu.png"));
  menu.hide();

  auto* searchBox = main->findChild<restovo::TTarnSearchBox*>(QStringLiteral("cmbsearch"));
  searchBox->SetText(QStringLiteral("*.jpg|*.mov"));
  searchBox->showPopup();
  QTest::qWait(200);
  if (QWidget* popup = QApplication::activePopupWidget()) {
    const QRect area = popup->geometry().united(searchBox->window()->geometry());
    Save(main->screen()->grabWindow(0, area.x(), area.y(), area.width(), area.height()), dir,
         QStringLiteral("search-box-open.png"));
    searchBox->hidePopup();
  } else {
    Fail(QStringLiteral("the search box's drop-down did not open"));
  }

  std::unique_ptr<QWidget> gallery(restovo::MakeControlGallery());
  gallery->move(60, 60);
  gallery->resize(720, 420);
  gallery->show();
  Settle(gallery.get());
  gallery->activateWindow();
  if (!QTest::qWaitForWindowActive(gallery.get())) Fail(QStringLiteral("gallery not active"));
  gallery->findChild<QLineEdit*>(QStringLiteral("focusedEdit"))->setFocus();
  QTest::qWait(50);
  CheckNothingClipped(gallery.get());
  Save(gallery->grab(), dir, QStringLiteral("controls.png"));
  gallery->hide();

  // Hover is only drawn under a real pointer: put it on the close button.
  main->activateWindow();
  QToolButton* close = main->TitleBar()->Button(restovo::TTarnTitleBar::btClose);
  QCursor::setPos(close->mapToGlobal(close->rect().center()));
  QTest::qWait(200);
  Save(main->grab(QRect(main->width() - 180, 0, 180, 44)), dir,
       QStringLiteral("title-bar-close-hover.png"));
  QToolTip::showText(close->mapToGlobal(QPoint(0, close->height() + 4)), close->toolTip(), close);
  QTest::qWait(100);
  for (QWidget* w : QApplication::topLevelWidgets()) {
    if (w->objectName() == QLatin1StringView("qtooltip_label") && w->isVisible()) {
      Save(w->grab(), dir, QStringLiteral("tool-tip.png"));
    }
  }
  QToolTip::hideText();
  QCursor::setPos(QPoint(0, 0));

  main->showMaximized();
  QTest::qWait(200);
  Save(main->grab(), dir, QStringLiteral("main-window-maximized.png"));

  std::printf("%d passed, %d failed\n", failures == 0 ? 1 : 0, failures == 0 ? 0 : 1);
  return failures == 0 ? 0 : 1;
}
