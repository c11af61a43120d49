// The file list's model: one row per record of the current view, read straight from the
// records (no copy per row), so a view of a million found files stays fluid.
#pragma once

#include <QAbstractTableModel>

#include "TypesDefine.h"

namespace restovo {

class TFileListModel final : public QAbstractTableModel {
  Q_OBJECT

 public:
  enum TColumn { colName, colSize, colDate, colState, colPath, colCount };

  explicit TFileListModel(QObject* parent = nullptr);

  // The model points at the records; they must outlive it or be taken away with Clear.
  void SetItems(const TFileItems& items);
  void Clear();
  const TFileItems& Items() const { return Rows; }
  TFileInfo* Item(int row) const;

  // Header captions, in column order; set by the window in the user's language.
  void SetHeaders(const QStringList& headers);
  // Texts of the verdicts "Good", "Poor", "Very Poor", "Lost".
  void SetStateTexts(const QStringList& texts);

  int rowCount(const QModelIndex& parent = {}) const override;
  int columnCount(const QModelIndex& parent = {}) const override;
  QVariant data(const QModelIndex& index, int role) const override;
  QVariant headerData(int section, Qt::Orientation orientation, int role) const override;

  // The folder a record lies in, from its volume's root: "card.img/DCIM/100CANON/".
  static QString FolderPath(const TFileInfo* item);

 private:
  TFileItems Rows;
  QStringList Headers;
  QStringList StateTexts;
};

}  // namespace restovo
