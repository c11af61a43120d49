#include "uSupport.h"

#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFileDialog>
#include <QFileInfo>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QRegularExpression>
#include <QTemporaryFile>
#include <QTimer>
#include <QWebEngineProfile>
#include <QWebEngineScript>
#include <QWebEngineScriptCollection>
#include <QWebEngineView>

#include <cstring>

#include <sys/utsname.h>

#include "TTarnMessageBox.h"
#include "Translation.h"
#include "UCatch.h"
#include "uUploadFile.h"

namespace restovo {
namespace {

const QString kScreenshotCommand = QStringLiteral("javascript:screenshot;");
const QString kAddImageCommand = QStringLiteral("javascript:add-image;");
const QString kAddFileCommand = QStringLiteral("javascript:add-file;");

// Chromium runs a javascript: link in the page and never asks the window about it, so a
// click on one of the commands is caught before that and told on the console, which the
// page hands over.
const QString kCommandPrefix = QStringLiteral("restovo-support-command ");
const QString CommandClickScript = QStringLiteral(R"(
(function () {
  var commands = ['javascript:screenshot;', 'javascript:add-image;', 'javascript:add-file;'];
  document.addEventListener('click', function (e) {
    var a = e.target;
    while (a && !(a.tagName && a.tagName.toLowerCase() === 'a')) a = a.parentNode;
    if (!a) return;
    var href = a.getAttribute('href');
    if (commands.indexOf(href) < 0) return;
    e.preventDefault();
    e.stopImmediatePropagation();
    console.log('restovo-support-command ' + href);
  }, true);
})();
)");

const QString kUploadFailure = QStringLiteral(R"({"err":"upload failure"})");

QString Tr(const char* key, const char* def) {
  return TranslateText(QStringLiteral("Support"), QString::fromLatin1(key), QString::fromUtf8(def));
}

}  // namespace

QString SupportPageAddress(const QString& secondSite, const QString& page) {
  const QUrl url = ServiceUrl(secondSite, QStringLiteral("/quillmere_feedback/index.php?to=") + page);
  return url.isEmpty() ? QString() : url.toString();
}

TSupportNavigation FilterNavigation(const QString& target, const TSupportIdentity& identity) {
  if (target == kScreenshotCommand) return {TSupportNavigation::Screenshot, {}};
  if (target == kAddImageCommand) return {TSupportNavigation::AddImage, {}};
  if (target == kAddFileCommand) return {TSupportNavigation::AddFile, {}};
  if (target.contains(QStringLiteral("guid"))) return {};
  const QString write = SupportPageAddress(identity.SecondSite, QStringLiteral("write-question"));
  if (write.isEmpty()) return {};
  const QString question = SupportPageAddress(identity.SecondSite, QStringLiteral("question"));
  const QString mine = SupportPageAddress(identity.SecondSite, QStringLiteral("my-feedback"));
  const bool aboutThisUser = target.startsWith(write) || target.startsWith(question) ||
                             target.compare(mine, Qt::CaseInsensitive) == 0;
  if (!aboutThisUser) return {};
  // One arg() call, so that a "%1" inside a value is not replaced again.
  const QString added = QStringLiteral("&guid=%1&product_id=%2&version=%3&system_info=%4&vip=%5")
                            .arg(identity.InstallId, QString::number(identity.ProductId), identity.Version,
                                 identity.SystemVersion, QString::number(identity.Vip));
  return {TSupportNavigation::Redirect, QUrl(target + added)};
}

QString SystemVersionText(const QString& release) {
  static const QRegularExpression numbers(QStringLiteral("^\\d+(\\.\\d+){0,2}"));
  return numbers.match(release).captured(0);
}

QString SystemVersionText() {
  utsname name{};
  if (uname(&name) != 0) return {};
  return SystemVersionText(QString::fromLocal8Bit(name.release));
}

QList<int> ParseUnreadIds(const QString& reply) {
  const QJsonDocument doc = QJsonDocument::fromJson(reply.toUtf8());
  if (!doc.isArray()) return {};
  QList<int> ids;
  for (const QJsonValue& item : doc.array()) {
    const QJsonValue id = item.toObject().value(QStringLiteral("id"));
    // Whole numbers only: 3.5 or "3" are not ids.
    if (!id.isDouble() || id.toDouble() != double(id.toInt())) return {};
    ids.append(id.toInt());
  }
  return ids;
}

TSupportPage::TSupportPage(QObject* parent) : QWebEnginePage(parent) {
  QWebEngineScript script;
  script.setName(QStringLiteral("restovo-support-commands"));
  script.setSourceCode(CommandClickScript);
  script.setInjectionPoint(QWebEngineScript::DocumentCreation);
  script.setWorldId(QWebEngineScript::ApplicationWorld);
  script.setRunsOnSubFrames(true);
  scripts().insert(script);
}

bool TSupportPage::acceptNavigationRequest(const QUrl& url, NavigationType, bool isMainFrame) {
  return Handle(url.toString(), isMainFrame);
}

void TSupportPage::javaScriptConsoleMessage(JavaScriptConsoleMessageLevel, const QString& message,
                                            int, const QString&) {
  if (message.startsWith(kCommandPrefix)) Handle(message.mid(kCommandPrefix.size()), true);
}

bool TSupportPage::Handle(const QString& target, bool isMainFrame) {
  const TSupportNavigation n = FilterNavigation(target, Identity ? Identity() : TSupportIdentity{});
  switch (n.Action) {
    case TSupportNavigation::Accept:
      return true;
    case TSupportNavigation::Redirect:
      if (!isMainFrame) return true;
      // Loading from inside the request would cut across it: load once it is refused.
      QTimer::singleShot(0, this, [this, to = n.Target] { load(to); });
      return false;
    default:
      if (OnCommand) {
        // The commands open dialogs; they must not run inside the browser's call.
        QTimer::singleShot(0, this, [this, a = n.Action] {
          if (OnCommand) OnCommand(a);
        });
      }
      return false;
  }
}

TFetchUnread::TFetchUnread(const QUrl& address, QObject* parent) : QThread(parent), Address(address) {
  qRegisterMetaType<QList<int>>();
  connect(this, &QThread::finished, this, &QObject::deleteLater);
}

void TFetchUnread::run() { emit Done(ParseUnreadIds(HttpGetText(Address))); }

TFrmTarnSupport::TFrmTarnSupport(const TServiceHosts& hosts, const QString& installId, const QString& version,
                                 QWidget* notify)
    : TTarnDialog(notify),
      hosts_(hosts),
      installId_(installId),
      version_(version),
      systemVersion_(SystemVersionText()) {
  setObjectName(QStringLiteral("frmTarnSupport"));
  SetCaption(Tr("Caption", "Support Center"));
  setFont(LangFont());

  browser_ = new QWebEngineView;
  browser_->setObjectName(QStringLiteral("WebBrowser1"));
  browser_->setContextMenuPolicy(Qt::NoContextMenu);
  page_ = new TSupportPage(browser_);
  page_->Identity = [this] { return Identity(); };
  page_->OnCommand = [this](TSupportNavigation::TAction a) { OnCommand(a); };
  browser_->setPage(page_);
  SetContent(browser_);
  connect(page_, &QWebEnginePage::loadFinished, this, [this] { uploadPath_.clear(); });

  setFixedSize(kClientWidth, kClientHeight);
  FetchUnreadMessages();
}

TFrmTarnSupport::~TFrmTarnSupport() {
  // The page goes while this window is still whole: what it signals on its way out
  // reaches a complete window.
  delete browser_;
}

TSupportIdentity TFrmTarnSupport::Identity() const {
  return {hosts_.SecondSite, installId_, version_, systemVersion_, kProductId, kVip};
}

QString TFrmTarnSupport::PageAddress(const QString& page) const { return SupportPageAddress(hosts_.SecondSite, page); }

void TFrmTarnSupport::FetchUnreadMessages() {
  if (fetch_) return;
  const QUrl address =
      ServiceUrl(hosts_.SecondSite, QStringLiteral("/quillmere_feedback/index.php?to=fetch-unread-message&guid=") + installId_);
  if (address.isEmpty()) return;
  fetch_ = new TFetchUnread(address);
  connect(fetch_, &TFetchUnread::Done, this, &TFrmTarnSupport::OnUnread, Qt::QueuedConnection);
  fetch_->start(QThread::LowPriority);
}

void TFrmTarnSupport::OnUnread(const QList<int>& ids) {
  UnreadIds = ids;
  emit UnreadCountChanged(UnreadCount());
}

void TFrmTarnSupport::ShowSupport() {
  if (!shownBefore_) {
    shownBefore_ = true;
    QString start = QStringLiteral("home");
    if (UnreadIds.size() == 1) start = QStringLiteral("question&id=%1").arg(UnreadIds.first());
    else if (UnreadIds.size() > 1) start = QStringLiteral("my-feedback");
    const QString address = PageAddress(start);
    if (!address.isEmpty()) page_->load(QUrl(address));
    UnreadIds.clear();
  }
  show();
  raise();
  activateWindow();
}

void TFrmTarnSupport::OnCommand(TSupportNavigation::TAction action) {
  switch (action) {
    case TSupportNavigation::Screenshot: return TakeScreenshot();
    case TSupportNavigation::AddImage: return PickImage();
    case TSupportNavigation::AddFile: return PickArchive();
    default: return;
  }
}

QString TFrmTarnSupport::DefaultPicker(const QString& filter) {
  // Asked only for files that exist: the dialog's open mode checks that.
  return QFileDialog::getOpenFileName(this, QString(), QString(), filter);
}

void TFrmTarnSupport::PickImage() {
  const QString filter = QStringLiteral("Images (*.png *.jpg *.jpeg *.gif)");
  const QString path = FilePicker ? FilePicker(filter) : DefaultPicker(filter);
  if (!path.isEmpty() && QFileInfo(path).isFile()) UploadFile(path);
}

void TFrmTarnSupport::PickArchive() {
  const QString filter = QStringLiteral("Archives (*.zip *.rar *.7z)");
  const QString path = FilePicker ? FilePicker(filter) : DefaultPicker(filter);
  if (!path.isEmpty() && QFileInfo(path).isFile()) UploadFile(path);
}

QImage TFrmTarnSupport::DefaultCapture() {
  if (!catch_) catch_ = new TFrmCatch(this);
  catch_->Freeze();
  return catch_->exec() == QDialog::Accepted ? catch_->Captured() : QImage();
}

void TFrmTarnSupport::TakeScreenshot() {
  hide();
  // Give the window system time to take the window off the screen before the picture.
  QElapsedTimer wait;
  wait.start();
  while (wait.elapsed() < 100) {
    QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
    QThread::msleep(5);
  }
  const QImage shot = ScreenCapture ? ScreenCapture() : DefaultCapture();
  show();
  raise();
  activateWindow();
  if (shot.isNull()) return;
  QTemporaryFile file(QDir::tempPath() + QStringLiteral("/tarnXXXXXX.png"));
  file.setAutoRemove(false);
  if (!file.open()) return;
  if (!shot.save(&file, "PNG")) {
    file.remove();
    return;
  }
  file.close();
  UploadFile(file.fileName());
}

void TFrmTarnSupport::UploadFile(const QString& path) {
  if (!uploadPath_.isEmpty()) return;
  if (QFileInfo(path).size() > kMaxUpload) {
    TTarnMessageBox::Show(this, mkError, Tr("ConfirmCaption", "Confirm"),
                          Tr("FileTooLarge", "The file can't be larger than 5M"), mbOK);
    return;
  }
  uploadPath_ = path;
  auto* upload = new TUploadThread(
      ServiceUrl(hosts_.SecondSite, QStringLiteral("/quillmere_feedback/index.php?to=upload-file")), path);
  connect(upload, &TUploadThread::Begun, this, &TFrmTarnSupport::OnUploadBegun, Qt::QueuedConnection);
  connect(upload, &TUploadThread::Done, this, &TFrmTarnSupport::OnUploadDone, Qt::QueuedConnection);
  upload->Launch();
}

void TFrmTarnSupport::OnUploadBegun() {
  if (uploadPath_.isEmpty()) return;
  const QFileInfo info(uploadPath_);
  const QString ext = info.suffix().isEmpty() ? QString() : QLatin1Char('.') + info.suffix();
  CallPageScript(QStringLiteral("uploadBegain(%1, %2)").arg(ScriptString(info.fileName()), ScriptString(ext)));
}

void TFrmTarnSupport::OnUploadDone(const QString& reply) {
  const QString text = reply.isEmpty() ? kUploadFailure : reply;
  if (!uploadPath_.isEmpty()) {
    CallPageScript(QStringLiteral("uploadCallback(%1, %2)")
                       .arg(ScriptString(QFileInfo(uploadPath_).fileName()), ScriptString(FormEncode(text.toUtf8()))));
  }
  uploadPath_.clear();
  emit UploadFinished(text);
}

QString TFrmTarnSupport::FormEncode(const QByteArray& bytes) {
  static constexpr char kHex[] = "0123456789abcdef";
  QString out;
  out.reserve(bytes.size() * 3);
  for (const char c : bytes) {
    const auto b = static_cast<unsigned char>(c);
    const bool kept = (b >= 'A' && b <= 'Z') || (b >= 'a' && b <= 'z') || (b >= '0' && b <= '9') ||
                      (b != 0 && std::strchr("!$'()*-.@_", c) != nullptr);
    if (kept) {
      out.append(QLatin1Char(c));
    } else if (b == ' ') {
      out.append(QLatin1Char('+'));
    } else {
      out.append(QLatin1Char('%'));
      out.append(QLatin1Char(kHex[b >> 4]));
      out.append(QLatin1Char(kHex[b & 0xf]));
    }
  }
  return out;
}

QString TFrmTarnSupport::ScriptString(const QString& text) {
  // A JSON string is a JavaScript string literal; the array around it is dropped.
  const QByteArray json = QJsonDocument(QJsonArray{text}).toJson(QJsonDocument::Compact);
  QString literal = QString::fromUtf8(json.mid(1, json.size() - 2));
  // JSON allows the two line separators raw; older JavaScript did not.
  literal.replace(QChar(0x2028), QStringLiteral("\\u2028")).replace(QChar(0x2029), QStringLiteral("\\u2029"));
  return literal;
}

void TFrmTarnSupport::CallPageScript(const QString& code) { page_->runJavaScript(code); }

}  // namespace restovo
