#include <QApplication>
#include <QComboBox>
#include <QHeaderView>
#include <QLineEdit>
#include <QMenu>
#include <QProgressBar>
#include <QPushButton>
#include <QScrollBar>
#include <QSplitter>
#include <QTest>
#include <QTreeView>

#include "RestovoStyle.h"

using namespace restovo;

namespace {

QStringList warnings;

void CollectWarnings(QtMsgType type, const QMessageLogContext&, const QString& message) {
  if (type != QtDebugMsg && type != QtInfoMsg) warnings << message;
}

int MaxAlpha(const QImage& image) {
  int best = 0;
  for (int y = 0; y < image.height(); ++y) {
    for (int x = 0; x < image.width(); ++x) best = qMax(best, qAlpha(image.pixel(x, y)));
  }
  return best;
}

}  // namespace

class StyleTest : public QObject {
  Q_OBJECT

 private slots:
  void iconsAreDrawnAtEverySize_data();
  void iconsAreDrawnAtEverySize();
  void unknownIconIsNull();
  void tintedIconsAreOneColour();
  void disabledIconsAreFaded();
  void stylesheetAppliesWithoutWarnings();
  void primaryButtonsAreFilledWithTheAccent();
  void callersFontStaysInForce();
};

void StyleTest::iconsAreDrawnAtEverySize_data() {
  QTest::addColumn<QString>("name");
  // The names the windows ask for; a renamed or missing SVG must fail here.
  for (const char* name :
       {"logo", "drive-removable", "drive-fixed", "drive-image", "folder", "file", "search",
        "preview", "restore", "open-image", "clear", "window-menu", "window-minimize",
        "window-maximize", "window-restore", "window-close", "msg-warning", "msg-error",
        "msg-information", "msg-question", "type-picture", "type-audio", "type-video",
        "type-document", "type-archive", "type-mail"}) {
    QTest::newRow(name) << QString::fromLatin1(name);
  }
}

void StyleTest::iconsAreDrawnAtEverySize() {
  QFETCH(QString, name);
  const QIcon icon = RestovoIcon(name);
  QVERIFY(!icon.isNull());
  QCOMPARE(RestovoIcon(name).cacheKey(), icon.cacheKey());
  QVERIFY(!RestovoIconPath(name).isEmpty());
  for (const int size : {16, 24, 48}) {
    const QImage image = icon.pixmap(QSize(size, size)).toImage();
    QCOMPARE(image.size(), QSize(size, size));
    // A thin diagonal never covers a whole pixel; anything fainter is a broken drawing.
    QVERIFY2(MaxAlpha(image) >= 150, qPrintable(QStringLiteral("nothing solid at %1 px").arg(size)));
  }
  // Drawn for the device pixels, not scaled up from a small bitmap.
  const QPixmap sharp = icon.pixmap(QSize(24, 24), 2.0);
  QCOMPARE(sharp.size(), QSize(48, 48));
  QCOMPARE(sharp.devicePixelRatio(), 2.0);
}

void StyleTest::unknownIconIsNull() {
  QVERIFY(RestovoIcon(u"no-such-icon").isNull());
  QVERIFY(RestovoIcon(u"").isNull());
  QVERIFY(RestovoIconPath(u"../style/restovo").isEmpty());
}

void StyleTest::tintedIconsAreOneColour() {
  const QImage white = RestovoIcon(u"search", Qt::white).pixmap(QSize(32, 32)).toImage();
  const QImage plain = RestovoIcon(u"search").pixmap(QSize(32, 32)).toImage();
  int drawn = 0;
  for (int y = 0; y < 32; ++y) {
    for (int x = 0; x < 32; ++x) {
      const QColor c = white.pixelColor(x, y);
      if (c.alpha() == 0) continue;
      ++drawn;
      QCOMPARE(c.rgb(), QColor(Qt::white).rgb());
      QCOMPARE(c.alpha(), plain.pixelColor(x, y).alpha());
    }
  }
  QVERIFY(drawn > 20);

  const QIcon close = RestovoIconTintedIn(u"window-close", QIcon::Active, Qt::white);
  const QImage normal = close.pixmap(QSize(24, 24), QIcon::Normal).toImage();
  const QImage active = close.pixmap(QSize(24, 24), QIcon::Active).toImage();
  QCOMPARE(active.pixelColor(12, 12).rgb(), QColor(Qt::white).rgb());
  QVERIFY(normal.pixelColor(12, 12).lightness() < 100);
}

