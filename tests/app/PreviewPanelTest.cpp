// The preview panel: pictures decoded and fitted by extension, text by its byte order
// mark, the "No valid preview." message for what cannot be shown, and the cost of the
// largest content the window hands over (10 MiB).
#include <QBuffer>
#include <QElapsedTimer>
#include <QImageWriter>
#include <QLabel>
#include <QPixmap>
#include <QRandomGenerator>
#include <QVBoxLayout>
#include <QtTest>
#include <algorithm>
#include <cstddef>
#include <memory>
#include <vector>

#include "PreviewPanel.h"

using namespace restovo;

#if defined(__SANITIZE_ADDRESS__)
// This toolchain's leak checker crashes at exit while it walks the thread-local storage
// of libraries loaded with dlopen, here libjpeg behind Qt's JPEG plugin. Leaving that
// storage untracked keeps the leak check itself.
extern "C" const char* __asan_default_options() { return "intercept_tls_get_addr=0"; }
#endif

namespace {

constexpr qsizetype kMaxContent = 10 * 1024 * 1024;

std::vector<std::byte> Bytes(const QByteArray& data) {
  std::vector<std::byte> v(static_cast<std::size_t>(data.size()));
  std::transform(data.cbegin(), data.cend(), v.begin(), [](char c) { return static_cast<std::byte>(c); });
  return v;
}

QByteArray Encoded(const QImage& image, const char* format, int quality = -1) {
  QByteArray data;
  QBuffer buffer(&data);
  buffer.open(QIODevice::WriteOnly);
  QImageWriter writer(&buffer, format);
  writer.setQuality(quality);
  if (!writer.write(image)) qWarning() << "cannot write" << format << writer.errorString();
  return data;
}

// Left half red, right half blue: shows which way round a picture came out.
QImage TwoColours(QSize size) {
  QImage image(size, QImage::Format_RGB32);
  image.fill(Qt::blue);
  for (int y = 0; y < size.height(); ++y)
    for (int x = 0; x < size.width() / 2; ++x) image.setPixel(x, y, qRgb(255, 0, 0));
  return image;
}

// A 1×1 GIF of two frames, red then blue (no encoder for GIF comes with Qt).
QByteArray TwoFrameGif() {
  const unsigned char gif[] = {
      'G', 'I', 'F', '8', '9', 'a', 0x01, 0x00, 0x01, 0x00, 0x80, 0x00, 0x00,  // screen, 2 colours
      0xFF, 0x00, 0x00, 0x00, 0x00, 0xFF,                                      // red, blue
      0x2C, 0x00, 0x00, 0x00, 0x00, 0x01, 0x00, 0x01, 0x00, 0x00,              // frame 1
      0x02, 0x02, 0x44, 0x01, 0x00,                                            // LZW: colour 0
      0x2C, 0x00, 0x00, 0x00, 0x00, 0x01, 0x00, 0x01, 0x00, 0x00,              // frame 2
      0x02, 0x02, 0x4C, 0x01, 0x00,                                            // LZW: colour 1
      0x3B};
  return QByteArray(reinterpret_cast<const char*>(gif), sizeof gif);
}

// The JPEG with an Exif block saying how the camera was held (6: turn 90° clockwise).
QByteArray WithOrientation(const QByteArray& jpeg, quint8 orientation) {
  const unsigned char app1[] = {0xFF, 0xE1, 0x00, 34,  'E',  'x',  'i',  'f',  0,    0,    'I',  'I',
                                0x2A, 0x00, 0x08, 0x00, 0x00, 0x00, 0x01, 0x00, 0x12, 0x01, 0x03, 0x00,
                                0x01, 0x00, 0x00, 0x00, orientation, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00};
  QByteArray out = jpeg;
  out.insert(2, reinterpret_cast<const char*>(app1), sizeof app1);
  return out;
}

QColor ShownPixel(const TPreviewPanel& panel, double fx, double fy) {
  const QImage shown = panel.ImageLabel()->pixmap().toImage();
  return shown.pixelColor(std::min(shown.width() - 1, int(fx * shown.width())),
                          std::min(shown.height() - 1, int(fy * shown.height())));
}

bool Near(const QColor& a, const QColor& b) {
  return std::abs(a.red() - b.red()) < 60 && std::abs(a.green() - b.green()) < 60 &&
         std::abs(a.blue() - b.blue()) < 60;
}

// The shown picture fits the panel and keeps the source's proportions (to a pixel).
bool FitsWithAspect(const TPreviewPanel& panel, QSize source) {
  const QSize shown = panel.PictureSize();
  if (shown.isEmpty() || shown.width() > panel.width() || shown.height() > panel.height()) return false;
  const qint64 skew = qint64(shown.width()) * source.height() - qint64(shown.height()) * source.width();
  return std::abs(skew) <= std::max(source.width(), source.height());
}

// The picture uses the room it has: its width or its height reaches the panel's edge
// but for the margins.
bool FillsPanel(const TPreviewPanel& panel) {
  const QSize shown = panel.PictureSize();
  return shown.width() >= panel.width() - 24 || shown.height() >= panel.height() - 24;
}

void ExpectMessage(const TPreviewPanel& panel, const QString& caption = QStringLiteral("No valid preview.")) {
  QVERIFY(!panel.ShowsPicture());
  QVERIFY(panel.ImageLabel()->isHidden());
  QVERIFY(!panel.MessageLabel()->isHidden());
  QCOMPARE(panel.MessageLabel()->text(), caption);
  QCOMPARE(panel.MessageLabel()->alignment(), Qt::Alignment(Qt::AlignCenter));
  QVERIFY(panel.MessageLabel()->property("muted").toBool());
}

void ExpectText(const TPreviewPanel& panel, const QString& text) {
  QVERIFY(!panel.ShowsPicture());
  QVERIFY(panel.ImageLabel()->isHidden());
  QVERIFY(!panel.MessageLabel()->isHidden());
  QCOMPARE(panel.MessageLabel()->text(), text);
  QCOMPARE(panel.MessageLabel()->alignment(), Qt::AlignLeft | Qt::AlignTop);
  QVERIFY(!panel.MessageLabel()->property("muted").toBool());
}

// 6000×4000, a gradient under fine noise: a camera photo's size and bytes per pixel.
QByteArray CameraSizedJpeg() {
  QImage image(6000, 4000, QImage::Format_RGB32);
  quint32 s = 0x2545F491;
  for (int y = 0; y < image.height(); ++y) {
    auto* line = reinterpret_cast<QRgb*>(image.scanLine(y));
    for (int x = 0; x < image.width(); ++x) {
      s ^= s << 13;
      s ^= s >> 17;
      s ^= s << 5;
      const int n = int(s % 33) - 16;
      line[x] = qRgb(std::clamp(x / 24 + n, 0, 255), std::clamp(y / 16 + n, 0, 255),
                     std::clamp(128 + int((s >> 8) % 33) - 16, 0, 255));
    }
  }
  return Encoded(image, "jpeg", 92);
}

}  // namespace

