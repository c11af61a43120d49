#include "SampleWindows.h"

#include <QCheckBox>
#include <QFrame>
#include <QGridLayout>
#include <QLineEdit>
#include <QListWidget>
#include <QRadioButton>
#include <QToolButton>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QProgressBar>
#include <QPushButton>
#include <QSplitter>
#include <QStandardItemModel>
#include <QTreeView>
#include <QVBoxLayout>

#include "RestovoStyle.h"
#include "TTarnDirectCombobox.h"
#include "TTarnSearchBox.h"
#include "TTarnWindow.h"

namespace restovo {
namespace {

QWidget* MakeDirTree() {
  auto* card = new QFrame;
  card->setProperty("card", true);
  card->setObjectName(QStringLiteral("pnlTree"));
  auto* layout = new QVBoxLayout(card);
  layout->setContentsMargins(1, 8, 1, 1);
  layout->setSpacing(4);
  auto* heading = new QLabel(QStringLiteral("Dir Tree"));
  heading->setProperty("heading", true);
  heading->setContentsMargins(10, 0, 10, 0);
  layout->addWidget(heading);

  auto* model = new QStandardItemModel(card);
  auto* all = new QStandardItem(RestovoIcon(u"file"), QStringLiteral("All Files"));
  auto* root = new QStandardItem(RestovoIcon(u"drive-removable"), QStringLiteral("NIKON (SDB1)"));
  for (const char* name : {"DCIM", "MISC", "Recycle Bin", "Directory12"}) {
    auto* folder = new QStandardItem(RestovoIcon(u"folder"), QString::fromLatin1(name));
    if (qstrcmp(name, "DCIM") == 0) {
      folder->appendRow(new QStandardItem(RestovoIcon(u"folder"), QStringLiteral("100NIKON")));
      folder->appendRow(new QStandardItem(RestovoIcon(u"folder"), QStringLiteral("101NIKON")));
    }
    root->appendRow(folder);
  }
  model->appendRow(all);
  model->appendRow(root);

  auto* tree = new QTreeView;
  tree->setObjectName(QStringLiteral("lsttype"));
  tree->setModel(model);
  tree->setHeaderHidden(true);
  tree->setIconSize(QSize(16, 16));
  tree->expandAll();
  tree->setCurrentIndex(model->index(0, 0, model->index(1, 0)));
  layout->addWidget(tree, 1);
  return card;
}

QWidget* MakeFileList() {
  struct TRow {
    const char* Icon;
    const char* Name;
    const char* Size;
    const char* Modified;
    const char* State;
    bool Ticked;
  };
  const TRow rows[] = {
      {"type-picture", "DSC_0412.JPG", "6.1 MB", "2024-05-18 14:02", "Good", true},
      {"type-picture", "DSC_0413.JPG", "5.8 MB", "2024-05-18 14:03", "Good", true},
      {"type-video", "DSC_0415.MOV", "182.4 MB", "2024-05-18 14:10", "Poor", false},
      {"type-audio", "voice memo.m4a", "2.3 MB", "2024-05-19 09:41", "Good", false},
      {"type-document", "itinerary.pdf", "318 KB", "2024-05-12 21:15", "Very Poor", false},
      {"type-archive", "backup-photos.zip", "1.2 GB", "2024-04-30 18:22", "Lost", false},
      {"type-mail", "booking.eml", "46 KB", "2024-05-11 08:05", "Good", false},
      {"file", "NIKON001.DSC", "4 KB", "2024-05-18 13:58", "Good", false},
  };
  auto* model = new QStandardItemModel(0, 4);
  model->setHorizontalHeaderLabels(
      {QStringLiteral("Name"), QStringLiteral("Size"), QStringLiteral("Modified"),
       QStringLiteral("State")});
  for (const TRow& r : rows) {
    auto* name = new QStandardItem(RestovoIcon(QString::fromLatin1(r.Icon)),
                                   QString::fromUtf8(r.Name));
    name->setCheckable(true);
    name->setCheckState(r.Ticked ? Qt::Checked : Qt::Unchecked);
    auto* size = new QStandardItem(QString::fromLatin1(r.Size));
    size->setTextAlignment(Qt::AlignRight | Qt::AlignVCenter);
    model->appendRow({name, size, new QStandardItem(QString::fromLatin1(r.Modified)),
                      new QStandardItem(QString::fromLatin1(r.State))});
  }
  auto* list = new QTreeView;
  list->setObjectName(QStringLiteral("lstFile"));
  // Row heights are measured once, when the rows are laid out; the stylesheet's padding
  // must be in force by then.
  list->ensurePolished();
  list->setModel(model);
  model->setParent(list);
  list->setRootIsDecorated(false);
  list->setUniformRowHeights(true);
  list->setSortingEnabled(true);
  list->sortByColumn(-1, Qt::AscendingOrder);
  list->header()->setSortIndicator(0, Qt::AscendingOrder);
  list->header()->setStretchLastSection(false);
  list->header()->setSectionResizeMode(0, QHeaderView::Stretch);
  list->setColumnWidth(1, 90);
  list->setColumnWidth(2, 140);
  list->setColumnWidth(3, 86);
  list->setCurrentIndex(model->index(1, 0));
  return list;
}

}  // namespace

TTarnWindow* MakeSampleMainWindow() {
  auto* w = new TTarnWindow;
  w->setObjectName(QStringLiteral("FrmFRMain"));
  w->SetCaption(QStringLiteral("Restovo"));
  w->setWindowIcon(RestovoIcon(u"logo"));

  auto* layout = new QVBoxLayout(w->ContentArea());
  layout->setContentsMargins(12, 2, 12, 12);
  layout->setSpacing(10);

  auto* top = new QHBoxLayout;
  top->setSpacing(8);
  auto* drives = new TTarnDirectCombobox;
  drives->setObjectName(QStringLiteral("cbbDrive"));
  static int sampleDrive[2];
  drives->AddEntry(RestovoIcon(u"drive-removable"), QStringLiteral("NIKON (SDB1)"), &sampleDrive[0]);
  drives->AddEntry(RestovoIcon(u"drive-image"), QStringLiteral("CARD.IMG"), &sampleDrive[1]);
  drives->setMinimumWidth(220);
  auto* search = new QPushButton(RestovoIcon(u"search", Qt::white), QStringLiteral("Search"));
  search->setObjectName(QStringLiteral("btnsearch"));
  SetPrimary(search);
  auto* box = new TTarnSearchBox;
  box->setObjectName(QStringLiteral("cmbsearch"));
  box->SetPlaceholder(QStringLiteral("Input KeyWord"));
  box->SetClearHint(QStringLiteral("Delete"));
  box->setMinimumWidth(230);
  const std::pair<const char16_t*, const char*> categories[] = {
      {u"type-picture", "Images"}, {u"type-audio", "Audios"},      {u"type-video", "Videos"},
      {u"type-document", "Docments"}, {u"type-archive", "Archive"}, {u"type-mail", "Email"}};
  for (const auto& [icon, caption] : categories) {
    box->AddChoice(RestovoIcon(QStringView(icon)), QString::fromLatin1(caption));
  }
  auto* preview = new QPushButton(RestovoIcon(u"preview"), QStringLiteral("Preview"));
  preview->setObjectName(QStringLiteral("btnprv"));
  preview->setCheckable(true);
  top->addWidget(drives);
  top->addWidget(search);
  top->addStretch(1);
  top->addWidget(box);
  top->addWidget(preview);
  layout->addLayout(top);

  auto* splitter = new QSplitter(Qt::Horizontal);
  splitter->setChildrenCollapsible(false);
  QWidget* tree = MakeDirTree();
  tree->setMinimumWidth(200);
  tree->setMaximumWidth(400);
  splitter->addWidget(tree);
  splitter->addWidget(MakeFileList());
  splitter->setStretchFactor(1, 1);
  splitter->setSizes({220, 560});
  layout->addWidget(splitter, 1);

  auto* bottom = new QHBoxLayout;
  bottom->setSpacing(8);
  auto* info = new QLabel(QStringLiteral("1,284 deleted files found, 2 ticked (11.9 MB)"));
  info->setObjectName(QStringLiteral("lblinfo"));
  info->setProperty("muted", true);
  auto* restore = new QPushButton(RestovoIcon(u"restore", Qt::white), QStringLiteral("Restore"));
  restore->setObjectName(QStringLiteral("btnrestore"));
  SetPrimary(restore);
  bottom->addWidget(info, 1);
  bottom->addWidget(restore);
  layout->addLayout(bottom);

  w->resize(821, 576);
  return w;
}

TTarnDialog* MakeSampleProgressDialog(QWidget* owner) {
  auto* d = new TTarnDialog(owner);
  d->setObjectName(QStringLiteral("FrmProgressModal"));
  d->SetTitleBarVisible(false);
  d->setWindowFlag(Qt::WindowStaysOnTopHint);
  d->setFixedSize(388, 118);

  auto* layout = new QVBoxLayout(d->ContentArea());
  layout->setContentsMargins(16, 14, 16, 14);
  layout->setSpacing(10);
  auto* text = new QLabel(QStringLiteral("Scanning..."));
  text->setObjectName(QStringLiteral("lblcurfile"));
  text->setFixedWidth(354);
  auto* bar = new QProgressBar;
  bar->setObjectName(QStringLiteral("pb1"));
  bar->setRange(0, 100);
  bar->setValue(42);
  auto* cancel = new QPushButton(QStringLiteral("Cancel"));
  cancel->setObjectName(QStringLiteral("btnsearchcancel"));
  cancel->setMinimumWidth(88);
  auto* row = new QHBoxLayout;
  row->addStretch(1);
  row->addWidget(cancel);
  layout->addWidget(text);
  layout->addWidget(bar);
  layout->addStretch(1);
  layout->addLayout(row);
  return d;
}

QWidget* MakeControlGallery() {
  auto* w = new QWidget;
  w->setObjectName(QStringLiteral("Gallery"));
  w->setAttribute(Qt::WA_StyledBackground);
  w->setStyleSheet(QStringLiteral("#Gallery { background: palette(window); }"));
  auto* grid = new QGridLayout(w);
  grid->setContentsMargins(16, 16, 16, 16);
  grid->setHorizontalSpacing(12);
  grid->setVerticalSpacing(12);

  const auto button = [](const QString& text, bool primary, bool enabled, bool checked) {
    auto* b = new QPushButton(text);
    SetPrimary(b, primary);
    b->setEnabled(enabled);
    if (checked) {
      b->setCheckable(true);
      b->setChecked(true);
    }
    return b;
  };
  grid->addWidget(button(QStringLiteral("Search"), true, true, false), 0, 0);
  grid->addWidget(button(QStringLiteral("Restore"), true, false, false), 0, 1);
  grid->addWidget(button(QStringLiteral("Cancel"), false, true, false), 0, 2);
  grid->addWidget(button(QStringLiteral("Disabled"), false, false, false), 0, 3);
  grid->addWidget(button(QStringLiteral("Preview"), false, true, true), 0, 4);

  auto* edit = new QLineEdit(QStringLiteral("report 2024"));
  edit->setObjectName(QStringLiteral("focusedEdit"));
  auto* empty = new QLineEdit;
  empty->setPlaceholderText(QStringLiteral("File or folder name"));
  auto* off = new QLineEdit(QStringLiteral("read only"));
  off->setEnabled(false);
  grid->addWidget(edit, 1, 0, 1, 2);
  grid->addWidget(empty, 1, 2, 1, 2);
  grid->addWidget(off, 1, 4);

  auto* drives = new TTarnDirectCombobox;
  drives->AddEntry(RestovoIcon(u"drive-fixed"), QStringLiteral("DATA (NVME0N1P3)"), nullptr);
  auto* drivesOff = new TTarnDirectCombobox;
  drivesOff->AddEntry(RestovoIcon(u"drive-image"), QStringLiteral("CARD.IMG"), nullptr);
  drivesOff->setEnabled(false);
  auto* box = new TTarnSearchBox;
  box->SetText(QStringLiteral("holiday"));
  grid->addWidget(drives, 2, 0, 1, 2);
  grid->addWidget(drivesOff, 2, 2, 1, 2);
  grid->addWidget(box, 2, 4);

  auto* ticks = new QHBoxLayout;
  ticks->setSpacing(16);
  for (int i = 0; i < 5; ++i) {
    auto* c = new QCheckBox(QStringList{QStringLiteral("Ticked"), QStringLiteral("Open"),
                                        QStringLiteral("Partly"), QStringLiteral("Off"),
                                        QStringLiteral("Off ticked")}[i]);
    c->setTristate(i == 2);
    c->setCheckState(i == 0 || i == 4 ? Qt::Checked : i == 2 ? Qt::PartiallyChecked : Qt::Unchecked);
    c->setEnabled(i < 3);
    ticks->addWidget(c);
  }
  auto* radioOn = new QRadioButton(QStringLiteral("Radio"));
  radioOn->setChecked(true);
  ticks->addWidget(radioOn);
  ticks->addWidget(new QRadioButton(QStringLiteral("Other")));
  ticks->addStretch(1);
  grid->addLayout(ticks, 3, 0, 1, 5);

  auto* bar = new QProgressBar;
  bar->setValue(68);
  auto* barOff = new QProgressBar;
  barOff->setValue(30);
  barOff->setEnabled(false);
  grid->addWidget(bar, 4, 0, 1, 3);
  grid->addWidget(barOff, 4, 3, 1, 2);

  auto* list = new QListWidget;
  list->ensurePolished();
  for (int i = 0; i < 30; ++i) {
    list->addItem(new QListWidgetItem(RestovoIcon(u"type-picture"),
                                      QStringLiteral("IMG_%1 with a rather long name so that it scrolls.jpg")
                                          .arg(4100 + i)));
  }
  list->setCurrentRow(2);
  list->setFixedHeight(150);
  grid->addWidget(list, 5, 0, 1, 3);

  auto* tools = new QHBoxLayout;
  for (const char16_t* icon : {u"open-image", u"preview", u"restore", u"search"}) {
    auto* t = new QToolButton;
    t->setIcon(RestovoIcon(QStringView(icon)));
    t->setIconSize(QSize(20, 20));
    t->setAutoRaise(true);
    tools->addWidget(t);
  }
  auto* toolOff = new QToolButton;
  toolOff->setIcon(RestovoIcon(u"restore"));
  toolOff->setIconSize(QSize(20, 20));
  toolOff->setEnabled(false);
  tools->addWidget(toolOff);
  tools->addStretch(1);
  auto* heading = new QLabel(QStringLiteral("Heading"));
  heading->setProperty("heading", true);
  auto* muted = new QLabel(QStringLiteral("Muted status text"));
  muted->setProperty("muted", true);
  auto* side = new QVBoxLayout;
  side->addLayout(tools);
  side->addWidget(heading);
  side->addWidget(muted);
  side->addStretch(1);
  grid->addLayout(side, 5, 3, 1, 2);
  return w;
}

}  // namespace restovo
