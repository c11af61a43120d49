// Shows one icon at a fixed size, drawn afresh for the screen's scale so it stays sharp
// (a QLabel holds a pixmap made for one scale).
#pragma once

#include <QIcon>
#include <QWidget>

namespace restovo {

class TTarnIconView : public QWidget {
  Q_OBJECT

 public:
  explicit TTarnIconView(const QIcon& icon = {}, int size = 16, QWidget* parent = nullptr);

  void SetIcon(const QIcon& icon);
  QIcon Icon() const { return icon_; }

 protected:
  void paintEvent(QPaintEvent* event) override;

 private:
  QIcon icon_;
};

}  // namespace restovo
