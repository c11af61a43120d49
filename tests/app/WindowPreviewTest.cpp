// The preview panel in the window, on a FAT volume made with mtools whose files were all
// deleted: pictures, UTF-16 text, a blank file, a picture whose data is garbage, a text
// larger than the 10 MiB read, and the time a large camera photo takes.
#include <QBuffer>
#include <QElapsedTimer>
#include <QImage>
#include <QLabel>
#include <QPainter>
#include <QRandomGenerator>
#include <QTableView>
#include <QTreeView>
#include <QTemporaryDir>
#include <QToolButton>
#include <QtTest>

#include "FileListModel.h"
#include "PreviewPanel.h"
#include "Translation.h"
#include "Umain.h"
#include "AppTestSupport.h"

using namespace restovo;
using namespace restovo::test;

namespace {

QByteArray Encoded(const QImage& image, const char* format, int quality = -1) {
  QByteArray bytes;
  QBuffer buffer(&bytes);
  buffer.open(QIODevice::WriteOnly);
  image.save(&buffer, format, quality);
  return bytes;
}

QImage Gradient(int width, int height, QImage::Format format = QImage::Format_RGB32) {
  QImage image(width, height, format);
  image.fill(Qt::transparent);
  QPainter p(&image);
  QLinearGradient g(0, 0, width, height);
  g.setColorAt(0, QColor(20, 120, 200));
  g.setColorAt(1, QColor(240, 180, 40, 200));
  p.fillRect(image.rect(), g);
  return image;
}

// A photo as a camera writes it: millions of pixels of fine detail, about 10 MiB.
QByteArray CameraPhoto() {
  QImage image(3700, 2775, QImage::Format_RGB32);
  QRandomGenerator random(7);
  for (int y = 0; y < image.height(); ++y) {
    auto* line = reinterpret_cast<quint32*>(image.scanLine(y));
    for (int x = 0; x < image.width(); ++x) line[x] = 0xFF000000u | (random.generate() & 0xFFFFFFu);
  }
  return Encoded(image, "JPEG", 92);
}

QByteArray Utf16Le(const QString& text) {
  QByteArray b("\xFF\xFE", 2);
  for (QChar c : text) {
    b.append(static_cast<char>(c.unicode() & 0xFF));
    b.append(static_cast<char>(c.unicode() >> 8));
  }
  return b;
}

}  // namespace

class WindowPreviewTest : public QObject {
  Q_OBJECT

  QTemporaryDir Dir;
  QString Image;
  qsizetype PhotoBytes = 0;

  int Row(TFrmFRMain& w, const QString& name) {
    for (int r = 0; r < w.FileListModel()->rowCount(); ++r)
      if (QString::fromStdString(w.FileListModel()->Item(r)->Name) == name) return r;
    return -1;
  }
  void Click(TFrmFRMain& w, const QString& name) {
    const int row = Row(w, name);
    QVERIFY2(row >= 0, qPrintable(name));
    w.FileList()->setCurrentIndex(w.FileListModel()->index(row, 0));
  }

 private slots:
  void initTestCase() {
    ListLanguages();
    SetLanguage(QStringLiteral("English"));
    Image = Dir.filePath("preview.img");
    if (!RunTool("mkfs.fat", {"-C", Image, "65536"})) QSKIP("mkfs.fat is not available");
    const QByteArray photo = CameraPhoto();
    PhotoBytes = photo.size();
    QByteArray big;
    for (int i = 0; big.size() < 20 * 1024 * 1024; ++i) big += "Line " + QByteArray::number(i) + " of a long log\n";
    const QList<QPair<QString, QByteArray>> files = {
        {"Photo from the trip.JPG", Encoded(Gradient(800, 600), "JPEG")},
        {"Holiday portrait.jpeg", Encoded(Gradient(300, 900), "JPEG")},
        {"Picture with alpha.png", Encoded(Gradient(64, 48, QImage::Format_ARGB32), "PNG")},
        {"Letter from Koeln.txt", Utf16Le(QStringLiteral("Grüße aus Köln\r\nBis bald"))},
        {"Blank lines only.txt", QByteArray("  \r\n\t \n   ")},
        {"Broken picture.png", QByteArray(5000, '\x5A')},
        {"Very big log file.log", big},
        {"Camera original.jpg", photo},
    };
    if (!RunTool("mmd", {"-i", Image, "::/Trips 2024"})) QSKIP("mtools is not available");
    for (const auto& [name, content] : files) {
      QFile f(Dir.filePath(name));
      QVERIFY(f.open(QIODevice::WriteOnly) && f.write(content) == content.size());
      f.close();
      QVERIFY(RunTool("mcopy", {"-i", Image, f.fileName(), "::/" + name}));
    }
    // A deleted folder with a deleted file in it.
    QVERIFY(RunTool("mcopy", {"-i", Image, Dir.filePath("Blank lines only.txt"), "::/Trips 2024/Packing list.txt"}));
    QVERIFY(RunTool("mdel", {"-i", Image, "::/Trips 2024/Packing list.txt"}));
    QVERIFY(RunTool("mrd", {"-i", Image, "::/Trips 2024"}));
    for (const auto& [name, content] : files) QVERIFY(RunTool("mdel", {"-i", Image, "::/" + name}));
  }

