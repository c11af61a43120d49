#include "Umain.h"

#include <malloc.h>

#include <QAction>
#include <QActionGroup>
#include <QApplication>
#include <QCloseEvent>
#include <QDBusConnection>
#include <QDBusMessage>
#include <QDBusPendingCallWatcher>
#include <QDBusPendingReply>
#include <QDateTime>
#include <QDesktopServices>
#include <QDir>
#include <QDragEnterEvent>
#include <QDropEvent>
#include <QFileDialog>
#include <QFileInfo>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QMimeData>
#include <QProgressBar>
#include <QPushButton>
#include <QRegularExpression>
#include <QScreen>
#include <QSignalBlocker>
#include <QSplitter>
#include <QStandardItemModel>
#include <QTableView>
#include <QTimer>
#include <QToolButton>
#include <QTreeView>
#include <QUrl>
#include <QVBoxLayout>
#include <algorithm>
#include <cerrno>
#include <cstring>

#include "DeviceMonitor.h"
#include "recovery/Destination.h"
#include "recovery/FileCategories.h"
#include "recovery/RecycleBin.h"
#include "FileListModel.h"
#include "PreviewPanel.h"
#include "AppPaths.h"
#include "Services.h"
#include "Settings.h"
#include "UAbout.h"
#include "Unew.h"
#include "UAd.h"
#include "uInstallStatus.h"
#include "uSupport.h"
#include "QtBridge.h"
#include "RestovoStyle.h"
#include "TTarnDirectCombobox.h"
#include "TTarnFrame.h"
#include "TTarnSearchBox.h"
#include "Translation.h"
#include "UProgressModal.h"
#include "recovery/Wildcard.h"

