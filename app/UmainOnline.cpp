// What the main window starts online: the update check and the news after it, the
// support centre with its unread answers, and the advertising panel.
#include "Umain.h"

#include <QGuiApplication>
#include <QScreen>
#include <QTimer>
#include <QToolButton>
#include <QWidget>
#include <algorithm>

#include "RestovoStyle.h"
#include "Settings.h"
#include "Translation.h"
#include "UAd.h"
#include "UCheckNewThread.h"
#include "UmainShared.h"
#include "Unew.h"
#include "uSupport.h"

namespace restovo {

using namespace umain;

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
