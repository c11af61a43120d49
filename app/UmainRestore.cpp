// The main window's restore: the ticked or selected records to a folder on another
// drive, with or without the progress dialog, the report at the end and the file manager
// showing what was written.
#include "Umain.h"

#include <QApplication>
#include <QDBusConnection>
#include <QDBusMessage>
#include <QDBusPendingCallWatcher>
#include <QDBusPendingReply>
#include <QDesktopServices>
#include <QDir>
#include <QFileDialog>
#include <QFileInfo>
#include <QItemSelectionModel>
#include <QProgressBar>
#include <QTableView>
#include <QTimer>
#include <QUrl>
#include <algorithm>

#include "FileListModel.h"
#include "UProgressModal.h"
#include "UmainShared.h"
#include "recovery/Destination.h"
#include "recovery/RestoreSelection.h"

namespace restovo {

using namespace umain;

void TFrmFRMain::btnrestoreClick() {
  if (FileModel->CheckedCount() <= 0 || IsBusy()) return;
  QString dir;
  if (!BrowseForFolder(Tr("FileRecovery", "SelectDir", "Select folder to restore"), dir)) return;
  RestoreTo(dir, FileModel->CheckedItems(), true);
}

void TFrmFRMain::RestoreSelected() {
  if (IsBusy()) return;
  QModelIndexList rows = lstFile->selectionModel()->selectedRows();
  std::sort(rows.begin(), rows.end(), [](const QModelIndex& a, const QModelIndex& b) { return a.row() < b.row(); });
  TFileItems records;
  for (const QModelIndex& index : rows)
    if (TFileInfo* record = FileModel->Item(index.row())) records.push_back(record);
  if (records.empty()) return;
  QString dir;
  if (!BrowseForFolder(Tr("FileRecovery", "SelectDir", "Select folder to restore"), dir)) return;
  RestoreTo(dir, records, false);
}

bool TFrmFRMain::BrowseForFolder(const QString& title, QString& path) {
  if (FolderPicker) return FolderPicker(title, path);
  const QString start = QFileInfo(path).isDir() ? path : QDir::homePath();
  const QString chosen =
      QFileDialog::getExistingDirectory(this, title, start, QFileDialog::ShowDirsOnly | QFileDialog::DontResolveSymlinks);
  if (chosen.isEmpty()) return false;
  path = chosen;
  return true;
}

bool TFrmFRMain::RestoreTo(const QString& dir, const TFileItems& records, bool withDialog) {
  if (IsBusy()) return false;
  TDiskObject* disk = Helper->CurrentDisk();
  if (!disk || dir.isEmpty() || !disk->Scaner) {
    TTarnMessageBox::Show(this, mkError, QStringLiteral("Error"), QStringLiteral("The path is invalid."), mbOK);
    return false;
  }
  // Writing onto the scanned volume could overwrite the very files being recovered.
  const std::string destination = QFile::encodeName(QDir::cleanPath(dir)).toStdString();
  if (!CheckRestoreDestination(*disk, destination).empty()) {
    ShowMsg(mkWarning, Tr("FileRecovery", "NoSameDrive", "For keep the data valid, please choose another drive to restore"),
            mbOK);
    return false;
  }
  // A file picked together with its folder is written once, with the folder.
  RestoreList = SelectPicked(records).Top;
  if (RestoreList.empty()) return false;
  RestoreDir = dir;
  if (withDialog) {
    if (!FrmProgressModal) FrmProgressModal = new TFrmProgressModal(this);
    FrmProgressModal->pb1->setMaximum(100);
    FrmProgressModal->pb1->setValue(0);
    FrmProgressModal->SetText(QString());
    FrmProgressModal->show();
    FrmProgressModal->raise();
  }
  Helper->SetThreaded(true);
  Helper->Restore(RestoreList, destination);
  // The pointer says "working" at once, not only when the worker reports its start.
  SetBusyCursor(true);
  UpdateActionState();
  return true;
}

void TFrmFRMain::SetBusyCursor(bool busy) {
  if (busy == BusyCursorSet) return;
  BusyCursorSet = busy;
  if (busy) QApplication::setOverrideCursor(Qt::BusyCursor);
  else QApplication::restoreOverrideCursor();
}

void TFrmFRMain::RestoreStarted() {
  SetBusyCursor(true);
  if (FrmProgressModal && FrmProgressModal->isVisible()) FrmProgressModal->SetText(QString());
  UpdateActionState();
}

void TFrmFRMain::RestoreProgress(const std::string& name, std::int32_t percent) {
  // Called on the worker for every file and block: keep the latest report and queue one
  // notice while none is waiting, so a million small files do not flood the event queue.
  {
    const std::lock_guard lock(RestoreProgressLock);
    RestoreProgressName = QString::fromStdString(name);
    RestoreProgressPercent = std::clamp<int>(percent, 0, 100);
  }
  if (!RestoreProgressPosted.exchange(true))
    emit RestoreProgressWaiting();
}

void TFrmFRMain::ShowRestoreProgress() {
  RestoreProgressPosted.store(false);
  QString name;
  int percent = 0;
  {
    const std::lock_guard lock(RestoreProgressLock);
    name = RestoreProgressName;
    percent = RestoreProgressPercent;
  }
  if (!FrmProgressModal || !FrmProgressModal->isVisible() || Helper->GetStatus() != stRestoring) return;
  FrmProgressModal->pb1->setValue(percent);
  FrmProgressModal->SetText(name);
}

void TFrmFRMain::RestoreFinished() {
  SetBusyCursor(false);
  if (FrmProgressModal) FrmProgressModal->hide();
  lstFile->viewport()->update();
  UpdateActionState();
  // A stopped restore reports its end too, before the stop itself: that is no completion.
  if (Helper->IsStopRequested()) return;
  // The worker waits for this handler: the messages come once it has returned.
  const TRestoreReport report = Helper->LastRestore();
  const TFileItems restored = RestoreList;
  const QString dir = RestoreDir;
  QTimer::singleShot(0, this, [this, report, restored, dir] {
    if (report.Failures.empty()) {
      ShowMsg(mkInformation, Tr("Message", "RecoveryDone", "The files has been recoveried."), mbOK);
    } else {
      ReportRestoreFailures(QString(), mkWarning);
    }
    if (!QFileInfo(dir).isDir()) return;
    if (restored.empty()) {
      RevealInFileManager(dir, false);
      return;
    }
    // The first item where it was written; restored under another name, nothing opens.
    const QString first = QDir(dir).filePath(QString::fromStdString(restored.front()->Name));
    if (QFileInfo::exists(first)) RevealInFileManager(first, true);
  });
}

void TFrmFRMain::ReportRestoreFailures(QString text, TMsgKind kind) {
  const std::vector<TRestoreFailure>& failures = Helper->LastRestore().Failures;
  if (!failures.empty()) {
    if (!text.isEmpty()) text += QStringLiteral("\n\n");
    text += Tr("Message", "RestoreFailures", "%d of the files could not be restored as they were:")
                .replace(QStringLiteral("%d"), QString::number(failures.size()));
  }
  QStringList lines;
  for (const TRestoreFailure& f : failures)
    lines << QString::fromStdString(f.Destination) + QStringLiteral(": ") + QString::fromStdString(f.Reason);
  TMsgButtonTexts texts;
  texts.Ok = Tr("GUI", "ButtonOK", "OK");
  TTarnMessageBox::Show(this, kind, MsgKindCaption(kind), text, mbOK, texts, lines.join(QLatin1Char('\n')));
}

void TFrmFRMain::RestoreStopped() {
  RestoreList.clear();
  SetBusyCursor(false);
  UpdateActionState();
}

void TFrmFRMain::RestoreFailed(const QString& message) {
  // Nothing runs any longer: the pointer and the dialog go, and the user learns why.
  SetBusyCursor(false);
  if (FrmProgressModal) FrmProgressModal->hide();
  UpdateActionState();
  QTimer::singleShot(0, this, [this, message] { ReportRestoreFailures(message, mkError); });
}

void TFrmFRMain::FileExistsAnswer(std::uint8_t& answer, bool& applyToAll) {
  // Never a question: the restored file takes a numbered name beside the existing one.
  answer = eaKeepBoth;
  applyToAll = false;
}

void TFrmFRMain::RevealInFileManager(const QString& path, bool select) {
  LastRevealed = path;
  if (!Options.OpenFileManager) return;
  if (!select) {
    QDesktopServices::openUrl(QUrl::fromLocalFile(path));
    return;
  }
  const QString folder = QFileInfo(path).absolutePath();
  // The desktop's file manager, with the item selected; the folder alone where no file
  // manager answers on the session bus.
  QDBusMessage call = QDBusMessage::createMethodCall(
      QStringLiteral("org.freedesktop.FileManager1"), QStringLiteral("/org/freedesktop/FileManager1"),
      QStringLiteral("org.freedesktop.FileManager1"), QStringLiteral("ShowItems"));
  call << QStringList{QUrl::fromLocalFile(path).toString()} << QString();
  auto* watcher = new QDBusPendingCallWatcher(QDBusConnection::sessionBus().asyncCall(call, 5000), this);
  connect(watcher, &QDBusPendingCallWatcher::finished, this, [folder](QDBusPendingCallWatcher* w) {
    if (w->isError()) QDesktopServices::openUrl(QUrl::fromLocalFile(folder));
    w->deleteLater();
  });
}

}  // namespace restovo
