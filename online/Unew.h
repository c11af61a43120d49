// The news window: a small page from the vendor that slides up from the bottom-right
// corner of the screen, stays a minute and fades away unless the user points at it.
#pragma once

#include <QPointer>
#include <QRect>
#include <QTimer>
#include <QUrl>
#include <QWebEnginePage>
#include <QWidget>

#include <functional>

class QWebEngineView;

namespace restovo {

class TTarnFrame;
class TTarnTitleBar;

// Call in main() before the QApplication exists: the embedded browser shares OpenGL
// contexts with the windows, and Chromium's sandbox cannot run as root.
void PrepareWebEngine();

// The news page: a link the user clicks opens in the user's own browser, not in the
// small window, which only ever shows the page it was given.
class TNewsPage : public QWebEnginePage {
  Q_OBJECT

 public:
  explicit TNewsPage(QObject* parent = nullptr);

  // Opens a clicked link; QDesktopServices::openUrl unless a test sets another.
  void SetLinkOpener(std::function<void(const QUrl&)> opener) { opener_ = std::move(opener); }

  bool acceptNavigationRequest(const QUrl& url, NavigationType type, bool isMainFrame) override;

 private:
  std::function<void(const QUrl&)> opener_;
};

// Borderless, always on top, never takes the focus. ShowNews() places it just below the
// work area and loads the page; once the page has loaded with a body the window shows and
// slides up (SlideTick every 50 ms), then the fade timer waits a minute and lowers the
// opacity (FadeTick every 33 ms) until the window closes. The pointer entering the window
// stops the fade for good. The window is only hidden when it closes, so it can be reused.
//
// The timers call SlideTick and FadeTick; tests call them directly instead of waiting.
class Tfrmnew : public QWidget {
  Q_OBJECT

 public:
  static constexpr int kDesignedWidth = 492;
  static constexpr int kDesignedHeight = 266;
  // What the window adds around the page: a 1 px border on the sides and below, the
  // title bar and the border above.
  static constexpr int kPageLeft = 1;
  static constexpr int kPageTop = 25;
  static constexpr int kExtraWidth = 2;
  static constexpr int kExtraHeight = 26;
  static constexpr int kRightGap = 10;
  static constexpr int kSlideInterval = 50;
  static constexpr int kSlideStep = 20;
  static constexpr int kHoldInterval = 60'000;
  static constexpr int kFadeInterval = 33;
  static constexpr int kFadeStep = 10;
  static constexpr int kFadeEndAlpha = 5;

  explicit Tfrmnew(QWidget* parent = nullptr);
  ~Tfrmnew() override;

  // formWidth and formHeight are the page's size; only when both are given does the
  // window take that size (plus its border and title bar), else it keeps the designed
  // size. msgId is the message's number, which the caller remembers as seen.
  void ShowNews(const QString& url, int msgId, int formWidth, int formHeight,
                const QRect& workArea);

  // Shows the window where it stands (without activating it) and starts sliding up;
  // called once the page has loaded with a body.
  void SlideIn();

  void SlideTick();
  void FadeTick();

  int MsgId() const { return msgId_; }
  int FormWidth() const { return formWidth_; }
  int FormHeight() const { return formHeight_; }
  QUrl Url() const { return url_; }
  QRect WorkArea() const { return workArea_; }

  bool IsSliding() const { return slideTimer_.isActive(); }
  int SlideInterval() const { return slideTimer_.interval(); }
  // The fade timer runs: first the minute's wait, then the fading itself.
  bool IsFadeTimerActive() const { return fadeTimer_.isActive(); }
  // The opacity is being lowered (the minute is over).
  bool IsFading() const { return fading_ && fadeTimer_.isActive(); }
  int FadeInterval() const { return fadeTimer_.interval(); }
  int Alpha() const { return alpha_; }
  // The pointer has been over the window since it was shown: it will not fade.
  bool IsHeld() const { return held_; }

  QWebEngineView* Browser() const { return browser_; }
  TNewsPage* Page() const { return page_; }
  TTarnTitleBar* TitleBar() const;
  TTarnFrame* Frame() const { return frame_; }

 signals:
  // The page has loaded and the window is on its way up.
  void NewsShown();
  // The page could not be shown (failed to load, or has no body); the window stays hidden.
  void NewsRejected();

 protected:
  void enterEvent(QEnterEvent* event) override;
  bool eventFilter(QObject* watched, QEvent* event) override;

 private:
  void OnLoadFinished(bool ok);
  void OnPageChecked(const QVariant& result, quint64 load);
  void Reject();
  void Hold();
  void SetAlpha(int alpha);
  int FinalTop() const;

  TTarnFrame* frame_ = nullptr;
  TNewsPage* page_ = nullptr;
  QWebEngineView* browser_ = nullptr;
  QTimer slideTimer_;
  QTimer fadeTimer_;

  QUrl url_;
  int msgId_ = 0;
  int formWidth_ = 0;
  int formHeight_ = 0;
  QRect workArea_;
  int top_ = 0;
  int alpha_ = 255;
  bool fading_ = false;
  bool held_ = false;
  // Counts ShowNews calls, so that an answer about an earlier page is ignored.
  quint64 load_ = 0;
  bool awaitingPage_ = false;
};

}  // namespace restovo