class PreviewPanelTest : public QObject {
  Q_OBJECT

  std::unique_ptr<TPreviewPanel> panel;

 private slots:
  void init() {
    panel = std::make_unique<TPreviewPanel>();
    panel->resize(180, 400);
    panel->show();
    QVERIFY(QTest::qWaitForWindowExposed(panel.get()));
  }
  void cleanup() { panel.reset(); }

  void startsEmpty() {
    QCOMPARE(panel->objectName(), QStringLiteral("pnlpreview"));
    QCOMPARE(panel->ImageLabel()->objectName(), QStringLiteral("imgpreview"));
    QCOMPARE(panel->MessageLabel()->objectName(), QStringLiteral("lblnopre"));
    QVERIFY(panel->ImageLabel()->isHidden());
    QVERIFY(panel->MessageLabel()->isHidden());
    QCOMPARE(panel->MessageLabel()->text(), QStringLiteral("No valid preview."));
    QVERIFY(panel->MessageLabel()->wordWrap());
  }

  void extensionOfName_data() {
    QTest::addColumn<QString>("name");
    QTest::addColumn<QString>("ext");
    QTest::addColumn<bool>("picture");
    QTest::newRow("jpg upper") << "DSC0001.JPG" << ".jpg" << true;
    QTest::newRow("jpeg mixed") << "Scan.Jpeg" << ".jpeg" << true;
    QTest::newRow("png") << "shot.png" << ".png" << true;
    QTest::newRow("bmp") << "paint.BMP" << ".bmp" << true;
    QTest::newRow("ico") << "favicon.ico" << ".ico" << true;
    QTest::newRow("gif") << "anim.Gif" << ".gif" << true;
    QTest::newRow("non-ASCII name") << "ÉTÉ.PNG" << ".png" << true;
    QTest::newRow("last dot") << "photo.jpg.txt" << ".txt" << false;
    QTest::newRow("two parts") << "backup.TAR.GZ" << ".gz" << false;
    QTest::newRow("other picture format") << "scan.tif" << ".tif" << false;
    QTest::newRow("no dot") << "README" << "" << false;
    QTest::newRow("dot only at start") << ".bashrc" << ".bashrc" << false;
    QTest::newRow("dot at end") << "name." << "." << false;
    QTest::newRow("only A-Z lowered") << "x.ÄPNG" << ".Äpng" << false;
  }
  void extensionOfName() {
    QFETCH(QString, name);
    QFETCH(QString, ext);
    QFETCH(bool, picture);
    QCOMPARE(TPreviewPanel::PreviewExtension(name), ext);
    QCOMPARE(TPreviewPanel::IsPictureExtension(ext), picture);
  }

