// The main window: the drive box, the scan with its progress dialog, the folder tree and
// the file list of what was found. It owns the recovery coordinator for its whole life
// and is the only user of the engine's records.
#pragma once

#include <QPersistentModelIndex>
#include <QPointer>
#include <QString>
#include <QStringList>
#include <QUrl>
#include <atomic>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>

#include "recovery/FileCategories.h"
#include "Services.h"
#include "Settings.h"
#include "Translation.h"
#include "UCheckNewThread.h"
#include "WebServices.h"
#include "recovery/RecoveryHelper.h"
#include "recovery/ResultFilter.h"
#include "recovery/TimeLeft.h"
#include "TTarnMessageBox.h"
#include "TTarnWindow.h"
#include "UProgressModal.h"

class QAction;
class QLabel;
class QMenu;
class QProgressBar;
class QPushButton;
class QSplitter;
class QStandardItem;
class QStandardItemModel;
class QTableView;
class QToolButton;
class QTreeView;

namespace restovo {

class TDeviceMonitor;
class TFileListModel;
class TPreviewPanel;
class Tfrmnew;
class TFrmTarnSupport;
class TTarnDirectAdShower;
class TQtBridge;
class TTarnDirectCombobox;
class TTarnSearchBox;

struct TMainWindowOptions {
  // The machine's block devices in the drive box (tests leave them out).
  bool ListMachineDrives = true;
  // Watch udev for devices coming and going.
  bool WatchDevices = true;
  // Show restored files in the desktop's file manager and open links in the browser
  // (tests only note what would be opened).
  bool OpenFileManager = true;
  // Read Config.ini (and choose the language from it) at creation, write it at the end.
  // Without it the window starts from Defaults and leaves the language as it is.
  bool SettingsFile = true;
  // The support centre's unread answers, the install statistics and the advertisements
  // at start (tests leave them out; the support window still opens on request).
  bool OnlineServices = true;
  // The services' hosts; when not given they come from Services.ini.
  std::optional<TServiceHosts> Hosts;
  TSettings Defaults;
  // The machine's installation-identity file; empty for the usual one.
  QString InstallIdFile;
};

class TFrmFRMain final : public TTarnWindow {
  Q_OBJECT

 public:
  explicit TFrmFRMain(TMainWindowOptions options = {}, QWidget* parent = nullptr);
  ~TFrmFRMain() override;

  // The coordinator and its drive list.
  void CreateCoordinator();
  void FillDriveBox();

  // Adds the FAT and NTFS volumes of a disk image (or a device) to the drive box and
  // selects the first; says why when there is none. Returns the number added.
  int OpenImage(const QString& path, bool quiet = false);
  void OpenImageDialog();

  void btnsearchClick();
  void btndeepscanClick();
  // A deep scan also reads the free space for what the metadata lost.
  void BeginScan(bool deep);
  void CancelOperation();

  // Coordinator events (main thread).
  void ScanStarted();
  void ScanProgress(std::int64_t total, std::int64_t position);  // on the worker
  void ScanFinished();
  void ScanStopped();
  // A deep scan has listed the quick scan's results: they are shown and can be looked at,
  // previewed and ticked while the free space is read, with the progress in the window.
  void ScanEarlyResults();
  // The views filled with what the scan of `disk` found.
  void ShowFoundItems(TDiskObject* disk);
  void ScanFailed();

  // The scan's progress on the dialog's bar, which only moves forward; nothing once the
  // dialog is gone. Reached from the worker through ScanProgressed.
  void ShowScanProgress(int percent);
  // A block device came or went: the drive box follows, at once or after the running scan
  // or restore.
  void DevicesChanged();
  // The device monitor whose arrivals and removals the window follows.
  void WatchDevices(TDeviceMonitor* monitor);

  // Results.
  void ClearResults();
  void FillFolderTree(TFileInfo* root);
  void ShowCurrentList();
  void ShowFolder(TFileInfo* folder);
  void ShowFolderContent(const TFileItems& list);
  void SelectTreeNodeOf(TFileInfo* record);
  void SortIntoCategories();

  // The search box: category choices, keyword and category filters, its edit menu.
  void FillCategoryChoices();
  int CategoryIndex() const;
  void ApplyKeywordFilter();
  void ApplyCategoryFilter();
  void ShowFilteredList();
  void BuildEditMenu();
  void cmbsearchChange(int index);
  void cmbsearchTextEdited();
  void cmbsearchExtraBtnClick();

