// The file list's model: one row per record of the current view, read straight from the
// records (no copy per row), with a tick per row, so a view of a million found files
// stays fluid. Ticks live with the rows and are cleared on every rebuild.
#pragma once

#include <QAbstractTableModel>
#include <cstdint>
#include <vector>

#include "records/TypesDefine.h"

namespace restovo {

class TFileListModel final : public QAbstractTableModel {
  Q_OBJECT

 public:
  enum TColumn { colName, colSize, colDate, colState, colPath, colCount };

  explicit TFileListModel(QObject* parent = nullptr);

  // The model points at the records; they must outlive it or be taken away with Clear.
  // Null entries are left out. Every tick is cleared.
  void SetItems(const TFileItems& items);
  void Clear();
  const TFileItems& Items() const { return Rows; }
  TFileInfo* Item(int row) const;

  // Header captions, in column order; set by the window in the user's language.
  void SetHeaders(const QStringList& headers);
  // Texts of the verdicts "Good", "Poor", "Very Poor", "Lost".
  void SetStateTexts(const QStringList& texts);

  // Ticks. Changes made here raise no per-row tick signal; CheckedChanged tells the count.
  int CheckedCount() const { return Checked; }
  bool IsChecked(int row) const;
  void SetChecked(int row, bool checked);
  void CheckAll();
  void CheckNone();
  void InvertChecks();
  TFileItems CheckedItems() const;

  // Sorts by a column, ascending or descending (names and paths ignore ASCII case).
  void SortBy(int column, bool ascending);

  int rowCount(const QModelIndex& parent = {}) const override;
  int columnCount(const QModelIndex& parent = {}) const override;
  QVariant data(const QModelIndex& index, int role) const override;
  bool setData(const QModelIndex& index, const QVariant& value, int role) override;
  Qt::ItemFlags flags(const QModelIndex& index) const override;
  QVariant headerData(int section, Qt::Orientation orientation, int role) const override;

  // The folder a record lies in, from its volume's root: "card.img/DCIM/100CANON/".
  static QString FolderPath(const TFileInfo* item);
  // Last-write time in the user's format: short date, a blank, long time; the date alone
  // at exactly midnight.
  static QString DateText(FILETIME time);

 signals:
  void CheckedChanged(int count);

 private:
  void AllChecksChanged();

  TFileItems Rows;
  std::vector<std::uint8_t> Ticks;
  int Checked = 0;
  QStringList Headers;
  QStringList StateTexts;
};

}  // namespace restovo
