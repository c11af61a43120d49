// The main window's controls as they are built and laid out: the top row, the folder
// tree with the advertising panel, the file list with the status line and the share
// buttons, the preview panel; and the widths of the list's columns.
#include "Umain.h"

#include <QEvent>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QProgressBar>
#include <QPushButton>
#include <QSplitter>
#include <QStandardItemModel>
#include <QTableView>
#include <QToolButton>
#include <QTreeView>
#include <QUrl>
#include <QVBoxLayout>
#include <algorithm>

#include "FileListModel.h"
#include "PreviewPanel.h"
#include "RestovoStyle.h"
#include "TTarnDirectCombobox.h"
#include "TTarnSearchBox.h"
#include "UAd.h"
#include "UmainShared.h"

namespace restovo {

using namespace umain;

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
  btndeepscan = new QPushButton(QStringLiteral("Deep Scan"), pnlcontent);
  btndeepscan->setObjectName(QStringLiteral("btndeepscan"));
  btndeepscan->setIcon(RestovoIcon(u"search"));
  connect(btndeepscan, &QPushButton::clicked, this, &TFrmFRMain::btndeepscanClick);
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
  top->addWidget(btndeepscan);
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
  // A deep scan that lists its early results reads on below them: its bar, what it has
  // read, and its stop.
  pnldeep = new QWidget(middle);
  pnldeep->setObjectName(QStringLiteral("pnldeep"));
  auto* deepLayout = new QHBoxLayout(pnldeep);
  deepLayout->setContentsMargins(0, 0, 0, 0);
  deepLayout->setSpacing(8);
  pbdeep = new QProgressBar(pnldeep);
  pbdeep->setObjectName(QStringLiteral("pbdeep"));
  pbdeep->setRange(0, 100);
  pbdeep->setTextVisible(false);
  pbdeep->setFixedSize(160, 6);
  lbldeep = new QLabel(pnldeep);
  lbldeep->setObjectName(QStringLiteral("lbldeep"));
  btndeepstop = new QPushButton(QStringLiteral("Stop"), pnldeep);
  btndeepstop->setObjectName(QStringLiteral("btndeepstop"));
  connect(btndeepstop, &QPushButton::clicked, this, &TFrmFRMain::CancelOperation);
  deepLayout->addWidget(pbdeep);
  deepLayout->addWidget(lbldeep, 1);
  deepLayout->addWidget(btndeepstop);
  pnldeep->hide();
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
  middleLayout->addWidget(pnldeep);
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

}  // namespace restovo