  // Restore: the ticked rows through the progress dialog, or the selected rows from the
  // list's menu with the window left free.
  void btnrestoreClick();
  void RestoreSelected();
  bool BrowseForFolder(const QString& title, QString& path);
  // Everything after the folder was chosen: the same-volume check, then the restore of
  // records into dir. False when nothing was started.
  bool RestoreTo(const QString& dir, const TFileItems& records, bool withDialog);
  void RestoreStarted();
  void RestoreProgress(const std::string& name, std::int32_t percent);  // on the worker too
  void RestoreFinished();
  void RestoreStopped();
  void RestoreFailed(const QString& message);
  void FileExistsAnswer(std::uint8_t& answer, bool& applyToAll);
  // A scan or restore is running: no other may start.
  bool IsBusy() const;
  // Takes the place of the folder dialog when set (the tests choose their folders).
  std::function<bool(const QString& title, QString& path)> FolderPicker;

  // The preview panel: shown or hidden by its button; a row made current shows the start
  // of the record's content (at most 10 MiB, read into memory).
  bool PreviewVisible() const;
  void SetPreviewVisible(bool visible);
  void btnprvClick();
  void lstFileItemClick(int row);
  void ShowPreview(TFileInfo* record);
  TPreviewPanel* PreviewPanel() const { return pnlpreview; }
  QToolButton* PreviewButton() const { return btnprv; }

  // Ticks and sorting of the file list.
  void CheckAll();
  void CheckNone();
  void InvertChecks();
  void UpdateActionState();
  void lstFileHeadClick(int column);

  void ApplyLanguage();

  // Menus, links and the first showing.
  void BuildMenus();
  bool OpenLink(const QString& address);
  // The update check and the news, in the background; the window never waits for them.
  void CheckForUpdate(bool manual);
  void UpdateChecked(const TUpdateInfo& info);
  void StartGetNews();
  void NewsReceived(const TNewsInfo& info);
  void ShowNews(const TNewsInfo& info);
  bool UpdateCheckRunning() const { return !UpdateThread.isNull(); }
  bool NewsFetchRunning() const { return !NewsThread.isNull(); }
  TServiceHosts Hosts;
  // The news item last handed to the news window (0: none this run).
  int NewsShown = 0;
  Tfrmnew* NewsWindow() const { return frmnew; }
  // The support centre, made at creation (or on the first click of its button).
  TFrmTarnSupport* SupportCenter() const { return support; }
  void btnfeedbackClick();
  void UnreadCountChanged(int count);
  QToolButton* FeedbackButton() const { return btnfeedback; }
  bool FeedbackMarked() const { return FeedbackMark; }
  TTarnDirectAdShower* AdShower() const { return sw1; }
  void StartAdvertisements();
  void AdImgDone(int width, int height);
  void ActivateFromOtherStart(const QStringList& images);
  // Where share button 0 (e-mail), 1 (Facebook) or 2 (Twitter) leads in the current
  // language: the Chinese networks when its LangCode is "0804|1004".
  QUrl ShareTarget(int button) const;
  static bool ChineseShare();
  QToolButton* ShareButton(int button) const { return button == 0 ? btnemail : button == 1 ? btnfacebook : btntwitter; }
  TSettings Settings;
  QString ConfigDir;
  TVendorAddresses Vendor;
  TLanguageSwitch LanguageResult = TLanguageSwitch::Chosen;
  QString LastOpenedLink;
  int MenuBuilds = 0;
  void SetContentEnabled(bool enabled);
  int ShowMsg(TMsgKind kind, const QString& text, TMsgButtons buttons);

  TRecoveryHelper* RecoveryHelper() const { return Helper.get(); }
  TFrmProgressModal* ProgressModal() const { return FrmProgressModal; }
  TTarnDirectCombobox* DriveBox() const { return cbbDrive; }
  QTreeView* FolderTree() const { return lsttype; }
  QTableView* FileList() const { return lstFile; }
  TFileListModel* FileListModel() const { return FileModel; }
  QLabel* StatusLine() const { return lblinfo; }
  QMenu* SystemMenu() const { return pmSystem; }
  QMenu* FileMenu() const { return pmfile; }
  QMenu* EditMenu() const { return pmedit; }
  TTarnSearchBox* SearchBox() const { return cmbsearch; }
  QPushButton* RestoreButton() const { return btnrestore; }
  QPushButton* SearchButton() const { return btnsearch; }
  QPushButton* DeepScanButton() const { return btndeepscan; }
  // The deep scan's progress below the list while its early results are shown.
  QWidget* DeepScanStrip() const { return pnldeep; }
  QProgressBar* DeepScanBar() const { return pbdeep; }
  QPushButton* DeepScanStopButton() const { return btndeepstop; }

