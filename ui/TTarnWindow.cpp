#include "TTarnWindow.h"

#include <QGuiApplication>
#include <QScreen>

namespace restovo {

TTarnWindow::TTarnWindow(QWidget* parent)
    : QWidget(parent, Qt::Window | Qt::FramelessWindowHint), frame_(new TTarnFrame(this)) {
  connect(frame_->TitleBar(), &TTarnTitleBar::MenuRequested, this, &TTarnWindow::MenuRequested);
}

void TTarnWindow::SetCaption(const QString& caption) {
  frame_->TitleBar()->SetCaption(caption);
  setWindowTitle(caption);
}

QString TTarnWindow::Caption() const { return frame_->TitleBar()->Caption(); }

void TTarnWindow::SetButtonHints(const QString& minimize, const QString& maximize,
                                 const QString& restore, const QString& close,
                                 const QString& menu) {
  frame_->TitleBar()->SetButtonHints(minimize, maximize, restore, close, menu);
}

TTarnDialog::TTarnDialog(QWidget* owner)
    : QDialog(owner, Qt::Dialog | Qt::FramelessWindowHint), frame_(new TTarnFrame(this)) {
  frame_->TitleBar()->SetButtons(TTarnTitleBar::btClose);
  frame_->SetResizable(false);
}

void TTarnDialog::SetCaption(const QString& caption) {
  frame_->TitleBar()->SetCaption(caption);
  setWindowTitle(caption);
}

QString TTarnDialog::Caption() const { return frame_->TitleBar()->Caption(); }

void TTarnDialog::SetTitleBarVisible(bool visible) { frame_->TitleBar()->setVisible(visible); }

void TTarnDialog::setVisible(bool visible) {
  if (visible && !isVisible()) CentreOverOwner();
  QDialog::setVisible(visible);
}

void TTarnDialog::CentreOverOwner() {
  if (!testAttribute(Qt::WA_Resized)) adjustSize();
  QWidget* owner = parentWidget() ? parentWidget()->window() : nullptr;
  QScreen* screen = owner ? owner->screen() : QGuiApplication::primaryScreen();
  if (!screen) return;
  const QRect available = screen->availableGeometry();
  const QRect area = owner && owner->isVisible() ? owner->frameGeometry() : available;
  QRect g(QPoint(), size());
  g.moveCenter(area.center());
  // Keep the whole dialog on the screen even when the owner hangs off its edge.
  g.moveLeft(qBound(available.left(), g.left(), qMax(available.left(), available.right() - g.width() + 1)));
  g.moveTop(qBound(available.top(), g.top(), qMax(available.top(), available.bottom() - g.height() + 1)));
  move(g.topLeft());
}

}  // namespace restovo
