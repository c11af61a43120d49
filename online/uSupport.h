// The support centre: the vendor's feedback pages in a window of their own, the count of
// answers the user has not read yet, and the screenshots and files the pages ask for.
#pragma once

#include <QImage>
#include <QList>
#include <QPointer>
#include <QString>
#include <QThread>
#include <QUrl>
#include <QWebEnginePage>

#include <functional>

#include "TTarnWindow.h"
#include "WebServices.h"

class QWebEngineView;

namespace restovo {

class TFrmCatch;

// What the support pages are told about this installation.
struct TSupportIdentity {
  QString SecondSite;
  QString InstallId;
  QString Version;
  QString SystemVersion;
  int ProductId = 11;
  int Vip = 0;
};

// The address of a support page: "<second site>/quillmere_feedback/index.php?to=<page>".
QString SupportPageAddress(const QString& secondSite, const QString& page);

// What happens to a navigation inside the support window.
struct TSupportNavigation {
  enum TAction { Accept, Redirect, Screenshot, AddImage, AddFile };
  TAction Action = Accept;
  QUrl Target;  // where to go instead, for Redirect
};

// The pages that answer about this installation get its identity added to their address;
// an address that already names a guid passes, so that the added one is never doubled.
// The page's three commands ("javascript:screenshot;", "javascript:add-image;",
// "javascript:add-file;") are answered by the window instead of the page.
TSupportNavigation FilterNavigation(const QString& target, const TSupportIdentity& identity);

// The running kernel's release as numbers ("6.1.0-18-amd64" gives "6.1.0"); empty when
// it has none.
QString SystemVersionText(const QString& release);
QString SystemVersionText();

// The unread answers' ids in the service's reply (a JSON array of {"id": n}); none when
// the reply is anything else.
QList<int> ParseUnreadIds(const QString& reply);

// The support page: navigations pass FilterNavigation; a click on one of the page's
// commands reaches the window even though the browser runs javascript: links itself.
class TSupportPage : public QWebEnginePage {
  Q_OBJECT

 public:
  explicit TSupportPage(QObject* parent = nullptr);

  std::function<TSupportIdentity()> Identity;
  std::function<void(TSupportNavigation::TAction)> OnCommand;

  bool acceptNavigationRequest(const QUrl& url, NavigationType type, bool isMainFrame) override;

 protected:
  void javaScriptConsoleMessage(JavaScriptConsoleMessageLevel level, const QString& message,
                                int lineNumber, const QString& sourceID) override;

 private:
  bool Handle(const QString& target, bool isMainFrame);
};

// Fetches the unread answers' ids on a thread of its own; Done reaches the main thread
// queued, then the thread deletes itself.
class TFetchUnread final : public QThread {
  Q_OBJECT

 public:
  explicit TFetchUnread(const QUrl& address, QObject* parent = nullptr);

 signals:
  void Done(const QList<int>& ids);

 protected:
  void run() override;

 private:
  QUrl Address;
};

// The support window: 682 × 481, a close button only (closing hides it), centred over the
// main window whenever it is shown.
class TFrmTarnSupport : public TTarnDialog {
  Q_OBJECT

 public:
  static constexpr int kClientWidth = 682;
  static constexpr int kClientHeight = 481;
  static constexpr int kProductId = 11;
  static constexpr int kVip = 0;
  static constexpr qint64 kMaxUpload = 5 * 1024 * 1024;

  // notify: the main window, over which the window is centred.
  TFrmTarnSupport(const TServiceHosts& hosts, const QString& installId, const QString& version,
                  QWidget* notify = nullptr);
  ~TFrmTarnSupport() override;

  // Asks the service for the answers not read yet; UnreadCountChanged tells the count.
  void FetchUnreadMessages();
  int UnreadCount() const { return static_cast<int>(UnreadIds.size()); }
  bool UnreadFetchRunning() const { return !fetch_.isNull(); }

  // The first time it opens the page that fits the unread answers (none: home, one: that
  // question, more: the user's feedback) and forgets them; every time shows the window.
  void ShowSupport();

  void PickImage();
  void PickArchive();
  void TakeScreenshot();
  void UploadFile(const QString& path);
  bool UploadRunning() const { return !uploadPath_.isEmpty(); }

  // Bytes as an HTML form sends them: letters, digits and ! $ ' ( ) * - . @ _ as they are,
  // a blank as "+", every other byte as "%" and two lower-case hex digits.
  static QString FormEncode(const QByteArray& bytes);
  // A text as a JavaScript string literal in double quotes.
  static QString ScriptString(const QString& text);

  QString PageAddress(const QString& page) const;
  TSupportIdentity Identity() const;

  QWebEngineView* Browser() const { return browser_; }
  TSupportPage* Page() const { return page_; }
  TFrmCatch* CatchWindow() const { return catch_; }

  QList<int> UnreadIds;

  // The open-file dialog, given the filter; returns the chosen file or nothing.
  std::function<QString(const QString& filter)> FilePicker;
  // The capture; returns the chosen part of the screen or a null image.
  std::function<QImage()> ScreenCapture;

 signals:
  void UnreadCountChanged(int count);
  // An upload ended; reply as handed to the page.
  void UploadFinished(const QString& reply);

 protected:
  virtual void CallPageScript(const QString& code);

 private:
  void OnUnread(const QList<int>& ids);
  void OnUploadBegun();
  void OnUploadDone(const QString& reply);
  void OnCommand(TSupportNavigation::TAction action);
  QString DefaultPicker(const QString& filter);
  QImage DefaultCapture();

  TServiceHosts hosts_;
  QString installId_;
  QString version_;
  QString systemVersion_;
  QWebEngineView* browser_ = nullptr;
  TSupportPage* page_ = nullptr;
  TFrmCatch* catch_ = nullptr;
  QPointer<TFetchUnread> fetch_;
  QString uploadPath_;
  bool shownBefore_ = false;
};

}  // namespace restovo
