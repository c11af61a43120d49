// The capture window of the support centre: a frozen picture of the whole desktop over
// every screen, on which the user drags a rectangle to send as a screenshot.
#pragma once

#include <QDialog>
#include <QImage>
#include <QPoint>
#include <QRect>

namespace restovo {

// Frameless and on top of everything, it covers the virtual desktop and shows what the
// screens showed when it was frozen. The left button drags a rectangle (outlined and
// darkened while dragging); releasing it over a non-empty rectangle keeps that part of the
// picture and accepts. Escape or a right click rejects.
class TFrmCatch : public QDialog {
  Q_OBJECT

 public:
  static constexpr QRgb kOutline = qRgb(248, 248, 248);
  static constexpr int kShadeAlpha = 26;

  explicit TFrmCatch(QWidget* parent = nullptr);

  // Takes a picture of every screen, composed as they are placed on the desktop, and
  // covers the desktop with it.
  void Freeze();
  // The same with a given picture (placed at the desktop's top-left corner); tests use it.
  void SetFrozen(const QImage& frozen);

  QImage Frozen() const { return frozen_; }
  // What the window shows now: the frozen picture, with the rectangle while dragging.
  QImage Shown() const { return shown_; }
  // The part kept by the last accepted drag; null before.
  QImage Captured() const { return captured_; }

  // The rectangle between two corners: the start point's pixel is inside, the end point's
  // row and column are not, whichever way the drag went.
  static QRect Selection(QPoint start, QPoint end);

 protected:
  void paintEvent(QPaintEvent* event) override;
  void mousePressEvent(QMouseEvent* event) override;
  void mouseMoveEvent(QMouseEvent* event) override;
  void mouseReleaseEvent(QMouseEvent* event) override;
  void keyPressEvent(QKeyEvent* event) override;

 private:
  void Reset();

  QImage frozen_;
  QImage shown_;
  QImage captured_;
  QPoint start_;
  bool dragging_ = false;
};

}  // namespace restovo