  void showsPicture_data() {
    QTest::addColumn<QString>("name");
    QTest::addColumn<QByteArray>("content");
    QTest::addColumn<QSize>("size");
    QTest::addColumn<QColor>("left");
    QTest::addColumn<QColor>("right");
    const QImage source = TwoColours(QSize(60, 40));
    QTest::newRow("png") << "a.png" << Encoded(source, "png") << QSize(60, 40) << QColor(Qt::red) << QColor(Qt::blue);
    QTest::newRow("jpg") << "b.jpg" << Encoded(source, "jpeg", 95) << QSize(60, 40) << QColor(Qt::red)
                         << QColor(Qt::blue);
    QTest::newRow("JPEG upper case") << "C.JPEG" << Encoded(source, "jpeg", 95) << QSize(60, 40) << QColor(Qt::red)
                                     << QColor(Qt::blue);
    QTest::newRow("bmp") << "d.bmp" << Encoded(source, "bmp") << QSize(60, 40) << QColor(Qt::red) << QColor(Qt::blue);
    QTest::newRow("ico") << "e.ico" << Encoded(TwoColours(QSize(16, 16)), "ico") << QSize(16, 16) << QColor(Qt::red)
                         << QColor(Qt::blue);
    QTest::newRow("gif, first frame") << "f.gif" << TwoFrameGif() << QSize(1, 1) << QColor(Qt::red)
                                      << QColor(Qt::red);
  }
  void showsPicture() {
    QFETCH(QString, name);
    QFETCH(QByteArray, content);
    QFETCH(QSize, size);
    QFETCH(QColor, left);
    QFETCH(QColor, right);
    panel->ShowContent(Bytes("some text first"), QStringLiteral(".txt"));
    panel->ShowContent(Bytes(content), TPreviewPanel::PreviewExtension(name));
    QVERIFY(panel->ShowsPicture());
    QVERIFY(!panel->ImageLabel()->isHidden());
    QVERIFY(panel->MessageLabel()->isHidden());
    // Smaller than the panel: shown at its own size, also once the panel is wider.
    QCOMPARE(panel->PictureSize(), size);
    panel->resize(500, 600);
    QCOMPARE(panel->PictureSize(), size);
    QVERIFY2(Near(ShownPixel(*panel, 0.1, 0.5), left), qPrintable(ShownPixel(*panel, 0.1, 0.5).name()));
    QVERIFY2(Near(ShownPixel(*panel, 0.9, 0.5), right), qPrintable(ShownPixel(*panel, 0.9, 0.5).name()));
  }

