#include "TTarnDirectCombobox.h"

namespace restovo {

TTarnDirectCombobox::TTarnDirectCombobox(QWidget* parent) : QComboBox(parent) {
  setEditable(false);
  setIconSize(QSize(16, 16));
  // Long volume names must not widen the window's top row.
  setSizeAdjustPolicy(QComboBox::AdjustToMinimumContentsLengthWithIcon);
  setMinimumContentsLength(16);
}

int TTarnDirectCombobox::AddEntry(const QIcon& icon, const QString& caption, void* entryData) {
  addItem(icon, caption, QVariant::fromValue(entryData));
  return count() - 1;
}

void* TTarnDirectCombobox::EntryData(int index) const {
  if (index < 0 || index >= count()) return nullptr;
  return itemData(index).value<void*>();
}

void TTarnDirectCombobox::Clear() { clear(); }

}  // namespace restovo