void StyleTest::disabledIconsAreFaded() {
  for (const QIcon& icon : {RestovoIcon(u"restore"), RestovoIcon(u"restore", Qt::white)}) {
    const int normal = MaxAlpha(icon.pixmap(QSize(24, 24), QIcon::Normal).toImage());
    const int disabled = MaxAlpha(icon.pixmap(QSize(24, 24), QIcon::Disabled).toImage());
    QCOMPARE(normal, 255);
    QVERIFY2(disabled > 60 && disabled < 140, qPrintable(QString::number(disabled)));
  }
}

void StyleTest::stylesheetAppliesWithoutWarnings() {
  warnings.clear();
  const QtMessageHandler previous = qInstallMessageHandler(CollectWarnings);
  ApplyRestovoStyle(*qApp);

  // Parse errors only surface when a widget is polished with the sheet.
  QWidget host;
  auto* splitter = new QSplitter(&host);
  auto* tree = new QTreeView(splitter);
  tree->header()->setSortIndicatorShown(true);
  new QComboBox(splitter);
  new QLineEdit(splitter);
  new QProgressBar(splitter);
  new QPushButton(QStringLiteral("OK"), splitter);
  new QScrollBar(splitter);
  QMenu menu(&host);
  menu.addAction(QStringLiteral("Entry"))->setCheckable(true);
  host.resize(600, 300);
  host.show();
  QVERIFY(QTest::qWaitForWindowExposed(&host));
  menu.ensurePolished();
  host.grab();
  qInstallMessageHandler(previous);

  QVERIFY2(warnings.isEmpty(), qPrintable(warnings.join(QLatin1Char('\n'))));
  QVERIFY(!qApp->styleSheet().isEmpty());
  QVERIFY2(!qApp->styleSheet().contains(QLatin1Char('@')), "a colour token was not replaced");
}

void StyleTest::primaryButtonsAreFilledWithTheAccent() {
  ApplyRestovoStyle(*qApp);
  QWidget host;
  auto* button = new QPushButton(QStringLiteral("Search"), &host);
  button->resize(120, 32);
  host.resize(140, 40);
  host.show();
  QVERIFY(QTest::qWaitForWindowExposed(&host));
  const auto fill = [button] { return button->grab().toImage().pixelColor(6, 16); };

  QCOMPARE(fill(), QColor(Qt::white));
  // The property changes after the button was polished, as when the caller marks it late.
  SetPrimary(button);
  QCOMPARE(fill(), QColor(0x2f, 0x6b, 0xd3));
  SetPrimary(button, false);
  QCOMPARE(fill(), QColor(Qt::white));
}

void StyleTest::callersFontStaysInForce() {
  ApplyRestovoStyle(*qApp);
  const QFont before = QApplication::font();
  QFont font(QStringLiteral("DejaVu Serif"));
  font.setPointSize(13);
  QApplication::setFont(font);
  QPushButton button(QStringLiteral("Restore"));
  QComboBox box;
  QTreeView tree;
  for (QWidget* w : {static_cast<QWidget*>(&button), static_cast<QWidget*>(&box),
                     static_cast<QWidget*>(tree.header())}) {
    w->ensurePolished();
    QCOMPARE(w->font().pointSize(), 13);
    QCOMPARE(w->font().family(), QStringLiteral("DejaVu Serif"));
  }
  QApplication::setFont(before);
}

QTEST_MAIN(StyleTest)
#include "StyleTest.moc"