  void bigPictureFitsPanel_data() {
    QTest::addColumn<QByteArray>("content");
    QTest::addColumn<QString>("ext");
    QTest::addColumn<QSize>("source");
    QTest::newRow("wide png") << Encoded(TwoColours(QSize(1600, 800)), "png") << ".png" << QSize(1600, 800);
    QTest::newRow("tall png") << Encoded(TwoColours(QSize(300, 1200)), "png") << ".png" << QSize(300, 1200);
    QTest::newRow("wide jpeg") << Encoded(TwoColours(QSize(3000, 2000)), "jpeg") << ".jpg" << QSize(3000, 2000);
    QTest::newRow("tall bmp") << Encoded(TwoColours(QSize(500, 2500)), "bmp") << ".bmp" << QSize(500, 2500);
  }
  void bigPictureFitsPanel() {
    QFETCH(QByteArray, content);
    QFETCH(QString, ext);
    QFETCH(QSize, source);
    panel->resize(180, 300);
    QVERIFY(panel->LoadPreviewImage(Bytes(content), ext));
    QVERIFY(FitsWithAspect(*panel, source));
    QVERIFY(FillsPanel(*panel));
    const QSize narrow = panel->PictureSize();
    QVERIFY(Near(ShownPixel(*panel, 0.1, 0.5), Qt::red));
    QVERIFY(Near(ShownPixel(*panel, 0.9, 0.5), Qt::blue));

    // Dragging the splitter refits the picture without the content.
    panel->resize(420, 700);
    QVERIFY(FitsWithAspect(*panel, source));
    QVERIFY(FillsPanel(*panel));
    QVERIFY(panel->PictureSize().width() > narrow.width());
    panel->resize(180, 300);
    QCOMPARE(panel->PictureSize(), narrow);
  }

  void cameraPhotoShownUpright_data() {
    QTest::addColumn<QSize>("stored");
    QTest::newRow("small") << QSize(120, 60);
    QTest::newRow("decoded at reduced scale") << QSize(3000, 1500);
  }
  void cameraPhotoShownUpright() {
    QFETCH(QSize, stored);
    // Stored lying on its side, red on the left; turned clockwise, red is at the top.
    const QByteArray jpeg = WithOrientation(Encoded(TwoColours(stored), "jpeg", 95), 6);
    QVERIFY(panel->LoadPreviewImage(Bytes(jpeg), QStringLiteral(".jpg")));
    QVERIFY(FitsWithAspect(*panel, stored.transposed()));
    QVERIFY(Near(ShownPixel(*panel, 0.5, 0.1), Qt::red));
    QVERIFY(Near(ShownPixel(*panel, 0.5, 0.9), Qt::blue));
  }