  void ClickedRowsShowTheirContent() {
    TFrmFRMain w(TestOptions());
    w.resize(1000, 640);
    w.show();
    QCOMPARE(w.OpenImage(Image, true), 1);
    w.btnsearchClick();
    QVERIFY(WaitFor([&] { return !w.IsBusy() && w.FileListModel()->rowCount() > 0; }));
    TPreviewPanel* panel = w.PreviewPanel();
    QLabel* message = panel->MessageLabel();

    // Hidden at first: a click reads nothing.
    QVERIFY(!w.PreviewVisible());
    QCOMPARE(w.PreviewButton()->toolTip(), QStringLiteral("Show preview"));
    Click(w, QStringLiteral("Letter from Koeln.txt"));
    QVERIFY(!message->isVisible() && !panel->ShowsPicture());
    // Shown: the chosen row shows at once, and the hint says what the button does now.
    w.PreviewButton()->click();
    QVERIFY(w.PreviewVisible());
    QCOMPARE(w.PreviewButton()->toolTip(), QStringLiteral("Close preview"));
    QVERIFY(message->isVisible());
    QCOMPARE(message->text(), QStringLiteral("Grüße aus Köln\r\nBis bald"));

    for (const char* name : {"Photo from the trip.JPG", "Holiday portrait.jpeg", "Picture with alpha.png"}) {
      Click(w, QLatin1String(name));
      QVERIFY2(panel->ShowsPicture(), name);
      QVERIFY(!message->isVisible());
      QVERIFY(panel->PictureSize().width() <= panel->width());
    }
    // Fitted into the panel with its proportions: 800 × 600 → 4:3.
    Click(w, QStringLiteral("Photo from the trip.JPG"));
    const QSize shown = panel->PictureSize();
    QVERIFY(shown.width() < 800);
    QVERIFY(qAbs(shown.width() * 3 - shown.height() * 4) <= 4);

    for (const char* name : {"Blank lines only.txt", "Broken picture.png"}) {
      Click(w, QLatin1String(name));
      QVERIFY(!panel->ShowsPicture());
      QVERIFY(message->isVisible());
      QCOMPARE(message->text(), QStringLiteral("No valid preview."));
    }
    // A text larger than what is read shows its beginning.
    Click(w, QStringLiteral("Very big log file.log"));
    QVERIFY(message->text().startsWith(QStringLiteral("Line 0 of a long log\nLine 1 of a long log\n")));
    // A folder row changes nothing (the volume's own list has the folder).
    w.FolderTree()->setCurrentIndex(w.FolderTree()->model()->index(1, 0));
    Click(w, QStringLiteral("Trips 2024"));
    QVERIFY(message->text().startsWith(QStringLiteral("Line 0 of")));

    // Hidden again: the hint turns back, clicks read nothing.
    w.PreviewButton()->click();
    QVERIFY(!w.PreviewVisible());
    QCOMPARE(w.PreviewButton()->toolTip(), QStringLiteral("Show preview"));
  }

  void ALargePhotoIsShownAndItsTimeReported() {
    TFrmFRMain w(TestOptions());
    w.resize(1000, 640);
    w.show();
    QCOMPARE(w.OpenImage(Image, true), 1);
    w.btnsearchClick();
    QVERIFY(WaitFor([&] { return !w.IsBusy() && w.FileListModel()->rowCount() > 0; }));
    w.SetPreviewVisible(true);
    TFileInfo* photo = w.FileListModel()->Item(Row(w, QStringLiteral("Camera original.jpg")));
    QVERIFY(photo);
    // Reported, not asserted: the read and the decoding run on the window's thread.
    QElapsedTimer t;
    t.start();
    std::vector<std::byte> content;
    QVERIFY(w.RecoveryHelper()->ReadToMemory(photo, content, photo->Size));
    const qint64 read = t.restart();
    w.ShowPreview(photo);
    qInfo("A camera photo, %.1f MiB: read alone %lld ms; read and shown %lld ms",
          static_cast<double>(PhotoBytes) / 1048576.0, read, t.elapsed());
    QVERIFY(w.PreviewPanel()->ShowsPicture());
  }
};

QTEST_MAIN(WindowPreviewTest)
#include "WindowPreviewTest.moc"
