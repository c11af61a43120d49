#include "UCatch.h"

#include <QGuiApplication>
#include <QKeyEvent>
#include <QMouseEvent>
#include <QPainter>
#include <QPixmap>
#include <QScreen>

namespace restovo {

TFrmCatch::TFrmCatch(QWidget* parent)
    : QDialog(parent, Qt::Window | Qt::FramelessWindowHint | Qt::WindowStaysOnTopHint) {
  setObjectName(QStringLiteral("frmCatch"));
  setCursor(Qt::CrossCursor);
  setAttribute(Qt::WA_OpaquePaintEvent);
}

void TFrmCatch::Freeze() {
  const QList<QScreen*> screens = QGuiApplication::screens();
  if (screens.isEmpty()) return SetFrozen({});
  if (screens.size() == 1) {
    const QRect geometry = screens.first()->geometry();
    QImage shot = screens.first()->grabWindow(0).toImage();
    // The window is measured in desktop units; a scaled screen gives more pixels.
    if (shot.size() != geometry.size())
      shot = shot.scaled(geometry.size(), Qt::IgnoreAspectRatio, Qt::SmoothTransformation);
    SetFrozen(shot);
    move(geometry.topLeft());
    return;
  }
  const QRect desktop = screens.first()->virtualGeometry();
  QImage composed(desktop.size(), QImage::Format_RGB32);
  composed.fill(Qt::black);
  QPainter p(&composed);
  for (QScreen* screen : screens) {
    const QPixmap shot = screen->grabWindow(0);
    // Draw in desktop units even where a screen is scaled.
    p.drawPixmap(QRect(screen->geometry().topLeft() - desktop.topLeft(), screen->geometry().size()), shot);
  }
  p.end();
  SetFrozen(composed);
  move(desktop.topLeft());
}

void TFrmCatch::SetFrozen(const QImage& frozen) {
  frozen_ = frozen.convertToFormat(QImage::Format_RGB32);
  frozen_.setDevicePixelRatio(1.0);
  captured_ = QImage();
  Reset();
  if (!frozen_.isNull()) setFixedSize(frozen_.size());
}

void TFrmCatch::Reset() {
  dragging_ = false;
  shown_ = frozen_;
  update();
}

QRect TFrmCatch::Selection(QPoint start, QPoint end) {
  return QRect(QPoint(qMin(start.x(), end.x()), qMin(start.y(), end.y())),
               QSize(qAbs(end.x() - start.x()), qAbs(end.y() - start.y())));
}

void TFrmCatch::paintEvent(QPaintEvent*) {
  QPainter p(this);
  if (shown_.isNull()) {
    p.fillRect(rect(), Qt::black);
    return;
  }
  p.drawImage(QPoint(0, 0), shown_);
}

void TFrmCatch::mousePressEvent(QMouseEvent* event) {
  if (event->button() != Qt::LeftButton) return;
  start_ = event->position().toPoint();
  dragging_ = true;
}

void TFrmCatch::mouseMoveEvent(QMouseEvent* event) {
  if (!dragging_ || !(event->buttons() & Qt::LeftButton)) return;
  shown_ = frozen_.copy();
  const QRect r = Selection(start_, event->position().toPoint());
  if (!r.isEmpty()) {
    QPainter p(&shown_);
    p.fillRect(r, QColor(0, 0, 0, kShadeAlpha));
    p.setPen(QPen(QColor(kOutline), 1));
    p.setBrush(Qt::NoBrush);
    // A 1 px pen outlines a rectangle one pixel wider and taller than it is; the outline
    // stays on the rectangle's own edge pixels.
    p.drawRect(r.adjusted(0, 0, -1, -1));
  }
  update();
}

void TFrmCatch::mouseReleaseEvent(QMouseEvent* event) {
  if (event->button() == Qt::RightButton) {
    reject();
    return;
  }
  if (event->button() != Qt::LeftButton || !dragging_) return;
  dragging_ = false;
  const QRect r = Selection(start_, event->position().toPoint()).intersected(frozen_.rect());
  if (r.width() == 0 || r.height() == 0) {
    Reset();
    return;
  }
  captured_ = frozen_.copy(r);
  accept();
}

void TFrmCatch::keyPressEvent(QKeyEvent* event) {
  if (event->key() == Qt::Key_Escape) {
    reject();
    return;
  }
  QDialog::keyPressEvent(event);
}

}  // namespace restovo
