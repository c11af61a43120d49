#include "TTarnSearchBox.h"

#include <QAction>
#include <QLineEdit>
#include <QMenu>

#include "RestovoStyle.h"

namespace restovo {

TTarnSearchBox::TTarnSearchBox(QWidget* parent) : QComboBox(parent) {
  setEditable(true);
  // Typed keywords are filters, not new choices, and must not be completed into a
  // category name.
  setInsertPolicy(QComboBox::NoInsert);
  setCompleter(nullptr);
  setIconSize(QSize(16, 16));
  setSizeAdjustPolicy(QComboBox::AdjustToMinimumContentsLengthWithIcon);
  setMinimumContentsLength(14);

  QLineEdit* edit = lineEdit();
  edit->addAction(RestovoIcon(u"search"), QLineEdit::LeadingPosition);
  clear_ = edit->addAction(RestovoIcon(u"clear"), QLineEdit::TrailingPosition);
  clear_->setObjectName(QStringLiteral("TarnClearAction"));
  clear_->setToolTip(tr("Delete"));

  connect(clear_, &QAction::triggered, this, [this] {
    setCurrentIndex(-1);
    lineEdit()->clear();
    chosen_ = -1;
    UpdateClearButton();
    emit Cleared();
  });
  connect(this, &QComboBox::activated, this, [this](int index) {
    chosen_ = index;
    UpdateClearButton();
    emit ChoicePicked(index);
  });
  connect(edit, &QLineEdit::textEdited, this, [this](const QString& text) {
    chosen_ = -1;
    emit TextEdited(text);
  });
  connect(edit, &QLineEdit::textChanged, this, &TTarnSearchBox::UpdateClearButton);
  connect(edit, &QWidget::customContextMenuRequested, this, [this](const QPoint& pos) {
    if (editMenu_) editMenu_->popup(lineEdit()->mapToGlobal(pos));
  });
  UpdateClearButton();
}

void TTarnSearchBox::SetPlaceholder(const QString& text) { lineEdit()->setPlaceholderText(text); }

QString TTarnSearchBox::Placeholder() const { return lineEdit()->placeholderText(); }

void TTarnSearchBox::SetClearHint(const QString& hint) { clear_->setToolTip(hint); }

void TTarnSearchBox::AddChoice(const QIcon& icon, const QString& caption) {
  // Adding the first item would make it current and put its caption into the field.
  const QString text = Text();
  addItem(icon, caption);
  if (currentIndex() != chosen_) setCurrentIndex(chosen_);
  lineEdit()->setText(text);
}

void TTarnSearchBox::ClearChoices() {
  const QString text = Text();
  clear();
  chosen_ = -1;
  lineEdit()->setText(text);
}

QString TTarnSearchBox::Text() const { return lineEdit()->text(); }

void TTarnSearchBox::SetText(const QString& text) { lineEdit()->setText(text); }

QLineEdit* TTarnSearchBox::LineEdit() const { return lineEdit(); }

void TTarnSearchBox::SetEditMenu(QMenu* menu) {
  editMenu_ = menu;
  lineEdit()->setContextMenuPolicy(menu ? Qt::CustomContextMenu : Qt::DefaultContextMenu);
}

void TTarnSearchBox::UpdateClearButton() { clear_->setVisible(!Text().isEmpty()); }

}  // namespace restovo
