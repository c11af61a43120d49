#include "UProgressModal.h"

#include <QLabel>
#include <QProgressBar>
#include <QPushButton>
#include <QVBoxLayout>

#include "Translation.h"
#include "Umain.h"

namespace restovo {

TFrmProgressModal::TFrmProgressModal(TFrmFRMain* owner) : TTarnDialog(owner), Main(owner) {
  setObjectName(QStringLiteral("FrmProgressModal"));
  setWindowFlag(Qt::WindowStaysOnTopHint);
  SetTitleBarVisible(false);
  setFixedSize(388, 118);
  setModal(false);

  auto* layout = new QVBoxLayout(ContentArea());
  layout->setContentsMargins(18, 14, 18, 14);
  layout->setSpacing(10);
  lblcurfile = new QLabel(ContentArea());
  lblcurfile->setObjectName(QStringLiteral("lblcurfile"));
  lblcurfile->setFixedWidth(366 - 14);
  lblcurfile->setTextFormat(Qt::PlainText);
  pb1 = new QProgressBar(ContentArea());
  pb1->setObjectName(QStringLiteral("pb1"));
  pb1->setRange(0, 100);
  pb1->setTextVisible(false);
  btnsearchcancel = new QPushButton(ContentArea());
  btnsearchcancel->setObjectName(QStringLiteral("btnsearchcancel"));
  btnsearchcancel->setText(QStringLiteral("Cancel"));
  btnsearchcancel->setMinimumWidth(96);
  connect(btnsearchcancel, &QPushButton::clicked, this, &TFrmProgressModal::btnsearchcancelClick);

  layout->addWidget(lblcurfile);
  layout->addWidget(pb1);
  lbltimeleft = new QLabel(ContentArea());
  lbltimeleft->setObjectName(QStringLiteral("lbltimeleft"));
  auto* row = new QHBoxLayout;
  row->addWidget(lbltimeleft);
  row->addStretch(1);
  row->addWidget(btnsearchcancel);
  layout->addLayout(row);
}

void TFrmProgressModal::SetText(const QString& text) {
  // One line: a long file name is cut in the middle rather than pushing the dialog wider.
  lblcurfile->setToolTip(text);
  lblcurfile->setText(lblcurfile->fontMetrics().elidedText(text, Qt::ElideMiddle, lblcurfile->width()));
}

QString TFrmProgressModal::Text() const { return lblcurfile->toolTip(); }

void TFrmProgressModal::FormShow() {
  const QFont font = LangFont();
  setFont(font);
  Main->SetContentEnabled(false);
  btnsearchcancel->setFont(font);
  btnsearchcancel->setText(TranslateText(QStringLiteral("Translation"),
                                         QStringLiteral("FrmFRMain.btnsearchcancel.caption"),
                                         QStringLiteral("Cancel")));
  lblcurfile->setFont(font);
  lbltimeleft->setFont(font);
}

void TFrmProgressModal::FormHide() { Main->SetContentEnabled(true); }

void TFrmProgressModal::btnsearchcancelClick() { Main->CancelOperation(); }

void TFrmProgressModal::showEvent(QShowEvent* event) {
  FormShow();
  TTarnDialog::showEvent(event);
}

void TFrmProgressModal::hideEvent(QHideEvent* event) {
  FormHide();
  TTarnDialog::hideEvent(event);
}

void TFrmProgressModal::reject() {
  // Escape means "Cancel", never a silent close that leaves the work running.
  btnsearchcancelClick();
}

}  // namespace restovo
