#include "FileListModel.h"

#include <QDateTime>
#include <QIcon>
#include <QLocale>
#include <algorithm>
#include <locale>
#include <numeric>
#include <stdexcept>
#include <string>
#include <string_view>
#include <unordered_map>

#include "RestovoStyle.h"

namespace restovo {

namespace {

// Sizes with the user's thousands separators ("1,023 Bytes", "1.023 Bytes").
const std::locale& UserLocale() {
  static const std::locale locale = [] {
    try {
      return std::locale("");
    } catch (const std::runtime_error&) {
      return std::locale::classic();
    }
  }();
  return locale;
}

const char16_t* const kStateIcons[] = {u"state-good", u"state-poor", u"state-verypoor", u"state-lost"};

}  // namespace

TFileListModel::TFileListModel(QObject* parent) : QAbstractTableModel(parent) {
  Headers = {QStringLiteral("File Name"), QStringLiteral("File Size"), QStringLiteral("Date Modified"),
             QStringLiteral("Recoveryability"), QStringLiteral("Path")};
  StateTexts = {QStringLiteral("Good"), QStringLiteral("Poor"), QStringLiteral("Very Poor"),
                QStringLiteral("Lost")};
}

void TFileListModel::SetItems(const TFileItems& items) {
  beginResetModel();
  Rows.clear();
  Rows.reserve(items.size());
  for (TFileInfo* item : items)
    if (item) Rows.push_back(item);
  Ticks.assign(Rows.size(), 0);
  Checked = 0;
  endResetModel();
  emit CheckedChanged(Checked);
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

bool TFileListModel::IsChecked(int row) const {
  return row >= 0 && static_cast<std::size_t>(row) < Ticks.size() && Ticks[static_cast<std::size_t>(row)] != 0;
}

void TFileListModel::SetChecked(int row, bool checked) {
  if (row < 0 || static_cast<std::size_t>(row) >= Ticks.size() || IsChecked(row) == checked) return;
  Ticks[static_cast<std::size_t>(row)] = checked ? 1 : 0;
  Checked += checked ? 1 : -1;
  const QModelIndex at = index(row, colName);
  emit dataChanged(at, at, {Qt::CheckStateRole});
  emit CheckedChanged(Checked);
}

void TFileListModel::AllChecksChanged() {
  if (!Rows.empty()) emit dataChanged(index(0, colName), index(rowCount() - 1, colName), {Qt::CheckStateRole});
  emit CheckedChanged(Checked);
}

void TFileListModel::CheckAll() {
  if (Rows.empty()) return;
  std::fill(Ticks.begin(), Ticks.end(), std::uint8_t{1});
  Checked = rowCount();
  AllChecksChanged();
}

void TFileListModel::CheckNone() {
  if (Rows.empty()) return;
  std::fill(Ticks.begin(), Ticks.end(), std::uint8_t{0});
  Checked = 0;
  AllChecksChanged();
}

void TFileListModel::InvertChecks() {
  if (Rows.empty()) return;
  for (std::uint8_t& t : Ticks) t = t ? 0 : 1;
  Checked = rowCount() - Checked;
  AllChecksChanged();
}

TFileItems TFileListModel::CheckedItems() const {
  TFileItems out;
  for (std::size_t i = 0; i < Rows.size(); ++i)
    if (Ticks[i]) out.push_back(Rows[i]);
  return out;
}

namespace {

std::string LowerAscii(std::string_view text) {
  std::string out(text);
  for (char& c : out)
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c + 32);
  return out;
}

// Sorts row numbers by a key made once per row (the records lie all over memory; the keys
// lie together), rows with equal keys in their old order.
template <typename Key>
void SortRows(std::vector<std::pair<Key, std::uint32_t>>& keyed, bool ascending) {
  if (ascending) {
    std::sort(keyed.begin(), keyed.end());
  } else {
    std::sort(keyed.begin(), keyed.end(), [](const auto& a, const auto& b) {
      return b.first < a.first || (!(a.first < b.first) && a.second < b.second);
    });
  }
}

}  // namespace

void TFileListModel::SortBy(int column, bool ascending) {
  if (Rows.size() < 2) return;
  std::vector<std::uint32_t> order(Rows.size());
  const auto n = static_cast<std::uint32_t>(Rows.size());
  auto byNumber = [&](auto key) {
    std::vector<std::pair<std::int64_t, std::uint32_t>> keyed(Rows.size());
    for (std::uint32_t i = 0; i < n; ++i) keyed[i] = {key(Rows[i]), i};
    SortRows(keyed, ascending);
    for (std::uint32_t i = 0; i < n; ++i) order[i] = keyed[i].second;
  };
  switch (column) {
    case colSize: byNumber([](const TFileInfo* r) { return r->Size; }); break;
    case colDate: byNumber([](const TFileInfo* r) { return static_cast<std::int64_t>(r->LastWriteTime); }); break;
    case colState: byNumber([](const TFileInfo* r) { return std::int64_t{r->State}; }); break;
    case colName: {
      std::vector<std::pair<std::string, std::uint32_t>> keyed(Rows.size());
      for (std::uint32_t i = 0; i < n; ++i) keyed[i] = {LowerAscii(Rows[i]->Name), i};
      SortRows(keyed, ascending);
      for (std::uint32_t i = 0; i < n; ++i) order[i] = keyed[i].second;
      break;
    }
    case colPath: {
      // Rows of one folder share its path: each folder's is made once.
      std::unordered_map<const TFileInfo*, std::string> paths;
      std::vector<std::pair<std::string_view, std::uint32_t>> keyed(Rows.size());
      for (std::uint32_t i = 0; i < n; ++i) {
        auto it = paths.find(Rows[i]->Parent);
        if (it == paths.end())
          it = paths.emplace(Rows[i]->Parent, LowerAscii(FolderPath(Rows[i]).toStdString())).first;
        keyed[i] = {it->second, i};
      }
      SortRows(keyed, ascending);
      for (std::uint32_t i = 0; i < n; ++i) order[i] = keyed[i].second;
      break;
    }
    default: return;
  }
  // Ticks travel with their rows.
  emit layoutAboutToBeChanged({}, QAbstractItemModel::VerticalSortHint);
  TFileItems rows(Rows.size());
  std::vector<std::uint8_t> ticks(Rows.size());
  for (std::size_t i = 0; i < order.size(); ++i) {
    rows[i] = Rows[order[i]];
    ticks[i] = Ticks[order[i]];
  }
  Rows.swap(rows);
  Ticks.swap(ticks);
  emit layoutChanged({}, QAbstractItemModel::VerticalSortHint);
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

QString TFileListModel::DateText(FILETIME time) {
  if (time == 0) return QString();
  const TDateTime t = FileTimeToLocalDateTime(time);
  const QDate date(t.Year, t.Month, t.Day);
  const QLocale locale;
  if (t.Hour == 0 && t.Minute == 0 && t.Second == 0 && t.Millisecond == 0)
    return locale.toString(date, QLocale::ShortFormat);
  // The long time format with seconds, without the time zone some locales add to it.
  static const QString timeFormat =
      locale.timeFormat(QLocale::LongFormat).remove(QStringLiteral(" t")).remove(QLatin1Char('t')).trimmed();
  return locale.toString(date, QLocale::ShortFormat) + QLatin1Char(' ') +
         locale.toString(QTime(t.Hour, t.Minute, t.Second), timeFormat);
}

QVariant TFileListModel::data(const QModelIndex& index, int role) const {
  const TFileInfo* item = Item(index.row());
  if (!item) return {};
  const int column = index.column();
  const bool validState = item->State >= 0 && item->State < 4;
  if (role == Qt::DisplayRole) {
    switch (column) {
      case colName: return QString::fromStdString(item->Name);
      case colSize:
        return item->IsFolder ? QStringLiteral("-") : QString::fromStdString(FormatFileSize(item->Size, UserLocale()));
      case colDate: return DateText(item->LastWriteTime);
      case colState:
        if (item->IsFolder) return QStringLiteral("-");
        return validState && item->State < StateTexts.size() ? StateTexts[item->State] : QString();
      case colPath: return FolderPath(item);
      default: return {};
    }
  }
  if (role == Qt::CheckStateRole && column == colName) return IsChecked(index.row()) ? Qt::Checked : Qt::Unchecked;
  if (role == Qt::DecorationRole) {
    if (column == colName) return RestovoIcon(item->IsFolder ? u"folder" : u"file");
    if (column == colState && !item->IsFolder && validState) return RestovoIcon(kStateIcons[item->State]);
  }
  if (role == Qt::TextAlignmentRole && column == colSize)
    return QVariant::fromValue(Qt::AlignRight | Qt::AlignVCenter);
  if (role == Qt::ToolTipRole && (column == colName || column == colPath))
    return column == colName ? QString::fromStdString(item->Name) : FolderPath(item);
  return {};
}

bool TFileListModel::setData(const QModelIndex& index, const QVariant& value, int role) {
  if (role != Qt::CheckStateRole || index.column() != colName || !Item(index.row())) return false;
  SetChecked(index.row(), value.toInt() == Qt::Checked);
  return true;
}

Qt::ItemFlags TFileListModel::flags(const QModelIndex& index) const {
  Qt::ItemFlags f = QAbstractTableModel::flags(index);
  if (index.column() == colName) f |= Qt::ItemIsUserCheckable;
  return f;
}

QVariant TFileListModel::headerData(int section, Qt::Orientation orientation, int role) const {
  if (orientation != Qt::Horizontal || role != Qt::DisplayRole) return {};
  return section >= 0 && section < Headers.size() ? Headers[section] : QVariant();
}

}  // namespace restovo
