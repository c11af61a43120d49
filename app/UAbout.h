// The about window: the program's version, where to get support, the home page and the
// volunteers who translated it.
#pragma once

#include "Services.h"
#include "TTarnWindow.h"

class QLabel;

namespace restovo {

class TFrmFRAbout final : public TTarnDialog {
  Q_OBJECT

 public:
  TFrmFRAbout(QWidget* owner, const TVendorAddresses& addresses);

  // Shows the window modally over `owner` and frees it once it is closed.
  static void Execute(QWidget* owner, const TVendorAddresses& addresses);

  // Font, caption, title-bar hints and label texts of the current language; called on
  // every showing.
  void ApplyLanguage();

  // The labels, top to bottom; each caption label's value stands beside it.
  QLabel* lblver = nullptr;
  QLabel* lblverinfo = nullptr;
  QLabel* lblemail = nullptr;
  QLabel* lblsupport = nullptr;  // the support address; a click writes a mail to it
  QLabel* lblhome = nullptr;
  QLabel* lblweb = nullptr;      // the web address; a click opens it
  QLabel* lblthank = nullptr;
  QLabel* lbl = nullptr;         // the translators' names, the same in every language

  void lblsupportClick();
  void lblwebClick();

  // Whether a label is offered as a link (hand cursor, opens on a click).
  static bool IsLink(const QLabel* label);

 protected:
  void showEvent(QShowEvent* event) override;
  bool eventFilter(QObject* watched, QEvent* event) override;

 private:
  void SetLink(QLabel* label, const QString& text);

  TVendorAddresses Addresses;
  QLabel* lblproduct = nullptr;
};

}  // namespace restovo