  void undecodablePictureShowsMessage_data() {
    QTest::addColumn<QByteArray>("content");
    QTest::addColumn<QString>("ext");
    QByteArray noise(8192, '\0');
    QRandomGenerator random(7);
    for (char& c : noise) c = static_cast<char>(random.bounded(256));
    // A PNG's first cluster survived, the clusters after it were written over.
    const QByteArray png = Encoded(TwoColours(QSize(400, 400)), "png");
    QByteArray overwritten = png.left(64) + noise;
    QTest::newRow("noise as png") << noise << ".png";
    QTest::newRow("png overwritten") << overwritten << ".png";
    QTest::newRow("zeros as jpg") << QByteArray(4096, '\0') << ".jpg";
    QTest::newRow("noise as gif") << noise << ".gif";
    QTest::newRow("noise as ico") << noise << ".ico";
    QTest::newRow("empty png") << QByteArray() << ".png";
  }
  void undecodablePictureShowsMessage() {
    QFETCH(QByteArray, content);
    QFETCH(QString, ext);
    // What was shown before must not stay beside the newly chosen file.
    QVERIFY(panel->LoadPreviewImage(Bytes(Encoded(TwoColours(QSize(50, 50)), "png")), QStringLiteral(".png")));
    QVERIFY(!panel->LoadPreviewImage(Bytes(content), ext));
    QVERIFY(!panel->ShowsPicture());
    QVERIFY(panel->ImageLabel()->isHidden());
    QVERIFY(panel->MessageLabel()->isHidden());

    QVERIFY(panel->LoadPreviewImage(Bytes(Encoded(TwoColours(QSize(50, 50)), "png")), QStringLiteral(".png")));
    panel->ShowContent(Bytes(content), ext);
    ExpectMessage(*panel);
  }

  void decodesText_data() {
    QTest::addColumn<QByteArray>("content");
    QTest::addColumn<QString>("text");
    QTest::newRow("UTF-16LE") << QByteArray("\xFF\xFE" "H\0\xE9\0\x3D\xD8\x00\xDE", 10) << QStringLiteral("Hé😀");
    QTest::newRow("UTF-16LE, odd last byte") << QByteArray("\xFF\xFEH\0i\0!", 7) << QStringLiteral("Hi");
    QTest::newRow("UTF-16LE, mark only") << QByteArray("\xFF\xFE") << QString();
    QTest::newRow("UTF-16BE") << QByteArray("\xFE\xFF\0H\0\xE9\xD8\x3D\xDE\x00", 10) << QStringLiteral("Hé😀");
    QTest::newRow("UTF-16BE, odd last byte") << QByteArray("\xFE\xFF\0H\0i\0", 7) << QStringLiteral("Hi");
    QTest::newRow("UTF-8 with mark") << QByteArray("\xEF\xBB\xBFH\xC3\xA9") << QStringLiteral("Hé");
    QTest::newRow("UTF-8, high first byte") << QByteArray("\xC3\xA9t\xC3\xA9") << QStringLiteral("été");
    QTest::newRow("ASCII") << QByteArray("Hello\r\n\tWorld") << QStringLiteral("Hello\r\n\tWorld");
    QTest::newRow("single-byte") << QByteArray("A\xE9") << QStringLiteral("Aé");
    // The first byte decides: UTF-8 after an ASCII start is read one byte a character.
    QTest::newRow("UTF-8 after ASCII start") << QByteArray("A\xC3\xA9") << QStringLiteral("AÃ©");
    QByteArray everyByte("A");
    QString everyChar(QStringLiteral("A"));
    for (int b = 0; b < 256; ++b) {
      everyByte.append(static_cast<char>(b));
      everyChar.append(QChar(b));
    }
    QTest::newRow("single-byte, all 256 incl. NUL") << everyByte << everyChar;
  }
  void decodesText() {
    QFETCH(QByteArray, content);
    QFETCH(QString, text);
    QCOMPARE(TPreviewPanel::DecodePreviewText(Bytes(content)), text);
  }

  void showsText() {
    QVERIFY(panel->LoadPreviewImage(Bytes(Encoded(TwoColours(QSize(50, 50)), "png")), QStringLiteral(".png")));
    const QByteArray html = "<html><b>not bold</b>\n<img src=\"x.png\"></html>";
    panel->ShowContent(Bytes(html), QStringLiteral(".html"));
    ExpectText(*panel, QString::fromLatin1(html));
    QCOMPARE(panel->MessageLabel()->textFormat(), Qt::PlainText);

    // A name without an extension takes the text route too.
    panel->ShowContent(Bytes(QByteArray("\xFF\xFEO\0K\0", 6)), QStringLiteral(""));
    ExpectText(*panel, QStringLiteral("OK"));
  }

