#include "Unew.h"

#include <QCoreApplication>
#include <QDesktopServices>
#include <QEnterEvent>
#include <QLayout>
#include <QWebEngineScript>
#include <QWebEngineSettings>
#include <QWebEngineView>

#include <unistd.h>

#include "TTarnFrame.h"
#include "Translation.h"

namespace restovo {
namespace {

// Tells whether the page has a body and, when it has, takes away what would show around
// the page's own design in so small a window: scroll bars, margins and a border.
const QString PrepareBodyScript = QStringLiteral(R"(
(function () {
  var body = document.body;
  if (!body) return false;
  body.style.overflow = 'hidden';
  body.setAttribute('scroll', 'no');
  body.style.borderStyle = 'none';
  body.style.margin = '0px';
  return true;
})()
)");

constexpr int kFullAlpha = 255;

}  // namespace

void PrepareWebEngine() {
  QCoreApplication::setAttribute(Qt::AA_ShareOpenGLContexts);
  if (geteuid() == 0 && !qEnvironmentVariableIsSet("QTWEBENGINE_DISABLE_SANDBOX"))
    qputenv("QTWEBENGINE_DISABLE_SANDBOX", "1");
}

TNewsPage::TNewsPage(QObject* parent) : QWebEnginePage(parent) {}

bool TNewsPage::acceptNavigationRequest(const QUrl& url, NavigationType type, bool isMainFrame) {
  if (type != NavigationTypeLinkClicked || !isMainFrame) return true;
  if (opener_) {
    opener_(url);
  } else {
    QDesktopServices::openUrl(url);
  }
  return false;
}

Tfrmnew::Tfrmnew(QWidget* parent)
    : QWidget(parent, Qt::Tool | Qt::FramelessWindowHint | Qt::WindowStaysOnTopHint),
      frame_(new TTarnFrame(this)) {
  setObjectName(QStringLiteral("frmnew"));
  setAttribute(Qt::WA_ShowWithoutActivating);
  setWindowTitle(QStringLiteral("Restovo"));

  // No buttons: the window goes away by itself. The bar is kept low so that the page
  // gets the height it was designed for.
  TTarnTitleBar* bar = frame_->TitleBar();
  bar->SetButtons({});
  bar->SetCaption(QStringLiteral("Restovo"));
  bar->setFixedHeight(kPageTop - 1);
  frame_->SetResizable(false);
  frame_->installEventFilter(this);

  browser_ = new QWebEngineView;
  browser_->setObjectName(QStringLiteral("WebBrowser1"));
  browser_->setContextMenuPolicy(Qt::NoContextMenu);
  page_ = new TNewsPage(browser_);
  page_->settings()->setAttribute(QWebEngineSettings::ShowScrollBars, false);
  browser_->setPage(page_);
  frame_->SetContent(browser_);
  connect(page_, &QWebEnginePage::loadFinished, this, &Tfrmnew::OnLoadFinished);

  setFixedSize(kDesignedWidth, kDesignedHeight);

  slideTimer_.setInterval(kSlideInterval);
  connect(&slideTimer_, &QTimer::timeout, this, &Tfrmnew::SlideTick);
  fadeTimer_.setInterval(kHoldInterval);
  connect(&fadeTimer_, &QTimer::timeout, this, &Tfrmnew::FadeTick);
}

Tfrmnew::~Tfrmnew() {
  // The page goes while this window is still whole: a script answer it delivers on its
  // way out finds a window that is no longer waiting for one.
  awaitingPage_ = false;
  ++load_;
  delete browser_;
}

TTarnTitleBar* Tfrmnew::TitleBar() const { return frame_->TitleBar(); }

void Tfrmnew::ShowNews(const QString& url, int msgId, int formWidth, int formHeight,
                       const QRect& workArea) {
  slideTimer_.stop();
  fadeTimer_.stop();
  if (isVisible()) hide();
  fading_ = false;
  held_ = false;

  msgId_ = msgId;
  formWidth_ = formWidth;
  formHeight_ = formHeight;
  if (formWidth != 0 && formHeight != 0) {
    setFixedSize(formWidth + kExtraWidth, formHeight + kExtraHeight);
  } else {
    setFixedSize(kDesignedWidth, kDesignedHeight);
  }
  url_ = QUrl(url);
  workArea_ = workArea;

  // Just below the work area's bottom edge, so that sliding up brings it into view.
  move(workArea.x() + workArea.width() - width() - kRightGap,
       workArea.y() + workArea.height() + height());
  setFont(LangFont());
  SetAlpha(kFullAlpha);
  fadeTimer_.setInterval(kHoldInterval);

  ++load_;
  awaitingPage_ = true;
  page_->load(url_);
}

void Tfrmnew::OnLoadFinished(bool ok) {
  if (!awaitingPage_) return;
  awaitingPage_ = false;
  if (!ok) return Reject();
  QPointer<Tfrmnew> self(this);
  const quint64 load = load_;
  page_->runJavaScript(PrepareBodyScript, QWebEngineScript::ApplicationWorld,
                       [self, load](const QVariant& result) {
                         if (self) self->OnPageChecked(result, load);
                       });
}

void Tfrmnew::OnPageChecked(const QVariant& result, quint64 load) {
  if (load != load_) return;
  if (result.typeId() != QMetaType::Bool || !result.toBool()) return Reject();
  SlideIn();
}

void Tfrmnew::Reject() {
  slideTimer_.stop();
  fadeTimer_.stop();
  close();
  emit NewsRejected();
}

void Tfrmnew::SlideIn() {
  if (layout()) layout()->activate();
  show();
  slideTimer_.start(kSlideInterval);
  emit NewsShown();
}

int Tfrmnew::FinalTop() const { return workArea_.y() + workArea_.height() - height(); }

void Tfrmnew::SlideTick() {
  int top = y() - kSlideStep;
  if (top <= FinalTop()) {
    top = FinalTop();
    slideTimer_.stop();
    if (!held_) fadeTimer_.start(kHoldInterval);
  }
  move(x(), top);
}

void Tfrmnew::FadeTick() {
  if (!fading_) {
    fading_ = true;
    fadeTimer_.setInterval(kFadeInterval);
    return;
  }
  SetAlpha(alpha_ - kFadeStep);
  if (alpha_ <= kFadeEndAlpha) {
    fadeTimer_.stop();
    close();
  }
}

void Tfrmnew::SetAlpha(int alpha) {
  alpha_ = alpha;
  setWindowOpacity(alpha / double(kFullAlpha));
}

void Tfrmnew::Hold() {
  held_ = true;
  fadeTimer_.stop();
}

void Tfrmnew::enterEvent(QEnterEvent* event) {
  Hold();
  QWidget::enterEvent(event);
}

bool Tfrmnew::eventFilter(QObject* watched, QEvent* event) {
  if (watched == frame_ && event->type() == QEvent::Enter) Hold();
  return QWidget::eventFilter(watched, event);
}

}  // namespace restovo
