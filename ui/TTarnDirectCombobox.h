// The drive box: a drop-down list (not editable) whose entries carry an icon, a caption
// and a pointer of the caller's (the drive object).
#pragma once

#include <QComboBox>

namespace restovo {

class TTarnDirectCombobox : public QComboBox {
  Q_OBJECT

 public:
  explicit TTarnDirectCombobox(QWidget* parent = nullptr);

  // Appends an entry and returns its position. The box does not own entryData.
  int AddEntry(const QIcon& icon, const QString& caption, void* entryData);

  // The pointer given with the entry at index; nullptr for a position out of range.
  void* EntryData(int index) const;

  // Removes every entry; the box is left without a selection.
  void Clear();
};

}  // namespace restovo
