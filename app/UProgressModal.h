// The small dialog that shows a scan's or a restore's progress and offers "Cancel". It is
// shown without a modal loop; while it is visible the main window's content is disabled,
// which keeps the user away from the records a worker is writing.
#pragma once

#include "TTarnWindow.h"

class QLabel;
class QProgressBar;
class QPushButton;

namespace restovo {

class TFrmFRMain;

class TFrmProgressModal final : public TTarnDialog {
  Q_OBJECT

 public:
  explicit TFrmProgressModal(TFrmFRMain* owner);

  void SetText(const QString& text);
  QString Text() const;

  QLabel* lblcurfile = nullptr;
  QLabel* lbltimeleft = nullptr;  // "About 3 min left", empty until it can be told
  QProgressBar* pb1 = nullptr;
  QPushButton* btnsearchcancel = nullptr;

  void FormShow();
  void FormHide();
  void btnsearchcancelClick();

 protected:
  void showEvent(QShowEvent* event) override;
  void hideEvent(QHideEvent* event) override;
  void reject() override;

 private:
  TFrmFRMain* Main;
};

}  // namespace restovo
