// Modal message boxes in the frame style: an icon for the kind, a text, and either Yes
// and No or OK alone. The results are the platform's dialog result numbers the program
// already uses: 6 for Yes, 7 for No, 1 for OK.
#pragma once

#include <QString>

#include "TMsgKind.h"
#include "TTarnWindow.h"

class QLabel;
class QPlainTextEdit;
class QPushButton;

namespace restovo {


enum TMsgButtons { mbOK = 0, mbYesNo = 1 };

enum TMsgResult { mrOk = 1, mrYes = 6, mrNo = 7 };

// Button captions; the caller passes the translated words.
struct TMsgButtonTexts {
  QString Yes = QStringLiteral("Yes");
  QString No = QStringLiteral("No");
  QString Ok = QStringLiteral("OK");
};

// Escape and the title bar's close button answer No in a Yes/No box and OK in an OK box.
// Yes or OK is the default button (Enter).
class TTarnMessageBox : public TTarnDialog {
  Q_OBJECT

 public:
  TTarnMessageBox(QWidget* owner, TMsgKind kind, const QString& caption, const QString& text,
                  TMsgButtons buttons, const TMsgButtonTexts& texts = {});

  // Shows the box modally, centred over owner's window, and returns mrYes, mrNo or mrOk.
  // details: a longer text (a list) shown below in a box of its own that can be scrolled
  // and copied from; none when empty.
  static int Show(QWidget* owner, TMsgKind kind, const QString& caption, const QString& text,
                  TMsgButtons buttons, const TMsgButtonTexts& texts = {}, const QString& details = {});

  void SetDetails(const QString& details);
  QString Details() const;

  TMsgKind Kind() const { return kind_; }
  QString Text() const;

  // The icon name (for RestovoIcon) of a kind.
  static QStringView IconName(TMsgKind kind);

  void setVisible(bool visible) override;
  void reject() override;

 private:
  void FitText();

  TMsgKind kind_;
  TMsgButtons buttons_;
  QLabel* text_ = nullptr;
  QPlainTextEdit* details_ = nullptr;
};

}  // namespace restovo