  // Window state shared by the result views.
  TFileItems CurrentList;
  TFileItems FilteredList;
  bool Filtering = false;
  TFileItems RestoreList;
  AFilterResult Categories = CreateCategories();
  QPersistentModelIndex ActiveTreeNode;
  // Sort state of each header item: 0 none, 1, 2.
  int SortStates[5] = {0, 0, 0, 0, 0};
  TFileInfo* AllFilesNode = nullptr;
  QString LastFilterText;
  QString RestoreDir;
  // What the file manager was last asked to show (an item to select, or a folder).
  QString LastRevealed;

 signals:
  // Sent on the worker, received on the main thread through the event loop.
  void ScanProgressed(int percent);
  void RestoreProgressWaiting();

 protected:
  bool eventFilter(QObject* watched, QEvent* event) override;
  void dragEnterEvent(QDragEnterEvent* event) override;
  void dropEvent(QDropEvent* event) override;
  void closeEvent(QCloseEvent* event) override;
  void showEvent(QShowEvent* event) override;

 private:
  void BuildLayout();
  void ApplyShareButtons();
  void CreateSupportCenter();
  void ShowStatus(const QString& text);
  void FitColumns();
  void FitNameColumn();
  void ApplyPendingDeviceChange();
  void UpdateStatusCount();
  QString DriveCaption(const TDiskObject& disk) const;
  QIcon DriveIcon(const TDiskObject& disk) const;
  void AddFolderNodes(QStandardItem* parentNode, TFileInfo* folder);
  void TreeNodeChosen(const QModelIndex& index);
  void ShowList(const TFileItems& list);
  void UpdateFileMenu();
  void SetBusyCursor(bool busy);
  void RevealInFileManager(const QString& path, bool select);
  void ReportRestoreFailures(QString text, TMsgKind kind);
  void ShowRestoreProgress();
  // The deep scan behind its early results: its bar, and its own records in the views once
  // it ended, with the folder looked at and the ticks carried over. False when the views
  // showed no early results.
  void ShowDeepProgress(int percent);
  bool TakeDeepResults(TDiskObject* disk);
  void SetDeepStripVisible(bool visible);

  TMainWindowOptions Options;
  bool StatusShowsCount = false;
  bool DeviceChangePending = false;
  std::unique_ptr<TQtBridge> Bridge;
  std::unique_ptr<TRecoveryHelper> Helper;
  std::unique_ptr<TFileInfo> AllFilesRecord;
  TResultFilter ResultFilter;
  TDeviceMonitor* Monitor = nullptr;

  QWidget* pnlcontent = nullptr;
  TTarnDirectCombobox* cbbDrive = nullptr;
  QPushButton* btnsearch = nullptr;
  QPushButton* btndeepscan = nullptr;
  QToolButton* btnopenimage = nullptr;
  TTarnSearchBox* cmbsearch = nullptr;
  QToolButton* btnprv = nullptr;
  QSplitter* spltree = nullptr;
  QLabel* lbltree = nullptr;
  QTreeView* lsttype = nullptr;
  QStandardItemModel* TreeModel = nullptr;
  QWidget* pnlad = nullptr;
  QTableView* lstFile = nullptr;
  TFileListModel* FileModel = nullptr;
  QLabel* lblinfo = nullptr;
  QPushButton* btnrestore = nullptr;
  QWidget* pnldeep = nullptr;
  QProgressBar* pbdeep = nullptr;
  QLabel* lbldeep = nullptr;
  QPushButton* btndeepstop = nullptr;
  // The views show a deep scan's early results while it reads on.
  bool DeepBehind = false;
  TPreviewPanel* pnlpreview = nullptr;
  QMenu* pmSystem = nullptr;
  QMenu* pmLang = nullptr;
  QMenu* pmfile = nullptr;
  QMenu* pmedit = nullptr;
  QToolButton* btnemail = nullptr;
  QToolButton* btnfacebook = nullptr;
  QToolButton* btntwitter = nullptr;
  bool FirstShow = true;
  QPointer<TCheckUpdate> UpdateThread;
  QPointer<TGetNews> NewsThread;
  bool ManualCheck = false;
  Tfrmnew* frmnew = nullptr;
  TFrmTarnSupport* support = nullptr;
  TTarnDirectAdShower* sw1 = nullptr;
  QToolButton* btnfeedback = nullptr;
  bool FeedbackMark = false;
  QAction* pmrestore = nullptr;
  QAction* actOpenImage = nullptr;
  QPointer<TFrmProgressModal> FrmProgressModal;
  TTimeLeft ScanTimeLeft;  // from the scan's start
  bool BusyCursorSet = false;
  std::atomic<bool> Closing{false};
  // The restore's latest progress, waiting for the main thread.
  std::mutex RestoreProgressLock;
  QString RestoreProgressName;
  int RestoreProgressPercent = 0;
  std::atomic<bool> RestoreProgressPosted{false};
};

}  // namespace restovo
