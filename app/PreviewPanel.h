// The preview panel at the right of the file list: shows the beginning of a found
// file's content, as a picture or as text, without restoring it. The window reads the
// content (at most its first 10 MiB) and hands it over; the panel decodes it on the
// main thread, so every route here stays cheap even for the largest content.
#pragma once

#include <QImage>
#include <QString>
#include <QWidget>
#include <cstddef>
#include <vector>

class QLabel;

namespace restovo {

class TPreviewPanel : public QWidget {
  Q_OBJECT

 public:
  explicit TPreviewPanel(QWidget* parent = nullptr);

  // ext is a lower-cased extension with its dot (".png"), as PreviewExtension gives it.
  static bool IsPictureExtension(const QString& ext);
  // The extension of a file name from its last ".", dot included, with A-Z lowered
  // (other letters are kept); empty when the name has no dot.
  static QString PreviewExtension(const QString& name);
  // Text by its first two bytes: FF FE UTF-16LE, FE FF UTF-16BE (a trailing odd byte is
  // dropped), EF BB or a first byte of 0x80 and above UTF-8, anything else one
  // character per byte (Latin-1). A byte order mark is not part of the text.
  static QString DecodePreviewText(const std::vector<std::byte>& content);

  // Decodes a picture in the format ext names and shows it fitted into the panel.
  // False for empty content or content the decoder refuses; the panel then shows
  // nothing until the caller says what to show instead.
  bool LoadPreviewImage(const std::vector<std::byte>& content, const QString& ext);
  // Shows the beginning of text, as much as the panel can show, left and top aligned.
  void ShowPreviewText(const QString& text);
  // Shows the "No valid preview." caption in the middle of the panel.
  void ShowNoPreview();
  // The caption in the user's language; replaces the message if it is showing.
  void SetNoPreviewText(const QString& text);
  QString NoPreviewText() const { return noPreviewText_; }

  // A picture extension shows the picture or the message; anything else shows the text,
  // or the message when the text is blank. Content under 2 bytes in the text route
  // leaves the panel as it was.
  void ShowContent(const std::vector<std::byte>& content, const QString& ext);
  // Shows nothing, and lets go of the picture.
  void Clear();

  QLabel* ImageLabel() const { return imgpreview; }
  QLabel* MessageLabel() const { return lblnopre; }
  bool ShowsPicture() const;
  // The shown picture's size in device-independent pixels; empty when none is shown.
  QSize PictureSize() const;

  QSize sizeHint() const override;
  QSize minimumSizeHint() const override;

 protected:
  void resizeEvent(QResizeEvent* event) override;

 private:
  QRect ContentArea() const;
  // The device-independent area a picture may fill.
  QSize PictureBox() const;
  void ShowLabel(const QString& text, bool message);
  void DropPicture();
  void ShowPicture();
  void PlaceChildren();

  QLabel* imgpreview = nullptr;
  QLabel* lblnopre = nullptr;
  QString noPreviewText_;
  bool showsMessage_ = false;
  // The decoded picture, at most a little larger than the panel needs, kept so that a
  // wider panel is filled again without the content.
  QImage picture_;
};

}  // namespace restovo
