// The main window's results: the folder tree with "All Files", the categories and the
// recycled files' names, the file list with its ticks, sorting and menu state, and the
// status line's count.
#include "Umain.h"

#include <QAction>
#include <QHeaderView>
#include <QItemSelectionModel>
#include <QLabel>
#include <QMenu>
#include <QPushButton>
#include <QRegularExpression>
#include <QSignalBlocker>
#include <QStandardItemModel>
#include <QTableView>
#include <QToolButton>
#include <QTreeView>
#include <algorithm>

#include "FileListModel.h"
#include "PreviewPanel.h"
#include "RestovoStyle.h"
#include "TTarnDirectCombobox.h"
#include "UProgressModal.h"
#include "UmainShared.h"

namespace restovo {

using namespace umain;

void TFrmFRMain::ClearResults() {
  TreeModel->clear();
  ActiveTreeNode = QPersistentModelIndex();
  CurrentList.clear();
  FilteredList.clear();
  // What the preview shows came from the records being let go.
  pnlpreview->Clear();
  for (TFilterResult& c : Categories) c.Files.clear();
  FileModel->Clear();
  ShowStatus(QString());
}

void TFrmFRMain::AddFolderNodes(QStandardItem* parentNode, TFileInfo* folder) {
  // Iterative, so a deep tree cannot overflow the stack. Files get no node.
  std::vector<std::pair<QStandardItem*, TFileInfo*>> pending{{parentNode, folder}};
  const std::string recycleBin = Tr("FileRecovery", "RecycleBin", "Recycle Bin").toStdString();
  while (!pending.empty()) {
    auto [node, record] = pending.back();
    pending.pop_back();
    if (!record->Children) continue;
    std::vector<std::pair<QStandardItem*, TFileInfo*>> below;
    for (TFileInfo* child : *record->Children) {
      if (!child) continue;
      if (!child->IsFolder) continue;
      std::string upper = child->Name;
      std::transform(upper.begin(), upper.end(), upper.begin(),
                     [](char c) { return c >= 'a' && c <= 'z' ? static_cast<char>(c - 32) : c; });
      // The record keeps the readable name: the list, the path column and a restore use it.
      if (upper == "$RECYCLE.BIN") child->Name = recycleBin.empty() ? std::string("$RECYCLE.BIN") : recycleBin;
      auto* item = new QStandardItem(RestovoIcon(u"folder"), QString::fromStdString(child->Name));
      item->setData(QVariant::fromValue(static_cast<void*>(child)), kRecordRole);
      node->appendRow(item);
      below.emplace_back(item, child);
    }
    pending.insert(pending.end(), below.rbegin(), below.rend());
  }
}

void TFrmFRMain::FillFolderTree(TFileInfo* root) {
  if (root) {
    lsttype->setUpdatesEnabled(false);
    TreeModel->clear();
    if (!AllFilesRecord) {
      AllFilesRecord = NewFileInfo();
      AllFilesRecord->IsFolder = true;
      AllFilesRecord->IsAllFilesNode = true;
    }
    AllFilesNode = AllFilesRecord.get();
    auto* all = new QStandardItem(RestovoIcon(u"file"), Tr("FileRecovery", "AllFiles", "AllFiles"));
    all->setData(QVariant::fromValue(static_cast<void*>(AllFilesNode)), kRecordRole);
    TreeModel->appendRow(all);
    const TDiskObject* disk = Helper->CurrentDisk();
    const QString caption = disk && !disk->DisplayName.empty() ? QString::fromStdString(disk->DisplayName)
                                                               : QString::fromStdString(root->Name);
    auto* volume = new QStandardItem(disk ? DriveIcon(*disk) : RestovoIcon(u"drive-fixed"), caption);
    volume->setData(QVariant::fromValue(static_cast<void*>(root)), kRecordRole);
    TreeModel->appendRow(volume);
    AddFolderNodes(volume, root);
    lsttype->setUpdatesEnabled(true);
    if (volume->hasChildren()) lsttype->expand(volume->index());
  } else {
    // A scan without a top record: the old nodes point at released records.
    TreeModel->clear();
  }
  if (FrmProgressModal) FrmProgressModal->hide();
}

void TFrmFRMain::SortIntoCategories() {
  for (TFilterResult& c : Categories) c.Files.clear();
  const TDiskObject* disk = Helper->CurrentDisk();
  if (!disk || !disk->Scaner || !disk->Scaner->RootItem) return;
  Categories[catAllFiles].Files = disk->Scaner->Items;
  // One walk of the tree; the scan has already given recycled files their names back.
  std::vector<TFileInfo*> pending;
  if (const auto* top = disk->Scaner->RootItem->Children.get())
    for (auto it = top->rbegin(); it != top->rend(); ++it) pending.push_back(*it);
  while (!pending.empty()) {
    TFileInfo* record = pending.back();
    pending.pop_back();
    if (!record) continue;
    if (record->IsFolder) {
      if (record->Children)
        for (auto it = record->Children->rbegin(); it != record->Children->rend(); ++it)
          pending.push_back(*it);
    } else if (const int k = CategoryOf(Categories, record->Name); k >= 0) {
      Categories[static_cast<std::size_t>(k)].Files.push_back(record);
    }
  }
}

void TFrmFRMain::TreeNodeChosen(const QModelIndex& index) {
  TFileInfo* record = RecordOf(index);
  if (!record || !Helper->CurrentDisk() || !Helper->CurrentDisk()->Scaner) return;
  ActiveTreeNode = index;
  if (record == AllFilesNode) ShowFolderContent(Categories[catAllFiles].Files);
  else if (record->IsFolder && record->Children) ShowFolderContent(*record->Children);
}

void TFrmFRMain::ShowFolderContent(const TFileItems& list) {
  CurrentList = list;
  if (CategoryIndex() < 0) {
    ApplyKeywordFilter();
  } else {
    ApplyCategoryFilter();
    ShowCurrentList();
  }
}

void TFrmFRMain::ShowFolder(TFileInfo* folder) {
  if (!folder || !folder->IsFolder || !folder->Children) return;
  SelectTreeNodeOf(folder);
  ShowFolderContent(*folder->Children);
}

void TFrmFRMain::SelectTreeNodeOf(TFileInfo* record) {
  const QModelIndex parent = ActiveTreeNode.isValid() ? QModelIndex(ActiveTreeNode) : QModelIndex();
  for (int r = 0; r < TreeModel->rowCount(parent); ++r) {
    const QModelIndex index = TreeModel->index(r, 0, parent);
    if (RecordOf(index) != record) continue;
    ActiveTreeNode = index;
    for (QModelIndex up = index.parent(); up.isValid(); up = up.parent()) lsttype->expand(up);
    // Selecting the node without showing its content a second time.
    const QSignalBlocker block(lsttype->selectionModel());
    lsttype->setCurrentIndex(index);
    lsttype->scrollTo(index);
    lsttype->viewport()->update();
    return;
  }
}

void TFrmFRMain::ShowCurrentList() { ShowList(CurrentList); }

void TFrmFRMain::ShowFilteredList() { ShowList(FilteredList); }

void TFrmFRMain::ShowList(const TFileItems& list) {
  FileModel->SetItems(list);
  UpdateStatusCount();
  UpdateActionState();
}

void TFrmFRMain::CheckAll() { FileModel->CheckAll(); }
void TFrmFRMain::CheckNone() { FileModel->CheckNone(); }
void TFrmFRMain::InvertChecks() { FileModel->InvertChecks(); }

void TFrmFRMain::UpdateActionState() {
  const bool busy = IsBusy();
  btnrestore->setEnabled(FileModel->CheckedCount() > 0 && !busy);
  btnrestore->setToolTip(DeepBehind ? Tr("FileRecovery", "RestoreAfterDeepScan",
                                         "Restore once the deep scan has ended or been stopped.")
                                    : QString());
  btnsearch->setEnabled(cbbDrive->count() > 0 && !busy);
  btndeepscan->setEnabled(btnsearch->isEnabled());
  // The preview button shows what a click on it will do.
  const QString hint = PreviewVisible() ? Tr("Message", "ClosePreview", "Close preview")
                                        : Tr("Message", "OpenPreview", "Show preview");
  btnprv->setToolTip(hint);
  btnprv->setChecked(PreviewVisible());
}

bool TFrmFRMain::IsBusy() const {
  // A deep scan behind its early results is busy until the window has its own records,
  // even once the worker has said it ended.
  if (DeepBehind) return true;
  if (!Helper) return false;
  const TRecoveryStatus status = Helper->GetStatus();
  return status == stScanning || status == stRestoring;
}

void TFrmFRMain::UpdateFileMenu() {
  const bool rows = FileModel->rowCount() > 0;
  for (QAction* a : pmfile->actions()) a->setEnabled(rows);
  if (pmrestore) pmrestore->setEnabled(lstFile->selectionModel()->hasSelection() && !IsBusy());
}

void TFrmFRMain::lstFileHeadClick(int column) {
  if (column < 0 || column >= TFileListModel::colCount) return;
  // Each column has an order for its state 1 and the reverse for states 0 and 2: the
  // first click on a size puts the smallest first, on a name Z first.
  static constexpr bool kAscendingInStateOne[TFileListModel::colCount] = {true, false, false, true, true};
  const int before = SortStates[column];
  const bool ascending = before == 1 ? kAscendingInStateOne[column] : !kAscendingInStateOne[column];
  FileModel->SortBy(column, ascending);
  if (before == 0)
    for (int& state : SortStates) state = 0;
  SortStates[column] = before == 1 ? 2 : 1;
  lstFile->horizontalHeader()->setSortIndicator(column, ascending ? Qt::AscendingOrder : Qt::DescendingOrder);
}

void TFrmFRMain::UpdateStatusCount() {
  // "There are %d files/folders displayed.": the text around the last "%d" in grey, the
  // number large and bold in the accent blue. A translation without "%d" shows nothing.
  static const QRegularExpression pattern(QStringLiteral("^(.*)%d+(.*)$"),
                                          QRegularExpression::DotMatchesEverythingOption);
  const QRegularExpressionMatch m =
      pattern.match(Tr("FileRecovery", "ItemList", "There are %d files/folders displayed."));
  if (!m.hasMatch()) {
    ShowStatus(QString());
    StatusShowsCount = true;
    return;
  }
  const int points = std::max(1, font().pointSize());
  auto run = [&](const QString& text, int size, const char* colour, bool bold) {
    if (text.isEmpty()) return QString();
    return QStringLiteral("<span style=\"font-size:%1pt; color:%2;%3\">%4</span>")
        .arg(size)
        .arg(QLatin1String(colour))
        .arg(bold ? QStringLiteral(" font-weight:600;") : QString())
        .arg(text.toHtmlEscaped());
  };
  lblinfo->setTextFormat(Qt::RichText);
  StatusShowsCount = true;
  QString text = run(m.captured(1), points, "#383838", false) +
                 run(QString::number(FileModel->rowCount()), points + 3, "#0da1e7", true) +
                 run(m.captured(2), points, "#383838", false);
  // Parts of the volume that could not be read stay in view beside the count: what was
  // stored there is missing from every list. The line is short; the hint says it in full.
  QString hint;
  const TDiskObject* disk = Helper ? Helper->CurrentDisk() : nullptr;
  if (disk && disk->Scaner && disk->Scaner->UnreadBytes > 0) {
    const QString size = QString::fromStdString(FormatFileSize(static_cast<std::int64_t>(disk->Scaner->UnreadBytes)));
    hint = Tr("FileRecovery", "Unreadable", "%s of the volume could not be read: files stored there may be missing.")
               .replace(QLatin1String("%s"), size);
    text += run(QStringLiteral("  ·  ") +
                    Tr("FileRecovery", "UnreadableShort", "%s unreadable").replace(QLatin1String("%s"), size),
                points, "#c0392b", true);
  }
  lblinfo->setText(text);
  lblinfo->setToolTip(hint);
}

void TFrmFRMain::ShowStatus(const QString& text) {
  StatusShowsCount = false;
  lblinfo->setTextFormat(Qt::PlainText);
  lblinfo->setText(text);
  lblinfo->setToolTip(QString());
}

}  // namespace restovo
