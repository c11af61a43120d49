// The search box: an editable text with a placeholder, a drop-down of choices (the file
// categories) and a clear button at the right end of the field, shown while there is
// text.
#pragma once

#include <QComboBox>

class QAction;
class QLineEdit;
class QMenu;

namespace restovo {

class TTarnSearchBox : public QComboBox {
  Q_OBJECT

 public:
  explicit TTarnSearchBox(QWidget* parent = nullptr);

  // Grey text shown while the field is empty.
  void SetPlaceholder(const QString& text);
  QString Placeholder() const;

  // Tool tip of the clear button.
  void SetClearHint(const QString& hint);

  void AddChoice(const QIcon& icon, const QString& caption);
  void ClearChoices();

  // The choice last picked from the drop-down, or -1 once the text was typed or
  // cleared since.
  int ChosenIndex() const { return chosen_; }

  QString Text() const;
  // Sets the text as the program's own (no TextEdited); the chosen index is kept.
  void SetText(const QString& text);

  QLineEdit* LineEdit() const;
  QAction* ClearAction() const { return clear_; }

  // Shows menu instead of the standard edit menu on a right click in the field; the
  // caller enables its entries from LineEdit() in QMenu::aboutToShow. nullptr restores
  // the standard menu. The box does not own the menu.
  void SetEditMenu(QMenu* menu);

 signals:
  // A choice was picked from the drop-down; the text is already its caption.
  void ChoicePicked(int index);
  // The user changed the text by typing, cutting or pasting.
  void TextEdited(const QString& text);
  // The clear button emptied the box.
  void Cleared();

 private:
  void UpdateClearButton();

  QAction* clear_ = nullptr;
  QMenu* editMenu_ = nullptr;
  int chosen_ = -1;
};

}  // namespace restovo
