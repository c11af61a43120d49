// The news window: its size and start position, sliding and fading driven tick by tick
// (no test waits for the minute), the pointer holding it, real pages with and without a
// body, links, and a picture of it under Xvfb.
#include <QApplication>
#include <QDir>
#include <QEnterEvent>
#include <QFile>
#include <QScreen>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QWebEngineSettings>
#include <QWebEngineView>
#include <QtTest>

#include <optional>

#include "RestovoStyle.h"
#include "TTarnFrame.h"
#include "Translation.h"
#include "Unew.h"

using namespace restovo;

namespace {

const QRect Desktop(0, 0, 1280, 770);

// Loading would answer through the event loop, which the tick tests never run; a page
// that cannot load keeps any late answer harmless all the same.
const QString NoPage = QStringLiteral("about:blank");

// The answer of a script run in the page, waited for.
QVariant RunScript(QWebEnginePage* page, const QString& script) {
  std::optional<QVariant> answer;
  page->runJavaScript(script, [&answer](const QVariant& v) { answer = v; });
  if (!QTest::qWaitFor([&] { return answer.has_value(); }, 10'000)) return {};
  return *answer;
}

void SlideToTheEnd(Tfrmnew& news) {
  for (int i = 0; news.IsSliding() && i < 1000; ++i) news.SlideTick();
}

void PointerEnters(QWidget* widget) {
  const QPointF at(20, 10);
  QEnterEvent enter(at, at, widget->mapToGlobal(at));
  QApplication::sendEvent(widget, &enter);
}

// Writes a page into dir and gives its file:// address.
QString WritePage(const QTemporaryDir& dir, const QString& name, const QByteArray& content) {
  const QString path = dir.filePath(name);
  QFile f(path);
  if (!f.open(QIODevice::WriteOnly)) return {};
  f.write(content);
  return QUrl::fromLocalFile(path).toString();
}

const QByteArray PageWithBody =
    "<!DOCTYPE html>\n"
    "<html><head><style>\n"
    "  body { margin: 24px; overflow: scroll; border: 3px solid red; height: 2000px; }\n"
    "</style></head>\n"
    "<body><p>News</p></body></html>\n";

// What the vendor's news looks like: a designed block of exactly the window's page size.
const QByteArray StyledNews =
    "<!DOCTYPE html>\n"
    "<html><head><meta charset=\"utf-8\"><style>\n"
    "  html, body { height: 100%; }\n"
    "  body { font-family: sans-serif; background: linear-gradient(135deg, #1f6feb, #0b3d91);\n"
    "         color: white; box-sizing: border-box; padding: 18px 22px; }\n"
    "  h1 { font-size: 20px; margin: 0 0 10px 0; }\n"
    "  p  { font-size: 13px; line-height: 1.45; margin: 0 0 12px 0; }\n"
    "  a.button { display: inline-block; background: white; color: #0b3d91; padding: 7px 16px;\n"
    "             border-radius: 4px; text-decoration: none; font-weight: bold; font-size: 13px; }\n"
    "</style></head>\n"
    "<body>\n"
    "  <h1>Restovo 1.1 is out</h1>\n"
    "  <p>Faster NTFS scans, previews of deleted pictures before restoring them, and a\n"
    "     clearer list of what can still be read.</p>\n"
    "  <p>The update is free for every user.</p>\n"
    "  <a class=\"button\" href=\"https://www.example.org/news\">Read more</a>\n"
    "</body></html>\n";

}  // namespace

class NewsWindowTest : public QObject {
  Q_OBJECT

 private slots:
  void initTestCase() { ApplyRestovoStyle(*qApp); }

  void isABorderlessToolWindowOfTheDesignedSize() {
    Tfrmnew news;
    QCOMPARE(news.size(), QSize(Tfrmnew::kDesignedWidth, Tfrmnew::kDesignedHeight));
    QCOMPARE(news.size(), QSize(492, 266));
    QCOMPARE(news.windowTitle(), QStringLiteral("Restovo"));
    QCOMPARE(news.TitleBar()->Caption(), QStringLiteral("Restovo"));
    QCOMPARE(news.TitleBar()->Buttons(), TTarnTitleBar::TButtons());
    QVERIFY(!news.Frame()->IsResizable());
    const Qt::WindowFlags flags = news.windowFlags();
    QCOMPARE(flags & Qt::WindowType_Mask, Qt::Tool);
    QVERIFY(flags & Qt::FramelessWindowHint);
    QVERIFY(flags & Qt::WindowStaysOnTopHint);
    QVERIFY(news.testAttribute(Qt::WA_ShowWithoutActivating));
    QVERIFY(!news.Page()->settings()->testAttribute(QWebEngineSettings::ShowScrollBars));
    QVERIFY(!news.isVisible());
  }

  void takesThePageSizeAndStartsBelowTheWorkArea_data() {
    QTest::addColumn<int>("formWidth");
    QTest::addColumn<int>("formHeight");
    QTest::addColumn<QRect>("workArea");
    QTest::addColumn<QSize>("size");
    QTest::addColumn<QPoint>("start");

    QTest::newRow("no page size") << 0 << 0 << Desktop << QSize(492, 266) << QPoint(778, 1036);
    QTest::newRow("width only") << 600 << 0 << Desktop << QSize(492, 266) << QPoint(778, 1036);
    QTest::newRow("height only") << 0 << 300 << Desktop << QSize(492, 266) << QPoint(778, 1036);
    QTest::newRow("both") << 600 << 300 << Desktop << QSize(602, 326) << QPoint(668, 1096);
    // A second monitor right of the first, its work area below a 100 px panel.
    QTest::newRow("offset work area") << 400 << 200 << QRect(1920, 100, 1600, 860)
                                      << QSize(402, 226) << QPoint(3108, 1186);
  }

  void takesThePageSizeAndStartsBelowTheWorkArea() {
    QFETCH(int, formWidth);
    QFETCH(int, formHeight);
    QFETCH(QRect, workArea);
    QFETCH(QSize, size);
    QFETCH(QPoint, start);

    Tfrmnew news;
    // A window used before comes back to the designed size when no page size is given.
    news.ShowNews(NoPage, 1, 300, 100, Desktop);
    news.ShowNews(NoPage, 42, formWidth, formHeight, workArea);

    QCOMPARE(news.size(), size);
    QCOMPARE(news.pos(), start);
    QCOMPARE(news.MsgId(), 42);
    QCOMPARE(news.FormWidth(), formWidth);
    QCOMPARE(news.FormHeight(), formHeight);
    QCOMPARE(news.Url(), QUrl(NoPage));
    QCOMPARE(news.font(), LangFont());
    QCOMPARE(news.Alpha(), 255);
    QCOMPARE(news.windowOpacity(), 1.0);
    QCOMPARE(news.FadeInterval(), 60'000);
    QVERIFY(!news.IsSliding());
    QVERIFY(!news.IsFadeTimerActive());
    QVERIFY(!news.isVisible());
  }

  void slidesUpTwentyPixelsATickUntilItSitsOnTheWorkAreaBottom_data() {
    QTest::addColumn<int>("formWidth");
    QTest::addColumn<int>("formHeight");
    QTest::addColumn<QRect>("workArea");
    QTest::addColumn<int>("ticks");

    // From bottom + height to bottom - height: 532 px, the last tick snaps 8 px short.
    QTest::newRow("designed size") << 0 << 0 << Desktop << 27;
    QTest::newRow("page 600 x 300") << 600 << 300 << Desktop << 33;
    // 2 x 300 px is a whole number of steps: no snapping at the end.
    QTest::newRow("even distance") << 300 << 274 << Desktop << 30;
    QTest::newRow("offset work area") << 0 << 0 << QRect(1920, 100, 1600, 860) << 27;
  }

  void slidesUpTwentyPixelsATickUntilItSitsOnTheWorkAreaBottom() {
    QFETCH(int, formWidth);
    QFETCH(int, formHeight);
    QFETCH(QRect, workArea);
    QFETCH(int, ticks);

    Tfrmnew news;
    QSignalSpy shown(&news, &Tfrmnew::NewsShown);
    news.ShowNews(NoPage, 3, formWidth, formHeight, workArea);
    const QPoint start = news.pos();
    news.SlideIn();
    QVERIFY(news.isVisible());
    QCOMPARE(shown.count(), 1);
    QVERIFY(news.IsSliding());
    QCOMPARE(news.SlideInterval(), 50);
    QVERIFY(!news.IsFadeTimerActive());

    const int finalTop = workArea.y() + workArea.height() - news.height();
    int done = 0;
    while (news.IsSliding() && done < 1000) {
      news.SlideTick();
      ++done;
      if (news.IsSliding()) {
        QCOMPARE(news.pos(), start - QPoint(0, 20 * done));
        QVERIFY(news.y() > finalTop);
        QVERIFY(!news.IsFadeTimerActive());
      }
    }
    QCOMPARE(done, ticks);
    QCOMPARE(news.pos(), QPoint(start.x(), finalTop));
    QVERIFY(news.IsFadeTimerActive());
    QVERIFY(!news.IsFading());
    QCOMPARE(news.FadeInterval(), 60'000);
    QCOMPARE(news.Alpha(), 255);
  }

  void fadesOutInTwentyFiveStepsAfterTheMinute() {
    Tfrmnew news;
    QSignalSpy rejected(&news, &Tfrmnew::NewsRejected);
    news.ShowNews(NoPage, 3, 0, 0, Desktop);
    news.SlideIn();
    SlideToTheEnd(news);
    QCOMPARE(news.FadeInterval(), 60'000);

    // The minute is over: the timer now ticks quickly, the first tick only starts fading.
    news.FadeTick();
    QVERIFY(news.IsFading());
    QCOMPARE(news.FadeInterval(), 33);
    QCOMPARE(news.Alpha(), 255);

    for (int step = 1; step < 25; ++step) {
      news.FadeTick();
      QCOMPARE(news.Alpha(), 255 - 10 * step);
      QCOMPARE(news.windowOpacity(), (255 - 10 * step) / 255.0);
      QVERIFY(news.isVisible());
      QVERIFY(news.IsFading());
    }
    news.FadeTick();
    QCOMPARE(news.Alpha(), 5);
    QVERIFY(!news.isVisible());
    QVERIFY(!news.IsFadeTimerActive());
    QCOMPARE(rejected.count(), 0);

    // Closed is only hidden: the next news starts opaque and slides again.
    news.ShowNews(NoPage, 4, 0, 0, Desktop);
    QCOMPARE(news.Alpha(), 255);
    QCOMPARE(news.windowOpacity(), 1.0);
    QVERIFY(!news.IsFading());
    news.SlideIn();
    QVERIFY(news.isVisible());
    QVERIFY(news.IsSliding());
  }

  void thePointerHoldsTheWindowForGood_data() {
    QTest::addColumn<bool>("onFrame");
    QTest::addColumn<int>("slideTicks");  // before the pointer enters; 27 is the whole slide
    QTest::addColumn<int>("fadeTicks");

    QTest::newRow("window, while sliding") << false << 10 << 0;
    QTest::newRow("window, during the minute") << false << 27 << 0;
    QTest::newRow("frame, during the minute") << true << 27 << 0;
    QTest::newRow("window, while fading") << false << 27 << 6;
    QTest::newRow("frame, while fading") << true << 27 << 6;
  }

  void thePointerHoldsTheWindowForGood() {
    QFETCH(bool, onFrame);
    QFETCH(int, slideTicks);
    QFETCH(int, fadeTicks);

    Tfrmnew news;
    news.ShowNews(NoPage, 3, 0, 0, Desktop);
    news.SlideIn();
    for (int i = 0; i < slideTicks; ++i) news.SlideTick();
    for (int i = 0; i < fadeTicks; ++i) news.FadeTick();
    const int alpha = news.Alpha();
    QCOMPARE(alpha, fadeTicks == 0 ? 255 : 255 - 10 * (fadeTicks - 1));
    QVERIFY(!news.IsHeld());

    PointerEnters(onFrame ? static_cast<QWidget*>(news.Frame()) : &news);
    QVERIFY(news.IsHeld());
    QVERIFY(!news.IsFadeTimerActive());

    // A slide under way still ends where it should, but no minute starts after it.
    SlideToTheEnd(news);
    QCOMPARE(news.y(), Desktop.height() - news.height());
    QVERIFY(!news.IsFadeTimerActive());
    QVERIFY(news.isVisible());
    QCOMPARE(news.Alpha(), alpha);
    QCOMPARE(news.windowOpacity(), alpha / 255.0);

    // The next news is not held.
    news.ShowNews(NoPage, 4, 0, 0, Desktop);
    QVERIFY(!news.IsHeld());
  }

  void clickedLinksOpenInTheUsersBrowser_data() {
    QTest::addColumn<int>("type");
    QTest::addColumn<bool>("mainFrame");
    QTest::addColumn<bool>("opensOutside");

    QTest::newRow("link") << int(QWebEnginePage::NavigationTypeLinkClicked) << true << true;
    QTest::newRow("link in a frame") << int(QWebEnginePage::NavigationTypeLinkClicked) << false
                                     << false;
    QTest::newRow("typed") << int(QWebEnginePage::NavigationTypeTyped) << true << false;
    QTest::newRow("redirect") << int(QWebEnginePage::NavigationTypeRedirect) << true << false;
    QTest::newRow("form") << int(QWebEnginePage::NavigationTypeFormSubmitted) << true << false;
  }

  void clickedLinksOpenInTheUsersBrowser() {
    QFETCH(int, type);
    QFETCH(bool, mainFrame);
    QFETCH(bool, opensOutside);

    Tfrmnew news;
    QList<QUrl> opened;
    news.Page()->SetLinkOpener([&opened](const QUrl& u) { opened << u; });
    const QUrl target(QStringLiteral("https://www.example.org/news?id=7"));
    const bool inside = news.Page()->acceptNavigationRequest(
        target, QWebEnginePage::NavigationType(type), mainFrame);
    QCOMPARE(inside, !opensOutside);
    QCOMPARE(opened, opensOutside ? QList<QUrl>{target} : QList<QUrl>{});
  }

  void aPageWithABodyIsShownBareAndSlidesIn() {
    QTemporaryDir dir;
    QVERIFY(dir.isValid());
    const QString url = WritePage(dir, QStringLiteral("news.html"), PageWithBody);

    Tfrmnew news;
    QSignalSpy rejected(&news, &Tfrmnew::NewsRejected);
    bool slidingWhenShown = false;
    int topWhenShown = 0;
    connect(&news, &Tfrmnew::NewsShown, this, [&] {
      slidingWhenShown = news.IsSliding();
      topWhenShown = news.y();
    });
    QSignalSpy shown(&news, &Tfrmnew::NewsShown);
    const QRect workArea = news.screen()->availableGeometry();
    news.ShowNews(url, 9, 400, 200, workArea);
    QTRY_COMPARE_WITH_TIMEOUT(shown.count(), 1, 30'000);
    QCOMPARE(rejected.count(), 0);
    QVERIFY(slidingWhenShown);
    QCOMPARE(topWhenShown, workArea.y() + workArea.height() + 226);

    QVERIFY(news.isVisible());
    QCOMPARE(news.size(), QSize(402, 226));
    QCOMPARE(QRect(news.Browser()->mapTo(&news, QPoint(0, 0)), news.Browser()->size()),
             QRect(1, 25, 400, 200));

    const QString style = RunScript(news.Page(), QStringLiteral(
        "(function () { var s = getComputedStyle(document.body);"
        " return [s.marginTop, s.marginRight, s.marginBottom, s.marginLeft, s.overflow,"
        " s.borderTopStyle, document.body.getAttribute('scroll')].join('|'); })()"))
                              .toString();
    QCOMPARE(style, QStringLiteral("0px|0px|0px|0px|hidden|none|no"));

    // The real timers: up in 50 ms steps, then the minute starts.
    QTRY_COMPARE_WITH_TIMEOUT(news.y(), workArea.y() + workArea.height() - news.height(), 10'000);
    QVERIFY(!news.IsSliding());
    QVERIFY(news.IsFadeTimerActive());
    QCOMPARE(news.FadeInterval(), 60'000);
    QCOMPARE(news.Alpha(), 255);
  }

  void aPageWithoutABodyIsNeverShown_data() {
    QTest::addColumn<QString>("name");
    QTest::addColumn<QByteArray>("content");

    QTest::newRow("svg data") << QString() << QByteArray(
        "data:image/svg+xml,<svg xmlns='http://www.w3.org/2000/svg' width='10' height='10'/>");
    QTest::newRow("svg file") << QStringLiteral("news.svg")
                              << QByteArray("<svg xmlns=\"http://www.w3.org/2000/svg\"/>\n");
    QTest::newRow("missing file") << QStringLiteral("gone.html") << QByteArray();
  }

  void aPageWithoutABodyIsNeverShown() {
    QFETCH(QString, name);
    QFETCH(QByteArray, content);

    QTemporaryDir dir;
    QVERIFY(dir.isValid());
    QString url = QString::fromUtf8(content);
    if (!name.isEmpty()) {
      url = content.isEmpty() ? QUrl::fromLocalFile(dir.filePath(name)).toString()
                              : WritePage(dir, name, content);
    }

    Tfrmnew news;
    QSignalSpy shown(&news, &Tfrmnew::NewsShown);
    QSignalSpy rejected(&news, &Tfrmnew::NewsRejected);
    bool everVisible = false;
    connect(news.Page(), &QWebEnginePage::loadFinished, this,
            [&] { everVisible = everVisible || news.isVisible(); });
    news.ShowNews(url, 5, 0, 0, Desktop);
    QTRY_COMPARE_WITH_TIMEOUT(rejected.count(), 1, 30'000);
    QTest::qWait(200);
    QCOMPARE(shown.count(), 0);
    QVERIFY(!everVisible);
    QVERIFY(!news.isVisible());
    QVERIFY(!news.IsSliding());
    QVERIFY(!news.IsFadeTimerActive());
  }

  // Under Xvfb: the news slid in over a plain desktop, for a person to look at.
  void screenshot() {
    const QString out = qEnvironmentVariable("RESTOVO_SCREENSHOTS");
    if (QGuiApplication::platformName() != QLatin1StringView("xcb") || out.isEmpty())
      QSKIP("screenshots are taken on X11 with RESTOVO_SCREENSHOTS set");
    QVERIFY(QDir().mkpath(out));

    QWidget desktop(nullptr, Qt::FramelessWindowHint);
    desktop.setStyleSheet(QStringLiteral("background: #5a7d9a;"));
    desktop.setGeometry(desktop.screen()->geometry());
    desktop.show();
    QVERIFY(QTest::qWaitForWindowExposed(&desktop));

    QTemporaryDir dir;
    QVERIFY(dir.isValid());
    const QString url = WritePage(dir, QStringLiteral("news.html"), StyledNews);
    Tfrmnew news;
    QSignalSpy shown(&news, &Tfrmnew::NewsShown);
    const QRect workArea = news.screen()->availableGeometry();
    news.ShowNews(url, 1, 0, 0, workArea);
    QTRY_COMPARE_WITH_TIMEOUT(shown.count(), 1, 30'000);
    SlideToTheEnd(news);
    QCOMPARE(news.y(), workArea.y() + workArea.height() - news.height());
    QVERIFY(QTest::qWaitForWindowExposed(&news));
    QTest::qWait(1500);

    const QPixmap shot = news.screen()->grabWindow(0);
    QVERIFY(!shot.isNull());
    QVERIFY(shot.save(QDir(out).filePath(QStringLiteral("news.png"))));
  }
};

int main(int argc, char** argv) {
  PrepareWebEngine();
  // No GPU in the test machines: Chromium draws in software.
  if (!qEnvironmentVariableIsSet("QTWEBENGINE_CHROMIUM_FLAGS"))
    qputenv("QTWEBENGINE_CHROMIUM_FLAGS", "--disable-gpu");
  QApplication app(argc, argv);
  NewsWindowTest test;
  QTEST_SET_MAIN_SOURCE_PATH
  return QTest::qExec(&test, argc, argv);
}

#include "NewsWindowTest.moc"