namespace restovo {

namespace {

const QString kMain = QStringLiteral("FrmFRMain");

QString Tr(const char* section, const char* key, const char* def) {
  return TranslateText(QString::fromLatin1(section), QString::fromLatin1(key), QString::fromUtf8(def));
}

QString ControlText(const QString& control, const char* property, const QString& current) {
  return TranslateText(QStringLiteral("Translation"), ControlKey(kMain, control, QString::fromLatin1(property)),
                       current);
}

constexpr int kRecordRole = Qt::UserRole + 1;

TFileInfo* RecordOf(const QModelIndex& index) {
  return static_cast<TFileInfo*>(index.data(kRecordRole).value<void*>());
}

}  // namespace

QEvent::Type TWindowMessage::EventType() {
  static const auto type = static_cast<QEvent::Type>(QEvent::registerEventType());
  return type;
}

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
  CreateCoordinator();
  if (Options.WatchDevices) {
    Monitor = new TDeviceMonitor(this);
    connect(Monitor, &TDeviceMonitor::DeviceArrived, this,
            [this] { WMDeviceChange(DBT_DEVICEARRIVAL); });
    connect(Monitor, &TDeviceMonitor::DeviceRemoved, this,
            [this] { WMDeviceChange(DBT_DEVICEREMOVECOMPLETE); });
  }
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

void TFrmFRMain::BuildLayout() {
  pnlcontent = new QWidget;
  pnlcontent->setObjectName(QStringLiteral("pnlcontent"));
  auto* outer = new QVBoxLayout(pnlcontent);
  outer->setContentsMargins(12, 10, 12, 12);
  outer->setSpacing(10);

  // Top row: drive box, Search, open image; search box and preview at the right.
  auto* top = new QHBoxLayout;
  top->setSpacing(8);
  cbbDrive = new TTarnDirectCombobox(pnlcontent);
  cbbDrive->setObjectName(QStringLiteral("cbbDrive"));
  cbbDrive->setMinimumWidth(250);
  cbbDrive->setSizeAdjustPolicy(QComboBox::AdjustToMinimumContentsLengthWithIcon);
  btnsearch = new QPushButton(QStringLiteral("Search"), pnlcontent);
  btnsearch->setObjectName(QStringLiteral("btnsearch"));
  btnsearch->setIcon(RestovoIcon(u"search", Qt::white));
  SetPrimary(btnsearch);
  connect(btnsearch, &QPushButton::clicked, this, &TFrmFRMain::btnsearchClick);
  btnopenimage = new QToolButton(pnlcontent);
  btnopenimage->setObjectName(QStringLiteral("btnopenimage"));
  btnopenimage->setIcon(RestovoIcon(u"open-image"));
  btnopenimage->setToolButtonStyle(Qt::ToolButtonIconOnly);
  connect(btnopenimage, &QToolButton::clicked, this, &TFrmFRMain::OpenImageDialog);
  cmbsearch = new TTarnSearchBox(pnlcontent);
  cmbsearch->setObjectName(QStringLiteral("cmbsearch"));
  cmbsearch->setMinimumWidth(180);
  // A keyword longer than this is cut: matching a longer one says nothing more.
  cmbsearch->LineEdit()->setMaxLength(80);
  connect(cmbsearch, &TTarnSearchBox::ChoicePicked, this, &TFrmFRMain::cmbsearchChange);
  connect(cmbsearch, &TTarnSearchBox::TextEdited, this, &TFrmFRMain::cmbsearchTextEdited);
  connect(cmbsearch, &TTarnSearchBox::Cleared, this, &TFrmFRMain::cmbsearchExtraBtnClick);
  pmedit = new QMenu(this);
  pmedit->setObjectName(QStringLiteral("pmedit"));
  connect(pmedit, &QMenu::aboutToShow, this, [this] {
    const QLineEdit* edit = cmbsearch->LineEdit();
    for (QAction* a : pmedit->actions()) {
      const QString name = a->objectName();
      if (name == u"pmcut" || name == u"pmcopy" || name == u"pmdelete") a->setEnabled(edit->hasSelectedText());
      else if (name == u"pmselectall") a->setEnabled(!edit->text().isEmpty());
    }
  });
  cmbsearch->SetEditMenu(pmedit);
  btnprv = new QToolButton(pnlcontent);
  btnprv->setObjectName(QStringLiteral("btnprv"));
  btnprv->setIcon(RestovoIcon(u"preview"));
  btnprv->setCheckable(true);
  btnfeedback = new QToolButton(pnlcontent);
  btnfeedback->setObjectName(QStringLiteral("btnfeedback"));
  btnfeedback->setIcon(RestovoIcon(u"feedback"));
  connect(btnfeedback, &QToolButton::clicked, this, &TFrmFRMain::btnfeedbackClick);
  top->addWidget(cbbDrive, 3);
  top->addWidget(btnsearch);
  top->addWidget(btnopenimage);
  top->addSpacing(12);
  top->addWidget(cmbsearch, 2);
  top->addWidget(btnprv);
  top->addWidget(btnfeedback);
  outer->addLayout(top);

  spltree = new QSplitter(Qt::Horizontal, pnlcontent);
  spltree->setObjectName(QStringLiteral("spltree"));
  spltree->setChildrenCollapsible(false);

  auto* left = new QWidget(spltree);
  left->setObjectName(QStringLiteral("pnltree"));
  left->setMinimumWidth(200);
  left->setMaximumWidth(400);
  auto* leftLayout = new QVBoxLayout(left);
  leftLayout->setContentsMargins(0, 0, 0, 0);
  leftLayout->setSpacing(6);
  lbltree = new QLabel(QStringLiteral("Dir Tree"), left);
  lbltree->setObjectName(QStringLiteral("lbltree"));
  SetStyleFlag(lbltree, "heading");
  lsttype = new QTreeView(left);
  lsttype->setObjectName(QStringLiteral("lsttype"));
  lsttype->setHeaderHidden(true);
  lsttype->setUniformRowHeights(true);
  lsttype->setEditTriggers(QAbstractItemView::NoEditTriggers);
  TreeModel = new QStandardItemModel(this);
  lsttype->setModel(TreeModel);
  connect(lsttype->selectionModel(), &QItemSelectionModel::currentChanged, this,
          [this](const QModelIndex& current) { TreeNodeChosen(current); });
  // The advertising panel lives here; it stays folded until there is something to show.
  pnlad = new QWidget(left);
  pnlad->setObjectName(QStringLiteral("pnlad"));
  pnlad->setFixedSize(200, 100);
  sw1 = new TTarnDirectAdShower(pnlad);
  sw1->setGeometry(0, 0, 200, 100);
  connect(sw1, &TTarnDirectAdShower::ImgDone, this, &TFrmFRMain::AdImgDone);
  pnlad->hide();
  leftLayout->addWidget(lbltree);
  leftLayout->addWidget(lsttype, 1);
  leftLayout->addWidget(pnlad);

  auto* middle = new QWidget(spltree);
  middle->setObjectName(QStringLiteral("pnlfiles"));
  auto* middleLayout = new QVBoxLayout(middle);
  middleLayout->setContentsMargins(0, 0, 0, 0);
  middleLayout->setSpacing(8);
  lstFile = new QTableView(middle);
  lstFile->setObjectName(QStringLiteral("lstFile"));
  FileModel = new TFileListModel(this);
  lstFile->setModel(FileModel);
  lstFile->setSelectionBehavior(QAbstractItemView::SelectRows);
  lstFile->setShowGrid(false);
  lstFile->setWordWrap(false);
  lstFile->setAlternatingRowColors(true);
  lstFile->verticalHeader()->hide();
  lstFile->verticalHeader()->setDefaultSectionSize(26);
  lstFile->horizontalHeader()->setHighlightSections(false);
  lstFile->horizontalHeader()->setStretchLastSection(false);
  // The name column takes what the others leave (FitNameColumn), but never less than a
  // readable width: a narrow window scrolls sideways instead.
  lstFile->viewport()->installEventFilter(this);
  lstFile->horizontalHeader()->setDefaultAlignment(Qt::AlignLeft | Qt::AlignVCenter);
  lstFile->horizontalHeader()->setTextElideMode(Qt::ElideRight);
  lstFile->setHorizontalScrollMode(QAbstractItemView::ScrollPerPixel);
  connect(lstFile, &QTableView::doubleClicked, this, [this](const QModelIndex& index) {
    if (TFileInfo* item = FileModel->Item(index.row()); item && item->IsFolder) ShowFolder(item);
  });
  lstFile->horizontalHeader()->setSectionsClickable(true);
  lstFile->horizontalHeader()->setSortIndicatorShown(true);
  lstFile->horizontalHeader()->setSortIndicator(-1, Qt::AscendingOrder);
  connect(lstFile->horizontalHeader(), &QHeaderView::sectionClicked, this, &TFrmFRMain::lstFileHeadClick);
  connect(FileModel, &TFileListModel::CheckedChanged, this, [this] { UpdateActionState(); });
  // The list's menu; its entries come with the first showing (BuildMenus).
  pmfile = new QMenu(this);
  pmfile->setObjectName(QStringLiteral("pmfile"));
  lstFile->setContextMenuPolicy(Qt::CustomContextMenu);
  connect(lstFile, &QWidget::customContextMenuRequested, this, [this](QPoint at) {
    UpdateFileMenu();
    pmfile->popup(lstFile->viewport()->mapToGlobal(at));
  });
  auto* bottom = new QHBoxLayout;
  bottom->setSpacing(8);
  lblinfo = new QLabel(middle);
  lblinfo->setObjectName(QStringLiteral("lblinfo"));
  SetStyleFlag(lblinfo, "muted");
  btnrestore = new QPushButton(QStringLiteral("Restore"), middle);
  btnrestore->setObjectName(QStringLiteral("btnrestore"));
  btnrestore->setIcon(RestovoIcon(u"restore", Qt::white));
  SetPrimary(btnrestore);
  btnrestore->setEnabled(false);
  connect(btnrestore, &QPushButton::clicked, this, &TFrmFRMain::btnrestoreClick);
  bottom->addWidget(lblinfo, 1);
  // Three small share buttons; what they open follows the language (ApplyShareButtons).
  QToolButton** share[3] = {&btnemail, &btnfacebook, &btntwitter};
  static constexpr const char* kShareNames[3] = {"btnemail", "btnfacebook", "btntwitter"};
  for (int i = 0; i < 3; ++i) {
    auto* b = new QToolButton(middle);
    b->setObjectName(QString::fromLatin1(kShareNames[i]));
    b->setAutoRaise(true);
    b->setFixedSize(22, 22);
    b->setIconSize(QSize(16, 16));
    b->setCursor(Qt::PointingHandCursor);
    connect(b, &QToolButton::clicked, this, [this, i] { OpenLink(ShareTarget(i).toString(QUrl::FullyEncoded)); });
    bottom->addWidget(b);
    *share[i] = b;
  }
  bottom->addSpacing(6);
  bottom->addWidget(btnrestore);
  middleLayout->addWidget(lstFile, 1);
  middleLayout->addLayout(bottom);

  pnlpreview = new TPreviewPanel(spltree);
  pnlpreview->setAttribute(Qt::WA_StyledBackground, true);
  pnlpreview->hide();
  connect(btnprv, &QToolButton::clicked, this, &TFrmFRMain::btnprvClick);
  // A row made current by a click or by the keys shows in the preview.
  connect(lstFile->selectionModel(), &QItemSelectionModel::currentRowChanged, this,
          [this](const QModelIndex& current) {
            if (current.isValid()) lstFileItemClick(current.row());
          });

  spltree->addWidget(left);
  spltree->addWidget(middle);
  spltree->addWidget(pnlpreview);
  spltree->setStretchFactor(0, 0);
  spltree->setStretchFactor(1, 1);
  spltree->setStretchFactor(2, 0);
  spltree->setSizes({200, 600, 180});
  outer->addWidget(spltree, 1);

  SetContent(pnlcontent);
}

void TFrmFRMain::BuildMenus() {
  ++MenuBuilds;
  // The file list's menu.
  pmfile->clear();
  pmrestore = pmfile->addAction(RestovoIcon(u"restore"), QStringLiteral("Recovery the selected items."), this,
                                &TFrmFRMain::RestoreSelected);
  pmrestore->setObjectName(QStringLiteral("pmrestore"));
  pmfile->addSeparator()->setObjectName(QStringLiteral("N1"));
  QAction* selectAll = pmfile->addAction(QStringLiteral("Select All items."), this, &TFrmFRMain::CheckAll);
  selectAll->setObjectName(QStringLiteral("pmSelectAll"));
  selectAll->setShortcut(QKeySequence::SelectAll);
  selectAll->setShortcutContext(Qt::WidgetShortcut);
  lstFile->addAction(selectAll);
  pmfile->addAction(QStringLiteral("Select None."), this, &TFrmFRMain::CheckNone)
      ->setObjectName(QStringLiteral("pmSelectNone"));
  pmfile->addAction(QStringLiteral("Invert Selection."), this, &TFrmFRMain::InvertChecks)
      ->setObjectName(QStringLiteral("pmSelectInvert"));

  // The system menu behind the title bar's menu button.
  pmSystem->clear();
  auto link = [this](const char* name, const char* caption, const QString& address, bool mail = false) {
    QAction* a = pmSystem->addAction(QString::fromUtf8(caption));
    a->setObjectName(QString::fromLatin1(name));
    const QString target = address.trimmed().isEmpty() ? QString() : (mail ? QStringLiteral("mailto:") : QString()) + address.trimmed();
    // An address the installation left empty disables its entry instead of opening nothing.
    a->setEnabled(!target.isEmpty());
    connect(a, &QAction::triggered, this, [this, target] { OpenLink(target); });
    return a;
  };
  actOpenImage = pmSystem->addAction(RestovoIcon(u"open-image"), QStringLiteral("Open disk image…"));
  actOpenImage->setObjectName(QStringLiteral("pmOpenImage"));
  actOpenImage->setShortcut(QKeySequence::Open);
  addAction(actOpenImage);
  connect(actOpenImage, &QAction::triggered, this, &TFrmFRMain::OpenImageDialog);
  pmSystem->addSeparator();
  QAction* help = link("pmHelp", "Help Online", Vendor.HelpUrl);
  help->setShortcut(QKeySequence(Qt::Key_F1));
  // F1 opens the help wherever the focus is, in this window or any dialog over it.
  help->setShortcutContext(Qt::ApplicationShortcut);
  addAction(help);
  link("pmforum", "Forum", Vendor.ForumUrl);
  link("pmHome", "Home Page", Vendor.HomeUrl);
  link("pmContact", "Contact us", Vendor.SupportEmail, true);
  pmSystem->addSeparator()->setObjectName(QStringLiteral("N1"));
  QAction* checkNew = pmSystem->addAction(QStringLiteral("Checks for new version"));
  checkNew->setObjectName(QStringLiteral("pmCheckNew"));
  checkNew->setCheckable(true);
  checkNew->setChecked(Settings.CheckNewVer);
  connect(checkNew, &QAction::toggled, this, [this](bool on) {
    Settings.CheckNewVer = on;
    if (on) CheckForUpdate(true);
  });
  QAction* checkMsg = pmSystem->addAction(QStringLiteral("Auto Check News"));
  checkMsg->setObjectName(QStringLiteral("pmCheckMsg"));
  checkMsg->setCheckable(true);
  checkMsg->setChecked(Settings.Getnews);
  connect(checkMsg, &QAction::toggled, this, [this](bool on) { Settings.Getnews = on; });
  pmSystem->addSeparator()->setObjectName(QStringLiteral("N2"));
  pmLang = pmSystem->addMenu(QStringLiteral("Languages"));
  pmLang->setObjectName(QStringLiteral("pmLang"));
  auto* group = new QActionGroup(pmLang);
  group->setExclusive(true);
  for (const QString& name : Languages()) {
    QAction* entry = pmLang->addAction(name);
    entry->setCheckable(true);
    entry->setChecked(name == Lang());
    group->addAction(entry);
    connect(entry, &QAction::triggered, this, [this, name] {
      if (name == Lang()) return;
      Settings.Lang = name;
      SetLanguage(name);
    });
  }
  pmLang->addSeparator();
  QAction* translate = pmLang->addAction(Tr("Message", "TranslateTo", "Translate to.."));
  translate->setObjectName(QStringLiteral("pmTranslateTo"));
  translate->setEnabled(!Vendor.TranslateUrl.trimmed().isEmpty());
  connect(translate, &QAction::triggered, this, [this] { OpenLink(Vendor.TranslateUrl); });
  QAction* about = pmSystem->addAction(QStringLiteral("About.."));
  about->setObjectName(QStringLiteral("pmAbout"));
  connect(about, &QAction::triggered, this, [this] { TFrmFRAbout::Execute(this, Vendor); });
}

bool TFrmFRMain::OpenLink(const QString& address) {
  const QString target = address.trimmed();
  if (target.isEmpty()) return false;
  LastOpenedLink = target;
  if (!Options.OpenFileManager) return true;
  // A link the desktop cannot open fails quietly.
  restovo::OpenLink(target);
  return true;
}

void TFrmFRMain::CheckForUpdate(bool manual) {
  // One check at a time; a request while one runs is dropped.
  if (UpdateThread) return;
  ManualCheck = manual;
  const QUrl address = UpdateInfoUrl(Hosts);
  if (address.isEmpty()) {
    // The update service is switched off: no answer, as if it were down.
    TUpdateInfo none;
    none.Build = BuildNumber();
    QTimer::singleShot(0, this, [this, none] { UpdateChecked(none); });
    return;
  }
  UpdateThread = new TCheckUpdate(address, BuildNumber());
  connect(UpdateThread, &TCheckUpdate::Done, this, &TFrmFRMain::UpdateChecked);
  UpdateThread->Launch();
}

void TFrmFRMain::UpdateChecked(const TUpdateInfo& info) {
  const bool manual = ManualCheck;
  ManualCheck = false;
  UpdateThread = nullptr;
  // After the check at start the news follow, before any question.
  if (!manual && Settings.Getnews) StartGetNews();
  if (BuildNumber() < info.Build) {
    if (ShowMsg(mkConfirm, Tr("Message", "NewVer", "A new version is available! Do you want upgrade it now?"),
                mbYesNo) == mrYes)
      OpenLink(info.Url);
  } else if (manual) {
    ShowMsg(mkInformation, Tr("Message", "NoNewVer", "No effective update found."), mbOK);
  }
}

void TFrmFRMain::StartGetNews() {
  if (NewsThread || !Settings.Getnews) return;
  const QUrl address = NewsDescriptorUrl(Hosts);
  if (address.isEmpty()) return;  // the news service is switched off
  NewsThread = new TGetNews(address, DefaultNewsPageUrl(Hosts));
  connect(NewsThread, &TGetNews::Done, this, &TFrmFRMain::NewsReceived);
  NewsThread->Launch();
}

void TFrmFRMain::NewsReceived(const TNewsInfo& info) {
  NewsThread = nullptr;
  // Each item once: not the one remembered, and only for its language (or for all).
  if (info.MsgID <= 0 || info.MsgID == Settings.MsgID) return;
  if (!info.LangCode.isEmpty() && !LangCodeMatches(info.LangCode)) return;
  ShowNews(info);
}

void TFrmFRMain::ShowNews(const TNewsInfo& info) {
  NewsShown = info.MsgID;
  // One news window for the whole run, made on first use.
  if (!frmnew) frmnew = new Tfrmnew(this);
  const QScreen* screen = this->screen() ? this->screen() : QGuiApplication::primaryScreen();
  const QRect workArea = screen ? screen->availableGeometry() : QRect(0, 0, 1024, 768);
  frmnew->ShowNews(info.Url, info.MsgID, info.FormWidth, info.FormHeight, workArea);
  // Remembered before the page has loaded: an item whose page fails is not offered again.
  Settings.MsgID = info.MsgID;
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

// ---- Share buttons ---------------------------------------------------------------------

bool TFrmFRMain::ChineseShare() {
  return TranslateText(QStringLiteral("Translation"), QStringLiteral("LangCode"), QString()) ==
         QStringLiteral("0804|1004");
}

QUrl TFrmFRMain::ShareTarget(int button) const {
  const bool chinese = ChineseShare();
  switch (button) {
    case 0: return chinese ? TiebaShareUrl(Vendor) : ShareEmailUrl(Vendor);
    case 1: return chinese ? QzoneShareUrl(Vendor) : FacebookShareUrl(Vendor);
    case 2: return chinese ? WeiboShareUrl(Vendor) : TwitterShareUrl(Vendor);
    default: return {};
  }
}

void TFrmFRMain::ApplyShareButtons() {
  const bool chinese = ChineseShare();
  static constexpr const char16_t* kIcons[2][3] = {{u"share-email", u"share-facebook", u"share-twitter"},
                                                    {u"share-tieba", u"share-qzone", u"share-weibo"}};
  QToolButton* const buttons[3] = {btnemail, btnfacebook, btntwitter};
  static constexpr const char* kNames[3] = {"btnemail", "btnfacebook", "btntwitter"};
  static constexpr const char* kHints[3] = {"Tell your friends", "Follow us on facebook", "Share on twitter"};
  for (int i = 0; i < 3; ++i) {
    buttons[i]->setIcon(RestovoIcon(kIcons[chinese ? 1 : 0][i]));
    buttons[i]->setToolTip(ControlText(QString::fromLatin1(kNames[i]), "hint", QString::fromLatin1(kHints[i])));
    buttons[i]->setEnabled(!ShareTarget(i).isEmpty());
  }
}

void TFrmFRMain::CreateCoordinator() {
  Helper = std::make_unique<TRecoveryHelper>(Bridge.get(), Options.ListMachineDrives);
  // The window empties its views after a stop, so a stop need not link what was found.
  Helper->KeepStoppedResults = false;
  // Every handler returns at once once the window is closing: see the destructor.
  Helper->OnScanStart = [this](TRecoveryHelper*) {
    if (!Closing) ScanStarted();
  };
  Helper->OnScanProgress = [this](TRecoveryHelper*, std::int64_t total, std::int64_t position) {
    if (!Closing) ScanProgress(total, position);
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
  for (const auto& disk : Helper->Disks) {
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

void TFrmFRMain::btnsearchClick() { BeginScan(); }

void TFrmFRMain::BeginScan() {
  // A restore from the list's menu leaves the window free; its records must stay.
  if (IsBusy()) return;
  Helper->Threaded = true;
  const int index = cbbDrive->currentIndex();
  if (index < 0 || static_cast<std::size_t>(index) >= Helper->Disks.size()) return;
  // Starting a scan frees the previous scan's records at once, before the worker reports
  // its start: the views must let go of them first, or a repaint in between reads freed
  // memory.
  ClearResults();
  // The drive box and the coordinator list the same drives in the same order.
  Helper->StartScan(index);
}

void TFrmFRMain::ScanStarted() {
  ClearResults();
  LastFilterText.clear();
  if (!FrmProgressModal) FrmProgressModal = new TFrmProgressModal(this);
  FrmProgressModal->SetText(Tr("FileRecovery", "Scanning", "Scanning..."));
  FrmProgressModal->pb1->setMaximum(100);
  FrmProgressModal->pb1->setValue(0);
  FrmProgressModal->show();
  FrmProgressModal->raise();
}

void TFrmFRMain::ScanProgress(std::int64_t total, std::int64_t position) {
  // On the worker: numbers only, posted to the window.
  std::int64_t percent = total > 0 ? position * 100 / total : 0;
  percent = std::clamp<std::int64_t>(percent, 0, 100);
  QCoreApplication::postEvent(this, new TWindowMessage(WM_SCANPROGRESS, kScanProgressTag, percent));
}

void TFrmFRMain::WMScanProgress(qint64 wParam, qint64 lParam) {
  if (wParam != kScanProgressTag || !FrmProgressModal || !FrmProgressModal->isVisible()) return;
  if (lParam > FrmProgressModal->pb1->value()) FrmProgressModal->pb1->setValue(static_cast<int>(lParam));
}

void TFrmFRMain::ScanFinished() {
  if (FrmProgressModal) FrmProgressModal->pb1->setValue(100);
  TDiskObject* disk = Helper->CurrentDisk;
  if (!disk || !disk->Scaner) {
    if (FrmProgressModal) FrmProgressModal->hide();
    UpdateActionState();
    return;
  }
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
  ApplyPendingDeviceChange();
}

void TFrmFRMain::ScanStopped() {
  ClearResults();
  ShowStatus(Tr("FileRecovery", "ScanStopped", "The scan has been canceled."));
  UpdateActionState();
}

void TFrmFRMain::ScanFailed() {
  // The coordinator has released the previous scan's records: the views must not show
  // them any longer.
  ClearResults();
  QString text = QString::fromStdString(Helper->ErrorText);
  if (const TDiskObject* disk = Helper->CurrentDisk; disk && (disk->OpenError == EACCES || disk->OpenError == EPERM))
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
    if (DeviceChangePending) WMDeviceChange(DBT_DEVICEARRIVAL);
  });
}

void TFrmFRMain::WMDeviceChange(qint64 wParam) {
  if (wParam != DBT_DEVICEARRIVAL && wParam != DBT_DEVICEREMOVECOMPLETE) return;
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
  if (!Helper->CurrentDisk) ClearResults();
}

void TFrmFRMain::ClearResults() {
  TreeModel->clear();
  ActiveTreeNode = QPersistentModelIndex();
  CurrentList.clear();
  FilteredList.clear();
  RecycleInfoList.clear();
  // What the preview shows came from the records being let go.
  pnlpreview->Clear();
  for (TFilterResult& c : Categories) c.Files.clear();
  FileModel->Clear();
  ShowStatus(QString());
}

void TFrmFRMain::AddFolderNodes(QStandardItem* parentNode, TFileInfo* folder) {
  // Iterative, so a deep tree cannot overflow the stack. Files get no node; those whose
  // names begin with "$I" are the recycle bin's records of original names.
  std::vector<std::pair<QStandardItem*, TFileInfo*>> pending{{parentNode, folder}};
  const std::string recycleBin = Tr("FileRecovery", "RecycleBin", "Recycle Bin").toStdString();
  while (!pending.empty()) {
    auto [node, record] = pending.back();
    pending.pop_back();
    if (!record->Children) continue;
    std::vector<std::pair<QStandardItem*, TFileInfo*>> below;
    for (TFileInfo* child : *record->Children) {
      if (!child) continue;
      if (!child->IsFolder) {
        if (child->Name.starts_with("$I")) RecycleInfoList.push_back(child);
        continue;
      }
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
    RecycleInfoList.clear();
    if (!AllFilesRecord) {
      AllFilesRecord = NewFileInfo();
      AllFilesRecord->IsFolder = true;
      AllFilesRecord->IsAllFilesNode = true;
    }
    AllFilesNode = AllFilesRecord.get();
    auto* all = new QStandardItem(RestovoIcon(u"file"), Tr("FileRecovery", "AllFiles", "AllFiles"));
    all->setData(QVariant::fromValue(static_cast<void*>(AllFilesNode)), kRecordRole);
    TreeModel->appendRow(all);
    const TDiskObject* disk = Helper->CurrentDisk;
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

std::string TFrmFRMain::RecycledOriginalName(const std::string& name) {
  std::string key = name;
  for (std::size_t at = key.find("$R"); at != std::string::npos; at = key.find("$R", at + 2)) key[at + 1] = 'I';
  for (TFileInfo* info : RecycleInfoList) {
    if (info->Name != key) continue;
    std::vector<std::byte> content;
    // A record that cannot be read leaves the recycled name as it is.
    try {
      if (!Helper->ReadToMemory(info, content, std::min<std::int64_t>(info->Size, 65536))) return name;
    } catch (const std::exception&) {
      return name;
    }
    const std::string original = ReadRecycleInfoName(content);
    return original.empty() ? name : original;
  }
  return name;
}

void TFrmFRMain::SortIntoCategories() {
  for (TFilterResult& c : Categories) c.Files.clear();
  const TDiskObject* disk = Helper->CurrentDisk;
  if (!disk || !disk->Scaner || !disk->Scaner->RootItem) return;
  Categories[catAllFiles].Files = disk->Scaner->Items;
  // One walk of the tree: recycled files get their names back, then a category. The
  // root's own children keep their names.
  std::vector<std::pair<TFileInfo*, bool>> pending;
  if (const auto* top = disk->Scaner->RootItem->Children.get())
    for (auto it = top->rbegin(); it != top->rend(); ++it) pending.emplace_back(*it, false);
  while (!pending.empty()) {
    auto [record, rename] = pending.back();
    pending.pop_back();
    if (!record) continue;
    if (rename && record->Name.starts_with("$R")) record->Name = RecycledOriginalName(record->Name);
    if (record->IsFolder) {
      if (record->Children)
        for (auto it = record->Children->rbegin(); it != record->Children->rend(); ++it)
          pending.emplace_back(*it, true);
    } else if (const int k = CategoryOf(Categories, record->Name); k >= 0) {
      Categories[static_cast<std::size_t>(k)].Files.push_back(record);
    }
  }
}

void TFrmFRMain::TreeNodeChosen(const QModelIndex& index) {
  TFileInfo* record = RecordOf(index);
  if (!record || !Helper->CurrentDisk || !Helper->CurrentDisk->Scaner) return;
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
  btnsearch->setEnabled(cbbDrive->count() > 0 && !busy);
  // The preview button shows what a click on it will do.
  const QString hint = PreviewVisible() ? Tr("Message", "ClosePreview", "Close preview")
                                        : Tr("Message", "OpenPreview", "Show preview");
  btnprv->setToolTip(hint);
  btnprv->setChecked(PreviewVisible());
}

bool TFrmFRMain::IsBusy() const {
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
  const TDiskObject* disk = Helper ? Helper->CurrentDisk : nullptr;
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

void TFrmFRMain::FitColumns() {
  // Each column as wide as its header (in the current language) or its usual content; the
  // name column takes the rest and grows and shrinks with the window.
  const QFontMetrics metrics(lstFile->horizontalHeader()->font());
  const int padding = 22;  // the cell's margins, and the header's bold text
  auto width = [&](int column, const QString& sample, int extra = 0) {
    const QString header = FileModel->headerData(column, Qt::Horizontal, Qt::DisplayRole).toString();
    return std::max(metrics.horizontalAdvance(header) + 20, metrics.horizontalAdvance(sample) + extra) + padding;
  };
  lstFile->setColumnWidth(TFileListModel::colSize, width(TFileListModel::colSize, QStringLiteral("1,023.9 MB")));
  lstFile->setColumnWidth(TFileListModel::colDate,
                          width(TFileListModel::colDate, TFileListModel::DateText(133700000000000000ull)));
  lstFile->setColumnWidth(TFileListModel::colState,
                          width(TFileListModel::colState, Tr("FileRecovery", "VeryPoor", "Very Poor"), 22));
  lstFile->setColumnWidth(TFileListModel::colPath, 110);
  lstFile->horizontalHeader()->setMinimumSectionSize(48);
  FitNameColumn();
}

void TFrmFRMain::FitNameColumn() {
  int others = 0;
  for (int c = TFileListModel::colSize; c < TFileListModel::colCount; ++c) others += lstFile->columnWidth(c);
  lstFile->setColumnWidth(TFileListModel::colName, std::max(170, lstFile->viewport()->width() - others));
}

bool TFrmFRMain::eventFilter(QObject* watched, QEvent* event) {
  if (watched == lstFile->viewport() && event->type() == QEvent::Resize) FitNameColumn();
  return TTarnWindow::eventFilter(watched, event);
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

bool TFrmFRMain::event(QEvent* event) {
  if (event->type() == TWindowMessage::EventType()) {
    const auto* message = static_cast<TWindowMessage*>(event);
    if (message->Message == WM_SCANPROGRESS) WMScanProgress(message->WParam, message->LParam);
    else if (message->Message == WM_RESTOREPROGRESS) WMRestoreProgress();
    else if (message->Message == WM_DEVICECHANGE) WMDeviceChange(message->WParam);
    return true;
  }
  return TTarnWindow::event(event);
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

// ---- The search box --------------------------------------------------------------------

void TFrmFRMain::FillCategoryChoices() {
  struct Choice {
    const char* key;
    const char* caption;
    const char16_t* icon;
  };
  static constexpr Choice kChoices[] = {{"Images", "Images", u"type-picture"},
                                        {"Audios", "Audios", u"type-audio"},
                                        {"Videos", "Videos", u"type-video"},
                                        {"Document", "Docments", u"type-document"},
                                        {"Compressed", "Archive", u"type-archive"},
                                        {"Email", "Email", u"type-mail"}};
  const QSignalBlocker block(cmbsearch);
  cmbsearch->ClearChoices();
  for (const Choice& c : kChoices) cmbsearch->AddChoice(RestovoIcon(c.icon), Tr("FileRecovery", c.key, c.caption));
}

int TFrmFRMain::CategoryIndex() const { return cmbsearch->ChosenIndex(); }

void TFrmFRMain::cmbsearchChange(int index) {
  // A category writes its extension mask into the box and filters by it.
  if (index >= 0 && index < catAllFiles) {
    cmbsearch->SetText(QString::fromStdString(Categories[index].Mask));
    cmbsearch->LineEdit()->setCursorPosition(0);  // the mask's start says what it is
  }
  ApplyKeywordFilter();
  LastFilterText = cmbsearch->Text();
}

void TFrmFRMain::cmbsearchTextEdited() {
  // Keys that leave the text as it was (arrows, Home) filter nothing again.
  if (cmbsearch->Text() == LastFilterText) return;
  ApplyKeywordFilter();
  LastFilterText = cmbsearch->Text();
}

void TFrmFRMain::cmbsearchExtraBtnClick() {
  // The box has emptied itself: the whole view again, the focus to the list.
  ApplyKeywordFilter();
  LastFilterText.clear();
  lstFile->setFocus();
}

void TFrmFRMain::ApplyKeywordFilter() {
  FilteredList = CurrentList;
  const QString keyword = cmbsearch->Text().trimmed();
  if (!Filtering && !keyword.isEmpty() && keyword != u"File or folder name") {
    ShowStatus(Tr("FileRecovery", "Filtering", "Filtering.."));
    Filtering = true;
    // A keyword with "(" or a character no file name holds shows the whole view.
    const std::string k = keyword.toStdString();
    try {
      if (!keyword.contains(QLatin1Char('(')) && IsFilterTextValid(k)) FilteredList = FilterByPatterns(k, CurrentList);
    } catch (const std::exception&) {
      FilteredList = CurrentList;
    }
    Filtering = false;
  }
  UpdateActionState();
  if (!Filtering) ShowFilteredList();
}

void TFrmFRMain::ApplyCategoryFilter() {
  const int k = CategoryIndex();
  if (k < 0 || k >= catAllFiles) {
    ApplyKeywordFilter();
    return;
  }
  // Folders stay, so the user can still walk down; files only of the chosen category.
  TFileItems kept;
  kept.reserve(CurrentList.size());
  for (TFileInfo* record : CurrentList) {
    if (!record) continue;
    if (record->IsFolder || CategoryOf(Categories, record->Name) == k) kept.push_back(record);
  }
  CurrentList = std::move(kept);
}

void TFrmFRMain::BuildEditMenu() {
  pmedit->clear();
  QLineEdit* edit = cmbsearch->LineEdit();
  auto add = [&](const char* key, const char* caption, QKeySequence::StandardKey keys, auto action) {
    QAction* a = pmedit->addAction(TranslateText(QStringLiteral("Edit"), QString::fromLatin1(key), QString::fromLatin1(caption)));
    a->setObjectName(QString::fromLatin1(key));
    a->setShortcut(keys);
    connect(a, &QAction::triggered, edit, action);
  };
  add("pmcut", "Cut", QKeySequence::Cut, &QLineEdit::cut);
  add("pmcopy", "Copy", QKeySequence::Copy, &QLineEdit::copy);
  add("pmpaste", "Paste", QKeySequence::Paste, &QLineEdit::paste);
  add("pmdelete", "Delete", QKeySequence::Delete, &QLineEdit::del);
  pmedit->addSeparator();
  add("pmselectall", "Select All", QKeySequence::SelectAll, &QLineEdit::selectAll);
}

// ---- Restore ---------------------------------------------------------------------------

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
  TDiskObject* disk = Helper->CurrentDisk;
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
  RestoreList.clear();
  for (TFileInfo* record : records)
    if (record) RestoreList.push_back(record);
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
  Helper->Threaded = true;
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
  // Called on the worker for every file and block: keep the latest report and post one
  // message while none is waiting, so a million small files do not flood the event queue.
  {
    const std::lock_guard lock(RestoreProgressLock);
    RestoreProgressName = QString::fromStdString(name);
    RestoreProgressPercent = std::clamp<int>(percent, 0, 100);
  }
  if (!RestoreProgressPosted.exchange(true))
    QCoreApplication::postEvent(this, new TWindowMessage(WM_RESTOREPROGRESS, 0, 0));
}

void TFrmFRMain::WMRestoreProgress() {
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
  const TRestoreReport report = Helper->LastRestore;
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
  const std::vector<TRestoreFailure>& failures = Helper->LastRestore.Failures;
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

// ---- The preview panel -----------------------------------------------------------------

bool TFrmFRMain::PreviewVisible() const { return !pnlpreview->isHidden(); }

void TFrmFRMain::SetPreviewVisible(bool visible) {
  pnlpreview->setVisible(visible);
  if (visible && spltree->sizes().value(2) < pnlpreview->minimumSizeHint().width()) {
    QList<int> sizes = spltree->sizes();
    const int wanted = pnlpreview->sizeHint().width();
    sizes[1] = std::max(0, sizes[1] - wanted);
    sizes[2] = wanted;
    spltree->setSizes(sizes);
  }
  UpdateActionState();
  // The row already chosen shows at once.
  if (visible && lstFile->currentIndex().isValid()) lstFileItemClick(lstFile->currentIndex().row());
}

void TFrmFRMain::btnprvClick() { SetPreviewVisible(!PreviewVisible()); }

void TFrmFRMain::lstFileItemClick(int row) {
  TFileInfo* record = FileModel->Item(row);
  if (!record || record->IsFolder || !PreviewVisible()) return;
  try {
    ShowPreview(record);
  } catch (const std::exception&) {
    // A record that cannot be read leaves the panel as it was.
  }
}

void TFrmFRMain::ShowPreview(TFileInfo* record) {
  // While a scan runs its records are being made and freed; while a restore runs the
  // worker builds the same records' cluster chains.
  if (!Helper || !record || IsBusy()) return;
  constexpr std::int64_t kPreviewLimit = 10 * 1024 * 1024;
  const std::int64_t limit = std::clamp<std::int64_t>(record->Size, 0, kPreviewLimit);
  const QString ext = TPreviewPanel::PreviewExtension(QString::fromStdString(record->Name));
  std::vector<std::byte> content;
  if (!Helper->ReadToMemory(record, content, limit)) return;
  pnlpreview->ShowContent(content, ext);
}

// ---- Support centre and advertisements -------------------------------------------------

void TFrmFRMain::CreateSupportCenter() {
  if (support) return;
  support = new TFrmTarnSupport(Hosts, Settings.InstallId, Settings.SetupVer, this);
  connect(support, &TFrmTarnSupport::UnreadCountChanged, this, &TFrmFRMain::UnreadCountChanged);
}

void TFrmFRMain::UnreadCountChanged(int count) {
  // Answers not read yet mark the button until it is pressed.
  if (!support || count <= 0) return;
  FeedbackMark = true;
  btnfeedback->setIcon(RestovoIcon(u"feedback-unread"));
}

void TFrmFRMain::btnfeedbackClick() {
  CreateSupportCenter();
  support->ShowSupport();
  FeedbackMark = false;
  btnfeedback->setIcon(RestovoIcon(u"feedback"));
}

void TFrmFRMain::StartAdvertisements() {
  // The pictures are kept in the settings folder; without one nothing is fetched.
  if (!Options.OnlineServices || ConfigDir.isEmpty()) return;
  sw1->setSavePath(ConfigDir);
  sw1->setCheckUrl(AdListUrl(Hosts));
  sw1->Fetch();
}

void TFrmFRMain::AdImgDone(int width, int height) {
  // The panel takes the picture's size, at most its designed 200 × 100.
  const QSize size(std::min(width > 0 ? width : 200, 200), std::min(height > 0 ? height : 100, 100));
  if (pnlad->size() != size) {
    pnlad->setFixedSize(size);
    sw1->setGeometry(QRect(QPoint(0, 0), size));
  }
  pnlad->show();
}

}  // namespace restovo
