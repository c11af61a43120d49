// The main window during a deep scan that lists its early results: the quick scan's files
// are shown at once and can be looked at, previewed and ticked while the free space is
// read; the deep scan's progress and stop sit below the list; when it ends (or is
// stopped) its own records take the quick ones' place, on the folder that was open and
// with the same files ticked.
#include "Umain.h"

#include <QLabel>
#include <QProgressBar>
#include <QPushButton>
#include <QStandardItemModel>
#include <QTableView>
#include <QTreeView>
#include <string>
#include <unordered_set>

#include "FileListModel.h"
#include "PreviewPanel.h"
#include "UProgressModal.h"
#include "UmainShared.h"

namespace restovo {

using namespace umain;

namespace {

// A record told by its names from the volume's root down, so that the same file is found
// among another scan's records.
std::string NamePath(const TFileInfo* record) {
  std::string path;
  for (int depth = 0; record && depth < 4096; record = record->Parent, ++depth)
    path.insert(0, "/" + record->Name);
  return path;
}

// The captions of a tree node and its ancestors, from the top.
QStringList NodePath(const QModelIndex& node) {
  QStringList path;
  for (QModelIndex at = node; at.isValid(); at = at.parent()) path.prepend(at.data().toString());
  return path;
}

}  // namespace

void TFrmFRMain::SetDeepStripVisible(bool visible) {
  pnldeep->setVisible(visible);
  if (!visible) return;
  pbdeep->setValue(0);
  btndeepstop->setText(Tr("FileRecovery", "DeepScanStop", "Stop"));
  pnldeep->setToolTip(Tr("FileRecovery", "DeepScanBehindHint",
                         "The files the quick scan found are listed. What the deep scan finds joins them "
                         "when it ends or is stopped."));
  ShowDeepProgress(0);
}

void TFrmFRMain::ScanEarlyResults() {
  TDiskObject* disk = Helper->CurrentDisk();
  if (!disk || !disk->Scaner || !Helper->EarlyResultsShown()) return;
  DeepBehind = true;
  if (FrmProgressModal) FrmProgressModal->hide();
  ShowFoundItems(disk);
  ScanTimeLeft.Start(TTimeLeft::TClock::now());
  SetDeepStripVisible(true);
  UpdateActionState();
}

void TFrmFRMain::ShowDeepProgress(int percent) {
  if (percent > pbdeep->value()) pbdeep->setValue(percent);
  QString text = Tr("FileRecovery", "DeepScanBehind", "Deep scan: %d % of the free space read")
                     .replace(QStringLiteral("%d"), QString::number(pbdeep->value()));
  const std::int64_t left = ScanTimeLeft.SecondsLeft(pbdeep->value(), 100, TTimeLeft::TClock::now());
  if (left >= 60)
    text += QStringLiteral(" · ") + Tr("FileRecovery", "TimeLeft", "About %d min left")
                                         .replace(QStringLiteral("%d"), QString::number((left + 30) / 60));
  else if (left > 0)
    text += QStringLiteral(" · ") + Tr("FileRecovery", "TimeLeftUnderMinute", "Less than a minute left");
  lbldeep->setText(text);
}

bool TFrmFRMain::TakeDeepResults(TDiskObject* disk) {
  if (!DeepBehind) return false;
  DeepBehind = false;
  SetDeepStripVisible(false);
  // What the person was looking at, by names: the records are about to be freed.
  const QStringList folder = NodePath(ActiveTreeNode);
  std::unordered_set<std::string> ticked;
  for (const TFileInfo* item : FileModel->CheckedItems()) ticked.insert(NamePath(item));
  const TFileInfo* current = FileModel->Item(lstFile->currentIndex().row());
  const std::string currentPath = current ? NamePath(current) : std::string();
  ClearResults();
  if (!Helper->AdoptScanResults() || !disk || !disk->Scaner) return true;
  ShowFoundItems(disk);
  // The same folder, found again by its captions.
  QModelIndex node;
  for (const QString& caption : folder) {
    QModelIndex next;
    for (int r = 0; r < TreeModel->rowCount(node) && !next.isValid(); ++r)
      if (TreeModel->index(r, 0, node).data().toString() == caption) next = TreeModel->index(r, 0, node);
    if (!next.isValid()) break;
    node = next;
  }
  if (node.isValid() && NodePath(node) == folder) {
    for (QModelIndex up = node.parent(); up.isValid(); up = up.parent()) lsttype->expand(up);
    {
      const QSignalBlocker block(lsttype->selectionModel());
      lsttype->setCurrentIndex(node);
    }
    TreeNodeChosen(node);
  }
  for (int r = 0; r < FileModel->rowCount(); ++r) {
    const TFileInfo* item = FileModel->Item(r);
    if (!item) continue;
    const std::string path = NamePath(item);
    if (ticked.count(path)) FileModel->SetChecked(r, true);
    if (!currentPath.empty() && path == currentPath) lstFile->setCurrentIndex(FileModel->index(r, 0));
  }
  UpdateActionState();
  return true;
}

}  // namespace restovo
