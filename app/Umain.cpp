// The main window's life: creation with its settings and language, the first showing,
// the language applied to every control, drops, closing and destruction. The other
// topics of the window have files of their own (UmainLayout, UmainScan, UmainResults,
// UmainSearch, UmainRestore, UmainPreview, UmainMenus, UmainOnline).
#include "Umain.h"

#include <QAction>
#include <QApplication>
#include <QCloseEvent>
#include <QDragEnterEvent>
#include <QDropEvent>
#include <QFileInfo>
#include <QLabel>
#include <QMenu>
#include <QMimeData>
#include <QPushButton>
#include <QScreen>
#include <QStandardItemModel>
#include <QTimer>
#include <QToolButton>
#include <QUrl>

#include "AppPaths.h"
#include "DeviceMonitor.h"
#include "FileListModel.h"
#include "PreviewPanel.h"
#include "QtBridge.h"
#include "RestovoStyle.h"
#include "Services.h"
#include "Settings.h"
#include "TTarnDirectCombobox.h"
#include "TTarnFrame.h"
#include "TTarnSearchBox.h"
#include "Translation.h"
#include "UProgressModal.h"
#include "UmainShared.h"
#include "uInstallStatus.h"
#include "uSupport.h"

namespace restovo {

using namespace umain;

TFrmFRMain::TFrmFRMain(TMainWindowOptions options, QWidget* parent)
    : TTarnWindow(parent), Options(options), Bridge(std::make_unique<TQtBridge>()) {
  setObjectName(kMain);
  SetCaption(QStringLiteral("Restovo"));
  setWindowIcon(RestovoIcon(u"logo"));
  setAcceptDrops(true);
  resize(821, 576);
  setMinimumSize(640, 420);
  // Settings and the language come first: everything built below takes its texts.
  // Without the settings file nothing of the user's settings folder is read or made.
  if (Options.SettingsFile) {
    ConfigDir = GetConfigDir(AppDir());
    ListLanguages();
    Settings = LoadSettings(ConfigDir, VersionText(), [] { return DetectLanguage(); }, Options.InstallIdFile);
    LanguageResult = SetLanguage(Settings.Lang);
  } else {
    Settings = Options.Defaults;
  }
  Vendor = LoadVendorAddresses(AppDir(), ConfigDir);
  Hosts = Options.Hosts ? *Options.Hosts : LoadServiceHosts(AppDir(), ConfigDir);
  // A version's first run is reported once (in the background; nothing waits for it).
  if (Options.OnlineServices && Settings.SetupVerChanged)
    PostInstallStatus(Hosts, 14, VersionText(), Settings.InstallId);
  BuildLayout();
  pmSystem = new QMenu(this);
  pmSystem->setObjectName(QStringLiteral("pmSystem"));
  connect(this, &TTarnWindow::MenuRequested, this, [this](QPoint at) { pmSystem->popup(at); });
  // Progress the workers report reaches the dialog through the event loop, never by a
  // direct call from their thread.
  connect(this, &TFrmFRMain::ScanProgressed, this, &TFrmFRMain::ShowScanProgress, Qt::QueuedConnection);
  connect(this, &TFrmFRMain::RestoreProgressWaiting, this, &TFrmFRMain::ShowRestoreProgress, Qt::QueuedConnection);
  CreateCoordinator();
  if (Options.WatchDevices) WatchDevices(new TDeviceMonitor(this));
  SetOnLanguageChanged([this] { ApplyLanguage(); });
  ApplyLanguage();
  // The support centre, hidden; it asks at once for answers the user has not read.
  if (Options.OnlineServices) CreateSupportCenter();
  if (const QScreen* screen = QGuiApplication::primaryScreen()) {
    const QRect area = screen->availableGeometry();
    move(area.center() - QPoint(width() / 2, height() / 2));
  }
}

TFrmFRMain::~TFrmFRMain() {
  SetOnLanguageChanged(nullptr);
  if (Options.SettingsFile) {
    Settings.ShowPreview = PreviewVisible();
    SaveSettings(ConfigDir, Settings);  // a failure keeps the old file; nothing to tell
  }
  // The views point at records the coordinator owns: empty them before it goes.
  if (FileModel) FileModel->Clear();
  if (TreeModel) TreeModel->clear();
  // What a worker still hands over while it ends must not reach this half-gone window.
  // The handlers stay assigned (a worker may be reading them) and return at once.
  Closing.store(true);
  if (Helper) Helper->Stop();
  delete support;  // a window of its own, not a child of this one
  if (BusyCursorSet) QApplication::restoreOverrideCursor();
  Helper.reset();
}

void TFrmFRMain::WatchDevices(TDeviceMonitor* monitor) {
  Monitor = monitor;
  connect(Monitor, &TDeviceMonitor::DeviceArrived, this, &TFrmFRMain::DevicesChanged);
  connect(Monitor, &TDeviceMonitor::DeviceRemoved, this, &TFrmFRMain::DevicesChanged);
}

void TFrmFRMain::showEvent(QShowEvent* event) {
  TTarnWindow::showEvent(event);
  if (!FirstShow) return;
  FirstShow = false;
  BuildMenus();
  BuildEditMenu();
  ApplyLanguage();
  SetPreviewVisible(Settings.ShowPreview);
  // The search box starts empty, showing its grey prompt.
  cmbsearch->SetText(QString());
  if (Settings.CheckNewVer) CheckForUpdate(false);
  else if (Settings.Getnews) StartGetNews();
  QTimer::singleShot(500, this, &TFrmFRMain::StartAdvertisements);
}

void TFrmFRMain::ActivateFromOtherStart(const QStringList& images) {
  // Another start of the program: this window comes to the front, un-minimised, and
  // opens what it was given; the first image is the one chosen for "Search".
  if (isMinimized()) showNormal();
  show();
  raise();
  activateWindow();
  int first = -1;
  for (const QString& path : images)
    if (OpenImage(path) > 0 && first < 0) first = cbbDrive->currentIndex();
  if (first >= 0) cbbDrive->setCurrentIndex(first);
}

void TFrmFRMain::SetContentEnabled(bool enabled) {
  pnlcontent->setEnabled(enabled);
  TitleBar()->Button(TTarnTitleBar::btMenu)->setEnabled(enabled);
}

int TFrmFRMain::ShowMsg(TMsgKind kind, const QString& text, TMsgButtons buttons) {
  TMsgButtonTexts texts;
  texts.Yes = Tr("GUI", "ButtonYes", "Yes");
  texts.No = Tr("GUI", "ButtonNo", "No");
  texts.Ok = Tr("GUI", "ButtonOK", "OK");
  return TTarnMessageBox::Show(this, kind, MsgKindCaption(kind), text, buttons, texts);
}

void TFrmFRMain::ApplyLanguage() {
  const QFont font = LangFont();
  setFont(font);
  QApplication::setFont(font);
  SetButtonHints(Tr("GUI", "ButtonMinimize", "Minimize"), Tr("GUI", "ButtonMaximize", "Maximize"),
                 Tr("GUI", "ButtonRestore", "Restore"), Tr("GUI", "ButtonClose", "Close"),
                 Tr("GUI", "ButtonMenu", "Menu"));
  cmbsearch->SetClearHint(Tr("GUI", "ButtonDelete", "Delete"));
  cmbsearch->SetPlaceholder(Tr("FileRecovery", "KeyWord", "Input KeyWord"));
  FillCategoryChoices();
  BuildEditMenu();
  if (AllFilesNode && TreeModel->rowCount() > 0)
    TreeModel->item(0)->setText(Tr("FileRecovery", "AllFiles", "AllFiles"));

  QStringList headers;
  const QStringList defaults = {QStringLiteral("File Name"), QStringLiteral("File Size"),
                                QStringLiteral("Date Created"), QStringLiteral("Recoverability"),
                                QStringLiteral("Path")};
  for (int i = 0; i < TFileListModel::colCount; ++i) {
    const QString current = FileModel->headerData(i, Qt::Horizontal, Qt::DisplayRole).toString();
    headers << TranslateText(QStringLiteral("FileRecovery"),
                             ControlKey(kMain, QStringLiteral("lstFile"), QStringLiteral("headitems[%1]").arg(i)),
                             current.isEmpty() ? defaults[i] : current);
  }
  FileModel->SetHeaders(headers);
  FitColumns();
  if (StatusShowsCount) UpdateStatusCount();
  FileModel->SetStateTexts({Tr("FileRecovery", "Good", "Good"), Tr("FileRecovery", "Poor", "Poor"),
                            Tr("FileRecovery", "VeryPoor", "Very Poor"), Tr("FileRecovery", "Lost", "Lost")});

  // Buttons and labels by their keys; the designed text stays where no file has one.
  btnsearch->setText(ControlText(QStringLiteral("btnsearch"), "caption", btnsearch->text()));
  btndeepscan->setText(ControlText(QStringLiteral("btndeepscan"), "caption", btndeepscan->text()));
  btndeepscan->setToolTip(ControlText(QStringLiteral("btndeepscan"), "hint",
                                      QStringLiteral("Also read the free space for deleted folders and files the "
                                                     "file system no longer lists (takes longer)")));
  btnrestore->setText(ControlText(QStringLiteral("btnrestore"), "caption", btnrestore->text()));
  lbltree->setText(ControlText(QStringLiteral("lbltree"), "caption", lbltree->text()));
  pnlpreview->SetNoPreviewText(Tr("Message", "NoPreview", "No valid preview."));
  const QString openImage = Tr("FileRecovery", "OpenImage", "Open disk image…");
  btnopenimage->setToolTip(openImage);
  if (actOpenImage) actOpenImage->setText(openImage);
  // The menus by their entries' names; the language entries keep their names and follow
  // the language in use.
  const QList<QAction*> named = pmSystem->actions() + pmfile->actions();
  for (QAction* a : named)
    if (!a->isSeparator() && !a->objectName().isEmpty())
      a->setText(TranslateText(QStringLiteral("Translation"), a->objectName(), a->text()));
  if (pmLang) {
    pmLang->setTitle(TranslateText(QStringLiteral("Translation"), QStringLiteral("pmLang"), pmLang->title()));
    for (QAction* a : pmLang->actions()) {
      if (a->objectName() == u"pmTranslateTo") a->setText(Tr("Message", "TranslateTo", "Translate to.."));
      else if (a->isCheckable()) a->setChecked(a->text() == Lang());
    }
  }
  ApplyShareButtons();
  btnfeedback->setToolTip(ControlText(QStringLiteral("btnfeedback"), "hint", QStringLiteral("Support & feedback")));
  if (FrmProgressModal && FrmProgressModal->isVisible()) FrmProgressModal->FormShow();
  UpdateActionState();
  if (cbbDrive->count() == 0 && FileModel->rowCount() == 0)
    ShowStatus(Tr("FileRecovery", "NoDrives", "No drive to scan. Open a disk image or plug in a card or stick."));
}

void TFrmFRMain::dragEnterEvent(QDragEnterEvent* event) {
  if (!pnlcontent->isEnabled() || !event->mimeData()->hasUrls()) return;
  for (const QUrl& url : event->mimeData()->urls()) {
    if (url.isLocalFile() && QFileInfo(url.toLocalFile()).isFile()) {
      event->acceptProposedAction();
      return;
    }
  }
}

void TFrmFRMain::dropEvent(QDropEvent* event) {
  for (const QUrl& url : event->mimeData()->urls())
    if (url.isLocalFile()) OpenImage(url.toLocalFile());
  event->acceptProposedAction();
}

void TFrmFRMain::closeEvent(QCloseEvent* event) {
  // A running scan or restore is stopped through the coordinator before the window goes.
  if (Helper) {
    const TRecoveryStatus status = Helper->GetStatus();
    if (status == stScanning || status == stRestoring) Helper->Stop();
  }
  if (FrmProgressModal) FrmProgressModal->hide();
  TTarnWindow::closeEvent(event);
}

}  // namespace restovo
