#include "TTarnIconView.h"

#include <QPainter>

namespace restovo {

TTarnIconView::TTarnIconView(const QIcon& icon, int size, QWidget* parent)
    : QWidget(parent), icon_(icon) {
  setFixedSize(size, size);
  setAttribute(Qt::WA_TransparentForMouseEvents);
}

void TTarnIconView::SetIcon(const QIcon& icon) {
  icon_ = icon;
  update();
}

void TTarnIconView::paintEvent(QPaintEvent*) {
  if (icon_.isNull()) return;
  QPainter p(this);
  icon_.paint(&p, rect(), Qt::AlignCenter, isEnabled() ? QIcon::Normal : QIcon::Disabled);
}

}  // namespace restovo