  void blankTextShowsMessage_data() {
    QTest::addColumn<QByteArray>("content");
    QTest::newRow("spaces, tabs, line breaks") << QByteArray(" \t\r\n \n\t ");
    QTest::newRow("zero bytes") << QByteArray(4096, '\0');
    QTest::newRow("UTF-16LE spaces") << QByteArray("\xFF\xFE \0\n\0\t\0", 8);
    QTest::newRow("UTF-8 mark and line break") << QByteArray("\xEF\xBB\xBF\r\n");
    QTest::newRow("control characters") << QByteArray("\x01\x02\x1B\x7F\x85\x9F");
  }
  void blankTextShowsMessage() {
    QFETCH(QByteArray, content);
    panel->ShowContent(Bytes("text before"), QStringLiteral(".txt"));
    panel->ShowContent(Bytes(content), QStringLiteral(".txt"));
    ExpectMessage(*panel);
  }

  void tooShortTextLeavesPanel_data() {
    QTest::addColumn<bool>("pictureBefore");
    QTest::addColumn<QByteArray>("content");
    QTest::newRow("text, then nothing") << false << QByteArray();
    QTest::newRow("text, then one byte") << false << QByteArray("x");
    QTest::newRow("picture, then one byte") << true << QByteArray("x");
  }
  void tooShortTextLeavesPanel() {
    QFETCH(bool, pictureBefore);
    QFETCH(QByteArray, content);
    if (pictureBefore)
      panel->ShowContent(Bytes(Encoded(TwoColours(QSize(50, 50)), "png")), QStringLiteral(".png"));
    else
      panel->ShowContent(Bytes("earlier file"), QStringLiteral(".txt"));
    panel->ShowContent(Bytes(content), QStringLiteral(".txt"));
    if (pictureBefore) {
      QVERIFY(panel->ShowsPicture());
      QCOMPARE(panel->PictureSize(), QSize(50, 50));
      QVERIFY(panel->MessageLabel()->isHidden());
    } else {
      ExpectText(*panel, QStringLiteral("earlier file"));
    }
  }

  void noPreviewCaptionFollowsLanguage() {
    panel->ShowNoPreview();
    panel->SetNoPreviewText(QStringLiteral("Keine gültige Vorschau."));
    ExpectMessage(*panel, QStringLiteral("Keine gültige Vorschau."));

    panel->ShowPreviewText(QStringLiteral("file text"));
    panel->SetNoPreviewText(QStringLiteral("Aucun aperçu valide."));
    ExpectText(*panel, QStringLiteral("file text"));
    panel->ShowContent(Bytes("  \r\n"), QStringLiteral(".txt"));
    ExpectMessage(*panel, QStringLiteral("Aucun aperçu valide."));
  }

  void clearShowsNothing() {
    panel->ShowContent(Bytes(Encoded(TwoColours(QSize(50, 50)), "png")), QStringLiteral(".png"));
    panel->Clear();
    QVERIFY(!panel->ShowsPicture());
    QVERIFY(panel->PictureSize().isEmpty());
    QVERIFY(panel->ImageLabel()->isHidden());
    QVERIFY(panel->MessageLabel()->isHidden());

    panel->ShowContent(Bytes("text"), QStringLiteral(".txt"));
    panel->Clear();
    QVERIFY(panel->ImageLabel()->isHidden());
    QVERIFY(panel->MessageLabel()->isHidden());
  }

