#include "PreviewPanel.h"

#include <QBuffer>
#include <QByteArray>
#include <QImageReader>
#include <QLabel>
#include <QPixmap>
#include <QResizeEvent>
#include <QtEndian>
#include <algorithm>

#include "RestovoStyle.h"

namespace restovo {

namespace {

constexpr int kMargin = 8;
constexpr int kPreferredWidth = 180;
constexpr int kMinimumWidth = 160;

// More characters than the widest, tallest panel shows; the label lays its text out on
// every paint, so megabytes of text must never reach it.
constexpr qsizetype kShownTextLimit = 4000;
// Bytes that always decode to more than kShownTextLimit characters: a byte order mark,
// at most 3 bytes of UTF-8 per UTF-16 code unit, and a sequence cut at the end.
constexpr qsizetype kShownTextBytes = 3 + 3 * kShownTextLimit + 3;

// The picture is kept at a size that fits at least this square (never above its own
// size), so a panel dragged wider or taller is filled again without decoding anew.
constexpr int kKeptPictureEdge = 1024;
// A JPEG is decoded at 1/2, 1/4 or 1/8 of its size, whichever still covers this square
// (or the panel, when larger). Reading its 10 MiB costs the most and the same at any
// scale; decoding a camera photo to cover 1024 costs about a quarter more.
constexpr int kKeptJpegEdge = 512;

// Qt refuses images above 128 MB by default, which a camera's full-size photo or a big
// PNG exceeds once decoded. The limit is only raised: 0 (none) or a larger one the
// program chose is kept.
constexpr int kAllocationLimitMb = 512;

QByteArray ReaderFormat(const QString& ext) {
  if (ext == u".png") return QByteArrayLiteral("png");
  if (ext == u".bmp") return QByteArrayLiteral("bmp");
  if (ext == u".gif") return QByteArrayLiteral("gif");
  if (ext == u".jpg" || ext == u".jpeg") return QByteArrayLiteral("jpeg");
  if (ext == u".ico") return QByteArrayLiteral("ico");
  return {};
}

void EnsureAllocationLimit() {
  const int limit = QImageReader::allocationLimit();
  if (limit != 0 && limit < kAllocationLimitMb) QImageReader::setAllocationLimit(kAllocationLimitMb);
}

// Fits size into box keeping its aspect ratio; a size that already fits is kept.
QSize FitDown(const QSize& size, const QSize& box) {
  if (size.width() <= box.width() && size.height() <= box.height()) return size;
  return size.scaled(box, Qt::KeepAspectRatio).expandedTo(QSize(1, 1));
}

// The smallest of the JPEG decoder's own scales (1, 1/2, 1/4, 1/8) that still covers
// needed. Asking for exactly that size leaves the decoder no pass of scaling after the
// decoding, and keeps the largest picture that costs no more time.
QSize JpegDecodeSize(const QSize& stored, const QSize& needed) {
  int denominator = 1;
  while (denominator < 8) {
    const int next = 2 * denominator;
    if (stored.width() / next < needed.width() || stored.height() / next < needed.height()) break;
    denominator = next;
  }
  return {stored.width() / denominator, stored.height() / denominator};
}

bool IsBlankChar(QChar c) {
  const char16_t u = c.unicode();
  return u <= 0x20 || (u >= 0x7F && u <= 0x9F) || c.isSpace();
}

QString Utf16Text(const unsigned char* data, qsizetype bytes, bool bigEndian) {
  const qsizetype units = bytes / 2;
  QString text(units, Qt::Uninitialized);
  if (bigEndian)
    qFromBigEndian<char16_t>(data, units, text.data());
  else
    qFromLittleEndian<char16_t>(data, units, text.data());
  return text;
}

QString DecodeText(const unsigned char* data, qsizetype size) {
  if (size >= 2 && data[0] == 0xFF && data[1] == 0xFE) return Utf16Text(data + 2, size - 2, false);
  if (size >= 2 && data[0] == 0xFE && data[1] == 0xFF) return Utf16Text(data + 2, size - 2, true);
  if (size >= 2 && data[0] == 0xEF && data[1] == 0xBB) {
    const qsizetype bom = size >= 3 && data[2] == 0xBF ? 3 : 0;
    return QString::fromUtf8(QByteArrayView(data + bom, size - bom));
  }
  if (size >= 1 && data[0] >= 0x80) return QString::fromUtf8(QByteArrayView(data, size));
  return QString::fromLatin1(QByteArrayView(data, size));
}

bool IsBlank(QStringView text) { return std::all_of(text.cbegin(), text.cend(), IsBlankChar); }

}  // namespace

TPreviewPanel::TPreviewPanel(QWidget* parent) : QWidget(parent), noPreviewText_(QStringLiteral("No valid preview.")) {
  setObjectName(QStringLiteral("pnlpreview"));

  // The children are placed by hand (PlaceChildren): in a layout, a word-wrapped label
  // asks for the height of all its text and would push the window taller.
  imgpreview = new QLabel(this);
  imgpreview->setObjectName(QStringLiteral("imgpreview"));
  imgpreview->setAlignment(Qt::AlignHCenter | Qt::AlignTop);
  imgpreview->hide();

  lblnopre = new QLabel(noPreviewText_, this);
  lblnopre->setObjectName(QStringLiteral("lblnopre"));
  lblnopre->setAlignment(Qt::AlignCenter);
  lblnopre->setWordWrap(true);
  // A found .html or .xml file is shown as its text, never rendered.
  lblnopre->setTextFormat(Qt::PlainText);
  SetStyleFlag(lblnopre, "muted");
  lblnopre->hide();

  PlaceChildren();
}

bool TPreviewPanel::IsPictureExtension(const QString& ext) { return !ReaderFormat(ext).isEmpty(); }

QString TPreviewPanel::PreviewExtension(const QString& name) {
  const qsizetype dot = name.lastIndexOf(QLatin1Char('.'));
  if (dot < 0) return {};
  QString ext = name.mid(dot);
  for (QChar& c : ext)
    if (c >= u'A' && c <= u'Z') c = QChar(c.unicode() + (u'a' - u'A'));
  return ext;
}

QString TPreviewPanel::DecodePreviewText(const std::vector<std::byte>& content) {
  return DecodeText(reinterpret_cast<const unsigned char*>(content.data()), static_cast<qsizetype>(content.size()));
}

bool TPreviewPanel::LoadPreviewImage(const std::vector<std::byte>& content, const QString& ext) {
  lblnopre->hide();
  showsMessage_ = false;
  DropPicture();
  const QByteArray format = ReaderFormat(ext);
  if (content.empty() || format.isEmpty()) return false;

  EnsureAllocationLimit();
  // The reader works on the caller's bytes in place; fromRawData copies nothing.
  QBuffer buffer;
  buffer.setData(QByteArray::fromRawData(reinterpret_cast<const char*>(content.data()),
                                         static_cast<qsizetype>(content.size())));
  if (!buffer.open(QIODevice::ReadOnly)) return false;
  QImageReader reader(&buffer, format);
  reader.setAutoTransform(true);

  // A scaled size lets the JPEG decoder work at 1/2, 1/4 or 1/8 of the photo's size,
  // several times faster than decoding it whole; other formats are decoded whole and
  // scaled after. The stored size is before the camera's rotation, the box after it.
  const QSize stored = reader.size();
  if (stored.isValid() && !stored.isEmpty()) {
    const bool jpeg = format == "jpeg";
    const bool turned = reader.transformation().testFlag(QImageIOHandler::TransformationRotate90);
    const QSize upright = turned ? stored.transposed() : stored;
    const int edge = jpeg ? kKeptJpegEdge : kKeptPictureEdge;
    const QSize box = (QSizeF(PictureBox()) * devicePixelRatioF()).toSize().expandedTo(QSize(edge, edge));
    QSize kept = FitDown(upright, box);
    if (turned) kept.transpose();
    if (jpeg) kept = JpegDecodeSize(stored, kept);
    if (kept != stored) reader.setScaledSize(kept);
  }

  QImage image;
  if (!reader.read(&image) || image.isNull()) return false;
  picture_ = std::move(image);
  ShowPicture();
  return true;
}

void TPreviewPanel::ShowPreviewText(const QString& text) {
  qsizetype shown = std::min(text.size(), kShownTextLimit);
  if (shown < text.size() && shown > 0 && text.at(shown - 1).isHighSurrogate()) --shown;
  ShowLabel(shown < text.size() ? text.left(shown) : text, false);
}

void TPreviewPanel::ShowNoPreview() { ShowLabel(noPreviewText_, true); }

void TPreviewPanel::SetNoPreviewText(const QString& text) {
  noPreviewText_ = text;
  if (showsMessage_) lblnopre->setText(text);
}

void TPreviewPanel::ShowContent(const std::vector<std::byte>& content, const QString& ext) {
  if (IsPictureExtension(ext)) {
    if (!LoadPreviewImage(content, ext)) ShowNoPreview();
    return;
  }
  if (content.size() < 2) return;
  // Only the beginning is shown, and decoding all 10 MiB costs tens of milliseconds (most
  // of it fresh memory for 20 MB of characters). The encoding depends on the first bytes
  // only, so the beginning decodes alone the same; only a blank beginning needs the rest.
  const auto* bytes = reinterpret_cast<const unsigned char*>(content.data());
  const auto size = static_cast<qsizetype>(content.size());
  if (size > kShownTextBytes) {
    // Only the characters that will be shown count: the last ones decoded may come from
    // a sequence cut in two.
    const QString beginning = DecodeText(bytes, kShownTextBytes);
    if (!IsBlank(QStringView(beginning).left(kShownTextLimit))) {
      ShowPreviewText(beginning);
      return;
    }
  }
  const QString text = DecodeText(bytes, size);
  if (IsBlank(text))
    ShowNoPreview();
  else
    ShowPreviewText(text);
}

void TPreviewPanel::Clear() {
  DropPicture();
  lblnopre->hide();
  showsMessage_ = false;
}

bool TPreviewPanel::ShowsPicture() const { return !imgpreview->isHidden() && !picture_.isNull(); }

QSize TPreviewPanel::PictureSize() const {
  if (!ShowsPicture()) return {};
  return imgpreview->pixmap().deviceIndependentSize().toSize();
}

QSize TPreviewPanel::sizeHint() const { return {kPreferredWidth, kPreferredWidth}; }

QSize TPreviewPanel::minimumSizeHint() const { return {kMinimumWidth, 2 * kMargin}; }

void TPreviewPanel::resizeEvent(QResizeEvent* event) {
  QWidget::resizeEvent(event);
  PlaceChildren();
  if (ShowsPicture()) ShowPicture();
}

QRect TPreviewPanel::ContentArea() const {
  return rect().marginsRemoved(QMargins(kMargin, kMargin, kMargin, kMargin));
}

QSize TPreviewPanel::PictureBox() const { return ContentArea().size().expandedTo(QSize(1, 1)); }

void TPreviewPanel::ShowLabel(const QString& text, bool message) {
  DropPicture();
  showsMessage_ = message;
  lblnopre->setAlignment(message ? Qt::AlignCenter : Qt::AlignLeft | Qt::AlignTop);
  // Re-polishing costs more than the text; only a change of role changes the look.
  if (lblnopre->property("muted").toBool() != message) SetStyleFlag(lblnopre, "muted", message);
  lblnopre->setText(text);
  lblnopre->show();
}

void TPreviewPanel::DropPicture() {
  picture_ = QImage();
  imgpreview->clear();
  imgpreview->hide();
}

void TPreviewPanel::ShowPicture() {
  const qreal ratio = devicePixelRatioF();
  const QSize target = FitDown(picture_.size(), (QSizeF(PictureBox()) * ratio).toSize().expandedTo(QSize(1, 1)));
  const QPixmap current = imgpreview->pixmap();
  if (!imgpreview->isHidden() && !current.isNull() && current.size() == target &&
      qFuzzyCompare(current.devicePixelRatio(), ratio))
    return;
  QPixmap pixmap = QPixmap::fromImage(
      target == picture_.size() ? picture_ : picture_.scaled(target, Qt::IgnoreAspectRatio, Qt::SmoothTransformation));
  pixmap.setDevicePixelRatio(ratio);
  imgpreview->setPixmap(pixmap);
  imgpreview->show();
}

void TPreviewPanel::PlaceChildren() {
  const QRect area = ContentArea();
  imgpreview->setGeometry(area);
  lblnopre->setGeometry(area);
}

}  // namespace restovo
