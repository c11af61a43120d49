#include "FileListModel.h"

#include <QDateTime>
#include <QIcon>
#include <QLocale>

#include "RestovoStyle.h"

namespace restovo {

TFileListModel::TFileListModel(QObject* parent) : QAbstractTableModel(parent) {
  Headers = {QStringLiteral("File Name"), QStringLiteral("File Size"), QStringLiteral("Date Modified"),
             QStringLiteral("Recoverability"), QStringLiteral("Path")};
  StateTexts = {QStringLiteral("Good"), QStringLiteral("Poor"), QStringLiteral("Very Poor"),
                QStringLiteral("Lost")};
}

void TFileListModel::SetItems(const TFileItems& items) {
  beginResetModel();
  Rows = items;
  endResetModel();
}

void TFileListModel::Clear() { SetItems({}); }

TFileInfo* TFileListModel::Item(int row) const {
  return row >= 0 && static_cast<std::size_t>(row) < Rows.size() ? Rows[static_cast<std::size_t>(row)] : nullptr;
}

void TFileListModel::SetHeaders(const QStringList& headers) {
  Headers = headers;
  emit headerDataChanged(Qt::Horizontal, 0, colCount - 1);
}

void TFileListModel::SetStateTexts(const QStringList& texts) {
  StateTexts = texts;
  if (!Rows.empty()) emit dataChanged(index(0, colState), index(rowCount() - 1, colState));
}

int TFileListModel::rowCount(const QModelIndex& parent) const {
  return parent.isValid() ? 0 : static_cast<int>(Rows.size());
}

int TFileListModel::columnCount(const QModelIndex& parent) const { return parent.isValid() ? 0 : colCount; }

QString TFileListModel::FolderPath(const TFileInfo* item) {
  // "card.img/DCIM/100CANON/": the top record's name already ends in "/".
  QString path;
  for (const TFileInfo* p = item ? item->Parent : nullptr; p; p = p->Parent) {
    const QString name = QString::fromStdString(p->Name);
    path.prepend(p->Parent ? name + QLatin1Char('/') : name);
  }
  return path;
}

QVariant TFileListModel::data(const QModelIndex& index, int role) const {
  const TFileInfo* item = Item(index.row());
  if (!item) return {};
  const int column = index.column();
  if (role == Qt::DisplayRole) {
    switch (column) {
      case colName: return QString::fromStdString(item->Name);
      case colSize: return item->IsFolder ? QString() : QString::fromStdString(FormatFileSize(item->Size));
      case colDate: {
        if (item->LastWriteTime == 0) return QString();
        std::int64_t seconds = 0, nanoseconds = 0;
        FileTimeToUnixTime(item->LastWriteTime, seconds, nanoseconds);
        return QLocale().toString(QDateTime::fromSecsSinceEpoch(seconds), QLocale::ShortFormat);
      }
      case colState:
        if (item->IsFolder || item->State < 0 || item->State >= StateTexts.size()) return QString();
        return StateTexts[item->State];
      case colPath: return FolderPath(item);
      default: return {};
    }
  }
  if (role == Qt::DecorationRole && column == colName)
    return RestovoIcon(item->IsFolder ? u"folder" : u"file");
  if (role == Qt::TextAlignmentRole && column == colSize)
    return QVariant::fromValue(Qt::AlignRight | Qt::AlignVCenter);
  if (role == Qt::ToolTipRole && column == colName) return QString::fromStdString(item->Name);
  return {};
}

QVariant TFileListModel::headerData(int section, Qt::Orientation orientation, int role) const {
  if (orientation != Qt::Horizontal || role != Qt::DisplayRole) return {};
  return section >= 0 && section < Headers.size() ? Headers[section] : QVariant();
}

}  // namespace restovo