  void longTextShowsItsBeginningOnly() {
    // Inside a window, as in the main window's splitter: the text must not ask for room.
    QWidget window;
    auto* layout = new QVBoxLayout(&window);
    auto* inWindow = new TPreviewPanel(&window);
    layout->addWidget(inWindow);
    window.resize(220, 300);
    window.show();
    QVERIFY(QTest::qWaitForWindowExposed(&window));

    // "a", then surrogate pairs only: a cut after an even count of characters splits one.
    QByteArray content("\xFF\xFE" "a\0", 4);
    while (content.size() + 4 <= kMaxContent) content.append("\x3D\xD8\x00\xDE", 4);
    const QString text = TPreviewPanel::DecodePreviewText(Bytes(content));
    inWindow->ShowContent(Bytes(content), QStringLiteral(".txt"));
    const QString shown = inWindow->MessageLabel()->text();
    QVERIFY(!shown.isEmpty());
    QVERIFY(shown.size() < 20000);
    QVERIFY(text.startsWith(shown));
    QVERIFY(!shown.back().isHighSurrogate());
    QCoreApplication::processEvents();
    QCOMPARE(window.size(), QSize(220, 300));
    QVERIFY(window.minimumSizeHint().height() < 300);

    // The whole text handed over directly is cut the same way.
    inWindow->ShowPreviewText(text);
    QCOMPARE(inWindow->MessageLabel()->text(), shown);
  }

  // Timings, reported and never asserted: the window decodes on the main thread.
  void cameraSizedJpegTime() {
    const QByteArray jpeg = CameraSizedJpeg();
    QVERIFY2(jpeg.size() > 8 * 1024 * 1024 && jpeg.size() <= kMaxContent, qPrintable(QString::number(jpeg.size())));
    const std::vector<std::byte> content = Bytes(jpeg);
    QElapsedTimer timer;
    timer.start();
    panel->ShowContent(content, QStringLiteral(".jpg"));
    const qint64 ms = timer.elapsed();
    QVERIFY(panel->ShowsPicture());
    QVERIFY(FitsWithAspect(*panel, QSize(6000, 4000)));
    QVERIFY(FillsPanel(*panel));
    timer.start();
    panel->resize(400, 600);
    const qint64 resizeMs = timer.elapsed();
    QVERIFY(FitsWithAspect(*panel, QSize(6000, 4000)));
    qInfo("6000x4000 JPEG of %.1f MiB: shown in %lld ms, refitted to a wider panel in %lld ms",
          double(jpeg.size()) / 1048576.0, ms, resizeMs);
  }

  void textDecodeTime_data() {
    QTest::addColumn<QByteArray>("unit");
    QTest::addColumn<QByteArray>("mark");
    QTest::newRow("single-byte") << QByteArray("Lorem ipsum dolor sit amet, \xE9t\xE9.\r\n") << QByteArray();
    QTest::newRow("UTF-8") << QByteArray("Lorem ipsum dolor sit amet, \xC3\xA9t\xC3\xA9.\r\n") << QByteArray("\xEF\xBB\xBF");
    QTest::newRow("UTF-16LE") << QByteArray("L\0o\0r\0e\0m\0 \0\xE9\0t\0\r\0\n\0", 20) << QByteArray("\xFF\xFE");
    QTest::newRow("UTF-16BE") << QByteArray("\0L\0o\0r\0e\0m\0 \0\xE9\0t\0\r\0\n", 20) << QByteArray("\xFE\xFF");
  }
  void textDecodeTime() {
    QFETCH(QByteArray, unit);
    QFETCH(QByteArray, mark);
    QByteArray data = mark;
    while (data.size() + unit.size() <= kMaxContent) data.append(unit);
    const std::vector<std::byte> content = Bytes(data);
    QElapsedTimer timer;
    timer.start();
    const QString text = TPreviewPanel::DecodePreviewText(content);
    const qint64 decodeMs = timer.elapsed();
    timer.start();
    panel->ShowContent(content, QStringLiteral(".txt"));
    const qint64 showMs = timer.elapsed();
    QVERIFY(text.startsWith(QStringLiteral("L")));
    QVERIFY(text.size() > 4 * 1024 * 1024);
    QVERIFY(!panel->MessageLabel()->isHidden());
    qInfo("%.1f MiB of %s text: decoded in %lld ms, shown in %lld ms", double(data.size()) / 1048576.0,
          QTest::currentDataTag(), decodeMs, showMs);
  }
};

QTEST_MAIN(PreviewPanelTest)
#include "PreviewPanelTest.moc"
