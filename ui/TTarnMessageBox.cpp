#include "TTarnMessageBox.h"

#include <QHBoxLayout>
#include <QLabel>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QVBoxLayout>

#include <algorithm>

#include "RestovoStyle.h"
#include "TTarnIconView.h"

namespace restovo {
namespace {

constexpr int kMinTextWidth = 240;
constexpr int kMaxTextWidth = 420;
constexpr int kIconSize = 36;

}  // namespace

TTarnMessageBox::TTarnMessageBox(QWidget* owner, TMsgKind kind, const QString& caption,
                                 const QString& text, TMsgButtons buttons,
                                 const TMsgButtonTexts& texts)
    : TTarnDialog(owner), kind_(kind), buttons_(buttons) {
  setModal(true);
  SetCaption(caption);

  auto* icon = new TTarnIconView(RestovoIcon(IconName(kind)), kIconSize);
  icon->setObjectName(QStringLiteral("TarnMsgIcon"));
  icon->setProperty("iconName", IconName(kind).toString());

  text_ = new QLabel(text);
  text_->setObjectName(QStringLiteral("TarnMsgText"));
  text_->setWordWrap(true);
  text_->setTextFormat(Qt::PlainText);
  text_->setTextInteractionFlags(Qt::TextSelectableByMouse);
  text_->setAlignment(Qt::AlignLeft | Qt::AlignVCenter);

  auto* body = new QHBoxLayout;
  body->setSpacing(14);
  body->addWidget(icon, 0, Qt::AlignTop);
  body->addWidget(text_, 1);

  auto* row = new QHBoxLayout;
  row->setSpacing(8);
  row->addStretch(1);
  const auto addButton = [this, row](const char* name, const QString& label, int result,
                                     bool isDefault) {
    auto* b = new QPushButton(label);
    b->setObjectName(QLatin1StringView(name));
    b->setMinimumWidth(88);
    b->setDefault(isDefault);
    b->setAutoDefault(isDefault);
    if (isDefault) SetPrimary(b);
    connect(b, &QPushButton::clicked, this, [this, result] { done(result); });
    row->addWidget(b);
  };
  if (buttons == mbYesNo) {
    addButton("btnYes", texts.Yes, mrYes, true);
    addButton("btnNo", texts.No, mrNo, false);
  } else {
    addButton("btnOk", texts.Ok, mrOk, true);
  }

  details_ = new QPlainTextEdit;
  details_->setObjectName(QStringLiteral("TarnMsgDetails"));
  details_->setReadOnly(true);
  details_->setLineWrapMode(QPlainTextEdit::NoWrap);
  details_->setFixedHeight(140);
  details_->setMinimumWidth(kMaxTextWidth + kIconSize + 14);
  details_->hide();

  auto* layout = new QVBoxLayout(ContentArea());
  layout->setContentsMargins(20, 10, 20, 16);
  layout->setSpacing(20);
  layout->addLayout(body);
  layout->addWidget(details_);
  layout->addLayout(row);
  // The box takes the size its text needs and cannot be resized.
  this->layout()->setSizeConstraint(QLayout::SetFixedSize);
}

int TTarnMessageBox::Show(QWidget* owner, TMsgKind kind, const QString& caption,
                          const QString& text, TMsgButtons buttons,
                          const TMsgButtonTexts& texts, const QString& details) {
  TTarnMessageBox box(owner, kind, caption, text, buttons, texts);
  box.SetDetails(details);
  return box.exec();
}

QString TTarnMessageBox::Text() const { return text_->text(); }

void TTarnMessageBox::SetDetails(const QString& details) {
  details_->setPlainText(details);
  details_->setVisible(!details.isEmpty());
}

QString TTarnMessageBox::Details() const { return details_->toPlainText(); }

QStringView TTarnMessageBox::IconName(TMsgKind kind) {
  switch (kind) {
    case mkWarning: return u"msg-warning";
    case mkError: return u"msg-error";
    case mkInformation: return u"msg-information";
    case mkConfirm: return u"msg-question";
  }
  return u"msg-information";
}

void TTarnMessageBox::setVisible(bool visible) {
  // Measured when shown, so that a font the caller set after construction counts.
  if (visible && !isVisible()) FitText();
  TTarnDialog::setVisible(visible);
}

void TTarnMessageBox::reject() { done(buttons_ == mbYesNo ? mrNo : mrOk); }

void TTarnMessageBox::FitText() {
  // A word-wrapped label on its own picks an odd width; give it the width of its
  // longest line within sensible bounds and the height that width needs.
  const QFontMetrics fm(text_->font());
  int natural = 0;
  for (const QString& line : text_->text().split(QLatin1Char('\n'))) {
    natural = std::max(natural, fm.horizontalAdvance(line));
  }
  const int width = std::clamp(natural + 2, kMinTextWidth, kMaxTextWidth);
  text_->setFixedWidth(width);
  text_->setFixedHeight(std::max(kIconSize, text_->heightForWidth(width)));
}

}  // namespace restovo
