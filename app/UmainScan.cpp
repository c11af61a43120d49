// The main window's drive box and scan: the coordinator and its events, the drives and
// opened images in the box, a scan from "Search" to its end, stop or failure with the
// progress dialog, and device changes.
#include "Umain.h"

#include <malloc.h>

#include <QFileDialog>
#include <QFileInfo>
#include <QLabel>
#include <QProgressBar>
#include <QPushButton>
#include <QTableView>
#include <QTimer>
#include <algorithm>
#include <cerrno>
#include <cstring>

#include "FileListModel.h"
#include "PreviewPanel.h"
#include "QtBridge.h"
#include "RestovoStyle.h"
#include "TTarnDirectCombobox.h"
#include "TTarnSearchBox.h"
#include "UProgressModal.h"
#include "UmainShared.h"

namespace restovo {

using namespace umain;

void TFrmFRMain::CreateCoordinator() {
  Helper = std::make_unique<TRecoveryHelper>(Bridge.get(), Options.ListMachineDrives);
  // After a stopped quick scan the window empties its views, so that stop need not link
  // what was found; a deep scan keeps what it found (BeginScan).
  Helper->SetKeepStoppedResults(false);
  // A deep scan lists the quick scan's files first and reads on behind them.
  Helper->SetEarlyResults(true);
  // Every handler returns at once once the window is closing: see the destructor.
  Helper->OnScanStart = [this](TRecoveryHelper*) {
    if (!Closing) ScanStarted();
  };
  Helper->OnScanProgress = [this](TRecoveryHelper*, std::int64_t total, std::int64_t position) {
    if (!Closing) ScanProgress(total, position);
  };
  Helper->OnScanEarlyResults = [this](TRecoveryHelper*) {
    if (!Closing) ScanEarlyResults();
  };
  Helper->OnScanDone = [this](TRecoveryHelper*) {
    if (!Closing) ScanFinished();
  };
  Helper->OnScanStopped = [this](TRecoveryHelper*) {
    if (!Closing) ScanStopped();
  };
  Helper->OnScanError = [this](TRecoveryHelper*, const std::string&) {
    if (!Closing) ScanFailed();
  };
  Helper->OnRestoreStart = [this](TRecoveryHelper*, const std::string&) {
    if (!Closing) RestoreStarted();
  };
  Helper->OnRestoreProgress = [this](TRecoveryHelper*, const std::string& name, std::int32_t percent) {
    if (!Closing) RestoreProgress(name, percent);
  };
  Helper->OnRestoreDone = [this](TRecoveryHelper*) {
    if (!Closing) RestoreFinished();
  };
  Helper->OnRestoreStopped = [this](TRecoveryHelper*) {
    if (!Closing) RestoreStopped();
  };
  Helper->OnRestoreError = [this](TRecoveryHelper*, const std::string& message) {
    if (!Closing) RestoreFailed(QString::fromStdString(message));
  };
  Helper->OnFileExists = [this](TRecoveryHelper*, std::uint8_t& answer, const std::string&, bool& applyToAll) {
    FileExistsAnswer(answer, applyToAll);
  };
  FillDriveBox();
}

QString TFrmFRMain::DriveCaption(const TDiskObject& disk) const {
  QString caption = QString::fromStdString(disk.DisplayName.empty() ? disk.Name : disk.DisplayName);
  if (disk.TotalSize > 0) caption += QStringLiteral("  ·  ") + QString::fromStdString(FormatFileSize(disk.TotalSize));
  if (!disk.FileSystem.empty()) caption += QStringLiteral("  ·  ") + QString::fromStdString(disk.FileSystem);
  return caption.toUpper();
}

QIcon TFrmFRMain::DriveIcon(const TDiskObject& disk) const {
  switch (disk.DriveType) {
    case dtImage: return RestovoIcon(u"drive-image");
    case dtRemovable: return RestovoIcon(u"drive-removable");
    default: return RestovoIcon(u"drive-fixed");
  }
}

void TFrmFRMain::FillDriveBox() {
  const QString remembered = cbbDrive->currentText();
  cbbDrive->Clear();
  int kept = -1;
  for (const auto& disk : Helper->Drives()) {
    const int at = cbbDrive->AddEntry(DriveIcon(*disk), DriveCaption(*disk), disk.get());
    if (cbbDrive->itemText(at) == remembered) kept = at;
  }
  if (kept >= 0) cbbDrive->setCurrentIndex(kept);
  else if (cbbDrive->count() > 0) cbbDrive->setCurrentIndex(0);
  UpdateActionState();
  const QString noDrives =
      Tr("FileRecovery", "NoDrives", "No drive to scan. Open a disk image or plug in a card or stick.");
  if (cbbDrive->count() == 0 && FileModel->rowCount() == 0) ShowStatus(noDrives);
  else if (lblinfo->text() == noDrives) ShowStatus(QString());
}

int TFrmFRMain::OpenImage(const QString& path, bool quiet) {
  const QFileInfo info(path);
  // A device the user may not read (the usual case without administrator rights) gets
  // the message that says how to start the program with them.
  if (info.exists() && !info.isReadable() && !info.isFile() && !info.isDir()) {
    if (!quiet)
      ShowMsg(mkError,
              Tr("FileRecovery", "NeedRights",
                 "Restovo has no permission to read this device. Start it with administrator rights, for "
                 "example: pkexec restovo") +
                  QLatin1Char('\n') + path,
              mbOK);
    return 0;
  }
  if (!info.exists() || !info.isReadable() || info.isDir()) {
    const QString why = !info.exists() ? QString::fromLocal8Bit(std::strerror(ENOENT))
                        : info.isDir() ? QString::fromLocal8Bit(std::strerror(EISDIR))
                                       : QString::fromLocal8Bit(std::strerror(EACCES));
    if (!quiet)
      ShowMsg(mkError, Tr("FileRecovery", "OpenImageFailed", "Can not open the disk image:") + QLatin1Char('\n') +
                           path + QLatin1Char('\n') + why,
              mbOK);
    return 0;
  }
  const std::vector<TDriveCandidate> found = Helper->AddImage(info.absoluteFilePath().toStdString());
  int added = 0;
  std::string firstRoot;
  QStringList reasons;
  for (const TDriveCandidate& c : found) {
    if (c.Offered) {
      if (added++ == 0) firstRoot = c.Root;
    } else if (!c.Reason.empty()) {
      reasons << QString::fromStdString(c.Name + ": " + c.Reason);
    }
  }
  FillDriveBox();
  for (int i = 0; i < cbbDrive->count(); ++i) {
    const auto* disk = static_cast<const TDiskObject*>(cbbDrive->EntryData(i));
    if (disk && disk->Root == firstRoot) cbbDrive->setCurrentIndex(i);
  }
  if (added == 0 && !quiet) {
    QString text = Tr("FileRecovery", "NoVolumeInImage", "No FAT or NTFS volume was found in this disk image.");
    text += QLatin1Char('\n') + path;
    if (!reasons.isEmpty()) text += QLatin1Char('\n') + reasons.join(QLatin1Char('\n'));
    ShowMsg(mkWarning, text, mbOK);
  }
  return added;
}

void TFrmFRMain::OpenImageDialog() {
  const QStringList paths = QFileDialog::getOpenFileNames(
      this, Tr("FileRecovery", "OpenImage", "Open disk image…"), QString(),
      Tr("FileRecovery", "OpenImageFilter", "Disk images (*.img *.dd *.raw *.bin *.iso *.vhd);;All files (*)"));
  for (const QString& path : paths) OpenImage(path);
}

void TFrmFRMain::btnsearchClick() { BeginScan(false); }

void TFrmFRMain::btndeepscanClick() { BeginScan(true); }

void TFrmFRMain::BeginScan(bool deep) {
  // A restore from the list's menu leaves the window free; its records must stay.
  if (IsBusy()) return;
  Helper->SetThreaded(true);
  const int index = cbbDrive->currentIndex();
  if (index < 0 || static_cast<std::size_t>(index) >= Helper->Drives().size()) return;
  // Starting a scan frees the previous scan's records at once, before the worker reports
  // its start: the views must let go of them first, or a repaint in between reads freed
  // memory.
  ClearResults();
  Helper->SetDeepScan(deep);
  // A deep scan of a large disk can take hours: what it found before a stop is kept.
  Helper->SetKeepStoppedResults(deep);
  // The drive box and the coordinator list the same drives in the same order.
  Helper->StartScan(index);
}

void TFrmFRMain::ScanStarted() {
  ClearResults();
  LastFilterText.clear();
  if (!FrmProgressModal) FrmProgressModal = new TFrmProgressModal(this);
  FrmProgressModal->SetText(Helper->DeepScan()
                                ? Tr("FileRecovery", "DeepScanning", "Deep scan: reading the free space...")
                                : Tr("FileRecovery", "Scanning", "Scanning..."));
  FrmProgressModal->pb1->setMaximum(100);
  FrmProgressModal->pb1->setValue(0);
  FrmProgressModal->lbltimeleft->clear();
  ScanTimeLeft.Start(TTimeLeft::TClock::now());
  FrmProgressModal->show();
  FrmProgressModal->raise();
}

void TFrmFRMain::ScanProgress(std::int64_t total, std::int64_t position) {
  // On the worker: a percentage only, queued to the window.
  std::int64_t percent = total > 0 ? position * 100 / total : 0;
  percent = std::clamp<std::int64_t>(percent, 0, 100);
  emit ScanProgressed(static_cast<int>(percent));
}

void TFrmFRMain::ShowScanProgress(int percent) {
  if (DeepBehind) return ShowDeepProgress(percent);
  if (!FrmProgressModal || !FrmProgressModal->isVisible()) return;
  if (percent > FrmProgressModal->pb1->value()) FrmProgressModal->pb1->setValue(percent);
  // Said once the pace can be told, in whole minutes: a figure that jumps by the second
  // tells nothing.
  const std::int64_t left = ScanTimeLeft.SecondsLeft(FrmProgressModal->pb1->value(), 100, TTimeLeft::TClock::now());
  QString text;
  if (left >= 60)
    text = Tr("FileRecovery", "TimeLeft", "About %d min left").replace(QStringLiteral("%d"), QString::number((left + 30) / 60));
  else if (left > 0)
    text = Tr("FileRecovery", "TimeLeftUnderMinute", "Less than a minute left");
  FrmProgressModal->lbltimeleft->setText(text);
}

void TFrmFRMain::ScanFinished() {
  if (FrmProgressModal) FrmProgressModal->pb1->setValue(100);
  TDiskObject* disk = Helper->CurrentDisk();
  if (TakeDeepResults(disk)) return ApplyPendingDeviceChange();
  if (!disk || !disk->Scaner) {
    if (FrmProgressModal) FrmProgressModal->hide();
    UpdateActionState();
    return;
  }
  ShowFoundItems(disk);
  ApplyPendingDeviceChange();
}

void TFrmFRMain::ShowFoundItems(TDiskObject* disk) {
  FillFolderTree(disk->Scaner->RootItem);
  SortIntoCategories();
  const int k = CategoryIndex();
  CurrentList = Categories[k >= 0 ? static_cast<std::size_t>(k) : static_cast<std::size_t>(catAllFiles)].Files;
  const QString keyword = cmbsearch->Text();
  if (k < 0 && !keyword.isEmpty() && keyword != Tr("FileRecovery", "KeyWord", "Input KeyWord")) ApplyKeywordFilter();
  else ShowCurrentList();
  if (pnlpreview->isVisible()) pnlpreview->Clear();
  // Give the scan's working memory back to the system; the records stay.
  malloc_trim(0);
}

void TFrmFRMain::ScanStopped() {
  TDiskObject* disk = Helper->CurrentDisk();
  if (TakeDeepResults(disk)) {
    ShowStatus(Tr("FileRecovery", "DeepScanStopped",
                  "The deep scan was stopped. What it found before the stop is listed."));
    return ApplyPendingDeviceChange();
  }
  if (Helper->DeepScan() && Helper->KeepStoppedResults() && disk && disk->Scaner && disk->Scaner->RootItem) {
    ShowFoundItems(disk);
    ShowStatus(Tr("FileRecovery", "DeepScanStopped",
                  "The deep scan was stopped. What it found before the stop is listed."));
  } else {
    ClearResults();
    ShowStatus(Tr("FileRecovery", "ScanStopped", "The scan has been canceled."));
  }
  UpdateActionState();
  ApplyPendingDeviceChange();
}

void TFrmFRMain::ScanFailed() {
  // A deep scan that failed behind its early results leaves the quick scan's records the
  // drive's: they stay listed. Else the coordinator has released the previous scan's
  // records, and the views must not show them any longer.
  if (DeepBehind) {
    DeepBehind = false;
    SetDeepStripVisible(false);
  } else {
    ClearResults();
  }
  QString text = QString::fromStdString(Helper->ErrorText());
  if (const TDiskObject* disk = Helper->CurrentDisk(); disk && (disk->OpenError == EACCES || disk->OpenError == EPERM))
    text = Tr("FileRecovery", "NeedRights",
              "Restovo has no permission to read this device. Start it with administrator rights, for "
              "example: pkexec restovo");
  UpdateActionState();
  ShowMsg(mkError, text, mbOK);
  ApplyPendingDeviceChange();
}

void TFrmFRMain::CancelOperation() {
  const TRecoveryStatus status = Helper->GetStatus();
  if (status == stScanning || status == stRestoring) Helper->Stop();
  if (FrmProgressModal) FrmProgressModal->hide();
  lstFile->viewport()->update();
  UpdateActionState();
  ApplyPendingDeviceChange();
}

void TFrmFRMain::ApplyPendingDeviceChange() {
  if (!DeviceChangePending) return;
  // Run from the event loop: the coordinator's event that ended the scan has to return
  // before its drive list may change.
  QTimer::singleShot(0, this, [this] {
    if (DeviceChangePending) DevicesChanged();
  });
}

void TFrmFRMain::DevicesChanged() {
  if (!Helper) return;
  // A device list change during a scan waits for its end: the worker reads the current
  // drive, and the coordinator refreshes nothing while it runs.
  const TRecoveryStatus status = Helper->GetStatus();
  if (status == stScanning || status == stRestoring) {
    DeviceChangePending = true;
    return;
  }
  DeviceChangePending = false;
  Helper->RefreshDrives();
  FillDriveBox();
  if (!Helper->CurrentDisk()) ClearResults();
}

}  // namespace restovo
