#include "UAbout.h"

#include <QEvent>
#include <QFontDatabase>
#include <QGridLayout>
#include <QKeyEvent>
#include <QLabel>
#include <QMouseEvent>
#include <QPushButton>
#include <QVBoxLayout>

#include "RestovoStyle.h"
#include "Settings.h"
#include "TTarnIconView.h"
#include "Translation.h"

namespace restovo {

namespace {

const QString kAbout = QStringLiteral("FrmFRAbout");
const char kLinkProperty[] = "restovoLink";

// The volunteers who translated the program, in their own writing, whatever the language.
const QString kTranslators =
    QStringLiteral("Anna Keller (Deutsch), Lucien Marchand (Fran\u00E7ais), \u738B\u6653\u6797 "
                   "(\u7B80\u4F53\u4E2D\u6587)");

constexpr QSize kClientSize(515, 306);
constexpr int kLogoSize = 56;

QString Tr(const char* section, const char* key, const char* def) {
  return TranslateText(QString::fromLatin1(section), QString::fromLatin1(key), QString::fromUtf8(def));
}

QString ControlText(const QLabel* control, const char* def) {
  return TranslateText(QStringLiteral("Translation"),
                       ControlKey(kAbout, control->objectName(), QStringLiteral("caption")),
                       QString::fromUtf8(def));
}

QLabel* MakeLabel(QWidget* parent, const char* name) {
  auto* label = new QLabel(parent);
  label->setObjectName(QString::fromLatin1(name));
  label->setTextFormat(Qt::PlainText);
  return label;
}

// A thin line in the divider colour between the window's groups.
QFrame* MakeDivider(QWidget* parent) {
  auto* line = new QFrame(parent);
  line->setFrameShape(QFrame::NoFrame);
  line->setFixedHeight(1);
  line->setAutoFillBackground(true);
  QPalette p = line->palette();
  p.setColor(QPalette::Window, p.color(QPalette::Midlight));
  line->setPalette(p);
  return line;
}

}  // namespace

TFrmFRAbout::TFrmFRAbout(QWidget* owner, const TVendorAddresses& addresses)
    : TTarnDialog(owner), Addresses(addresses) {
  setObjectName(kAbout);
  setModal(true);
  // The window is as large as its fixed client area plus the frame's title bar.
  layout()->setSizeConstraint(QLayout::SetFixedSize);
  QWidget* client = ContentArea();
  client->setFixedSize(kClientSize);

  auto* logo = new TTarnIconView(RestovoIcon(u"logo"), kLogoSize, client);
  logo->setObjectName(QStringLiteral("imglogo"));
  lblproduct = MakeLabel(client, "lblproduct");
  lblproduct->setText(QStringLiteral("Restovo"));
  SetStyleFlag(lblproduct, "heading");

  lblver = MakeLabel(client, "lblver");
  lblverinfo = MakeLabel(client, "lblverinfo");
  lblverinfo->setTextInteractionFlags(Qt::TextSelectableByMouse);
  lblemail = MakeLabel(client, "lblemail");
  lblsupport = MakeLabel(client, "lblsupport");
  lblhome = MakeLabel(client, "lblhome");
  lblweb = MakeLabel(client, "lblweb");
  lblthank = MakeLabel(client, "lblthank");
  lblthank->setWordWrap(true);
  SetStyleFlag(lblthank, "heading");
  lbl = MakeLabel(client, "lbl");
  lbl->setWordWrap(true);
  lbl->setText(kTranslators);
  // The names are written in several scripts and stay as they are in every language:
  // the system's font, not the language's, which can lack some of them.
  lbl->setFont(QFontDatabase::systemFont(QFontDatabase::GeneralFont));

  for (QLabel* caption : {lblver, lblemail, lblhome}) {
    caption->setAlignment(Qt::AlignRight | Qt::AlignVCenter);
    SetStyleFlag(caption, "muted");
  }
  for (QLabel* link : {lblsupport, lblweb}) {
    QPalette p = link->palette();
    p.setColor(QPalette::WindowText, p.color(QPalette::Link));
    link->setPalette(p);
    link->installEventFilter(this);
  }

  auto* btnok = new QPushButton(client);
  btnok->setObjectName(QStringLiteral("btnok"));
  btnok->setMinimumWidth(96);
  btnok->setDefault(true);
  SetPrimary(btnok);
  connect(btnok, &QPushButton::clicked, this, &QDialog::accept);

  auto* header = new QHBoxLayout;
  header->setSpacing(14);
  header->addWidget(logo, 0, Qt::AlignVCenter);
  header->addWidget(lblproduct, 1, Qt::AlignVCenter);

  auto* form = new QGridLayout;
  form->setHorizontalSpacing(16);
  form->setVerticalSpacing(8);
  form->setColumnMinimumWidth(0, kLogoSize);
  form->setColumnStretch(1, 1);
  const std::pair<QLabel*, QLabel*> rows[] = {{lblver, lblverinfo}, {lblemail, lblsupport}, {lblhome, lblweb}};
  int row = 0;
  for (const auto& [caption, value] : rows) {
    form->addWidget(caption, row, 0);
    form->addWidget(value, row, 1);
    ++row;
  }

  auto* thanks = new QVBoxLayout;
  thanks->setSpacing(4);
  thanks->addWidget(lblthank);
  thanks->addWidget(lbl);

  auto* buttons = new QHBoxLayout;
  buttons->addStretch(1);
  buttons->addWidget(btnok);

  auto* layout = new QVBoxLayout(client);
  layout->setContentsMargins(24, 16, 24, 16);
  layout->setSpacing(12);
  layout->addLayout(header);
  layout->addWidget(MakeDivider(client));
  layout->addLayout(form);
  layout->addWidget(MakeDivider(client));
  layout->addLayout(thanks);
  layout->addStretch(1);
  layout->addLayout(buttons);

  SetLink(lblsupport, Addresses.SupportEmail);
  SetLink(lblweb, Addresses.WebAddress);
  ApplyLanguage();
}

void TFrmFRAbout::Execute(QWidget* owner, const TVendorAddresses& addresses) {
  TFrmFRAbout about(owner, addresses);
  about.exec();
}

void TFrmFRAbout::ApplyLanguage() {
  // The stylesheet keeps a parent's font from reaching its children, so every widget gets
  // it; all but the translators' names. An explicit font also overrides the stylesheet's
  // weight of headings and of the caption, which is therefore set here too.
  const QFont font = LangFont();
  setFont(font);
  QList<QWidget*> widgets = ContentArea()->findChildren<QWidget*>();
  widgets += TitleBar()->findChildren<QWidget*>(QStringLiteral("TarnCaption"));
  for (QWidget* child : widgets) {
    if (child == lbl) continue;
    QFont f = font;
    f.setUnderline(child->font().underline());
    if (child->property("heading").toBool() || child->objectName() == QLatin1String("TarnCaption"))
      f.setWeight(QFont::DemiBold);
    child->setFont(f);
  }
  QFont heading = font;
  heading.setWeight(QFont::DemiBold);
  heading.setPointSizeF(font.pointSizeF() * 1.9);
  lblproduct->setFont(heading);

  SetCaption(Tr("Translation", "FrmFRAbout.caption", "About"));
  TitleBar()->SetButtonHints(Tr("GUI", "ButtonMinimize", "Minimize"), Tr("GUI", "ButtonMaximize", "Maximize"),
                             Tr("GUI", "ButtonRestore", "Restore"), Tr("GUI", "ButtonClose", "Close"),
                             Tr("GUI", "ButtonMenu", "Menu"));
  lblver->setText(ControlText(lblver, "Current Version:"));
  lblverinfo->setText(VersionText());
  lblemail->setText(ControlText(lblemail, "Support Email:"));
  lblhome->setText(ControlText(lblhome, "HomePage:"));
  lblthank->setText(ControlText(lblthank, "Thanks for the following their controbutions"));
  findChild<QPushButton*>(QStringLiteral("btnok"))->setText(Tr("GUI", "ButtonOK", "OK"));
}

void TFrmFRAbout::lblsupportClick() {
  if (IsLink(lblsupport)) OpenLink(QStringLiteral("mailto:") + Addresses.SupportEmail.trimmed());
}

void TFrmFRAbout::lblwebClick() {
  if (IsLink(lblweb)) OpenLink(Addresses.WebAddress);
}

bool TFrmFRAbout::IsLink(const QLabel* label) { return label && label->property(kLinkProperty).toBool(); }

void TFrmFRAbout::showEvent(QShowEvent* event) {
  ApplyLanguage();
  TTarnDialog::showEvent(event);
}

void TFrmFRAbout::SetLink(QLabel* label, const QString& text) {
  const QString address = text.trimmed();
  const bool link = !address.isEmpty();
  label->setText(address);
  label->setProperty(kLinkProperty, link);
  label->setFocusPolicy(link ? Qt::TabFocus : Qt::NoFocus);
  if (link) {
    label->setCursor(Qt::PointingHandCursor);
  } else {
    label->unsetCursor();
  }
}

bool TFrmFRAbout::eventFilter(QObject* watched, QEvent* event) {
  auto* label = qobject_cast<QLabel*>(watched);
  if (!IsLink(label)) return TTarnDialog::eventFilter(watched, event);

  const auto activate = [this, label] {
    if (label == lblsupport) {
      lblsupportClick();
    } else if (label == lblweb) {
      lblwebClick();
    }
  };
  const auto underline = [label](bool on) {
    QFont f = label->font();
    f.setUnderline(on);
    label->setFont(f);
  };
  switch (event->type()) {
    case QEvent::Enter:
    case QEvent::FocusIn:
      underline(true);
      break;
    case QEvent::Leave:
      underline(label->hasFocus());
      break;
    case QEvent::FocusOut:
      underline(label->underMouse());
      break;
    case QEvent::MouseButtonRelease: {
      const auto* mouse = static_cast<QMouseEvent*>(event);
      if (mouse->button() == Qt::LeftButton && label->rect().contains(mouse->position().toPoint())) {
        activate();
        return true;
      }
      break;
    }
    case QEvent::KeyPress: {
      const int key = static_cast<QKeyEvent*>(event)->key();
      if (key == Qt::Key_Return || key == Qt::Key_Enter || key == Qt::Key_Space) {
        activate();
        return true;
      }
      break;
    }
    default:
      break;
  }
  return TTarnDialog::eventFilter(watched, event);
}

}  // namespace restovo
