#include "RestovoStyle.h"

#include <QApplication>
#include <QFile>
#include <QHash>
#include <QIconEngine>
#include <QImage>
#include <QPainter>
#include <QPalette>
#include <QPixmap>
#include <QPixmapCache>
#include <QRegularExpression>
#include <QStyle>
#include <QStyleFactory>
#include <QSvgRenderer>
#include <QWidget>

#include <memory>
#include <optional>

namespace restovo {
namespace {

// The stylesheet names its colours as @tokens so that the palette and the sheet share
// one table and the accent is defined once.
struct TColourToken {
  const char* Name;
  const char* Value;
};

constexpr TColourToken kColours[] = {
    {"window", "#f4f5f7"},         {"surface", "#ffffff"},
    {"surface-alt", "#f8f9fa"},    {"header", "#f6f7f9"},
    {"border", "#d5d9df"},         {"border-strong", "#b4bbc5"},
    {"frame", "#bfc5ce"},          {"divider", "#e3e6ea"},
    {"hover", "#eaecef"},          {"pressed", "#dfe2e7"},
    {"text", "#1f2328"},           {"text-muted", "#5d6470"},
    {"text-disabled", "#a3a9b2"},  {"placeholder", "#8b929c"},
    {"disabled-fill", "#eef0f2"},  {"accent", "#2f6bd3"},
    {"accent-hover", "#295fc0"},   {"accent-pressed", "#2353a8"},
    {"accent-disabled", "#a9c2ec"}, {"accent-soft", "#e2ebfb"},
    {"accent-softer", "#eef3fd"},  {"danger", "#d64545"},
    {"danger-pressed", "#b93838"}, {"tooltip", "#2b3038"},
    {"scroll", "#c6cbd3"},         {"scroll-hover", "#a8afb9"},
    {"scroll-pressed", "#8e96a2"},
};

QColor Colour(const char* name) {
  for (const auto& c : kColours) {
    if (qstrcmp(c.Name, name) == 0) return QColor(QLatin1StringView(c.Value));
  }
  return {};
}

QString ExpandTokens(const QString& sheet) {
  static const QRegularExpression token(QStringLiteral("@([a-z][a-z-]*)"));
  QString out;
  out.reserve(sheet.size());
  qsizetype last = 0;
  for (auto it = token.globalMatch(sheet); it.hasNext();) {
    const auto m = it.next();
    out += QStringView(sheet).mid(last, m.capturedStart() - last);
    const QByteArray name = m.captured(1).toLatin1();
    const QColor c = Colour(name.constData());
    if (c.isValid()) {
      out += c.name();
    } else {
      qWarning("Restovo stylesheet: unknown colour @%s", name.constData());
      out += m.captured(0);
    }
    last = m.capturedEnd();
  }
  out += QStringView(sheet).mid(last);
  return out;
}

QPalette MakePalette() {
  QPalette p;
  const auto set = [&p](QPalette::ColorRole role, const char* normal, const char* disabled) {
    p.setColor(QPalette::All, role, Colour(normal));
    p.setColor(QPalette::Disabled, role, Colour(disabled));
  };
  set(QPalette::Window, "window", "window");
  set(QPalette::WindowText, "text", "text-disabled");
  set(QPalette::Base, "surface", "disabled-fill");
  set(QPalette::AlternateBase, "surface-alt", "surface-alt");
  set(QPalette::Text, "text", "text-disabled");
  set(QPalette::Button, "surface", "disabled-fill");
  set(QPalette::ButtonText, "text", "text-disabled");
  set(QPalette::Highlight, "accent", "accent-disabled");
  set(QPalette::HighlightedText, "surface", "surface");
  set(QPalette::ToolTipBase, "tooltip", "tooltip");
  set(QPalette::ToolTipText, "surface", "surface");
  set(QPalette::PlaceholderText, "placeholder", "text-disabled");
  set(QPalette::Link, "accent", "text-disabled");
  set(QPalette::Light, "surface", "surface");
  set(QPalette::Midlight, "divider", "divider");
  set(QPalette::Mid, "border", "border");
  set(QPalette::Dark, "border-strong", "border-strong");
  set(QPalette::Shadow, "frame", "frame");
  return p;
}

enum class TTint { None, All, OneMode };

// Renders the SVG itself at the requested device-pixel size, so an icon stays sharp at
// any size and scale factor, and draws the faded disabled state the same way for all.
class TSvgIconEngine final : public QIconEngine {
 public:
  TSvgIconEngine(QString path, TTint tint, QIcon::Mode tintMode, QColor colour)
      : path_(std::move(path)),
        renderer_(std::make_shared<QSvgRenderer>(path_)),
        tint_(tint),
        tintMode_(tintMode),
        colour_(colour) {}

  void paint(QPainter* painter, const QRect& rect, QIcon::Mode mode, QIcon::State state) override {
    const qreal dpr = painter->device() ? painter->device()->devicePixelRatioF() : 1.0;
    QPixmap pm = pixmap((QSizeF(rect.size()) * dpr).toSize(), mode, state);
    pm.setDevicePixelRatio(dpr);
    painter->drawPixmap(rect.topLeft(), pm);
  }

  QSize actualSize(const QSize& size, QIcon::Mode, QIcon::State) override {
    const int side = qMin(size.width(), size.height());
    return {side, side};
  }

  QPixmap pixmap(const QSize& requested, QIcon::Mode mode, QIcon::State) override {
    const int side = qMin(requested.width(), requested.height());
    if (side <= 0 || !renderer_->isValid()) return {};
    const bool tinted = tint_ == TTint::All || (tint_ == TTint::OneMode && mode == tintMode_);
    const QString key = QStringLiteral("restovo:%1:%2:%3:%4")
                            .arg(path_)
                            .arg(side)
                            .arg(int(mode))
                            .arg(tinted ? colour_.name(QColor::HexArgb) : QString());
    QPixmap pm;
    if (QPixmapCache::find(key, &pm)) return pm;

    QImage img(side, side, QImage::Format_ARGB32_Premultiplied);
    img.fill(Qt::transparent);
    {
      QPainter p(&img);
      p.setRenderHint(QPainter::Antialiasing);
      renderer_->render(&p, QRectF(0, 0, side, side));
      if (tinted) {
        p.setCompositionMode(QPainter::CompositionMode_SourceIn);
        p.fillRect(img.rect(), colour_);
      }
      if (mode == QIcon::Disabled) {
        p.setCompositionMode(QPainter::CompositionMode_DestinationIn);
        p.fillRect(img.rect(), QColor(0, 0, 0, 102));
      }
    }
    pm = QPixmap::fromImage(std::move(img));
    QPixmapCache::insert(key, pm);
    return pm;
  }

  QList<QSize> availableSizes(QIcon::Mode, QIcon::State) override {
    // Scalable, but some consumers (the X11 window icon) only ask for listed sizes.
    return {{16, 16}, {22, 22}, {24, 24}, {32, 32}, {48, 48}, {64, 64}, {128, 128}, {256, 256}};
  }

  QString key() const override { return QStringLiteral("RestovoSvg"); }
  QIconEngine* clone() const override { return new TSvgIconEngine(*this); }
  bool isNull() override { return !renderer_->isValid(); }

 private:
  QString path_;
  std::shared_ptr<QSvgRenderer> renderer_;
  TTint tint_;
  QIcon::Mode tintMode_;
  QColor colour_;
};

QIcon CachedIcon(QStringView name, TTint tint, QIcon::Mode mode, const QColor& colour) {
  static QHash<QString, QIcon> cache;
  const QString path = RestovoIconPath(name);
  if (path.isEmpty()) return {};
  const QString key = QStringLiteral("%1|%2|%3|%4")
                          .arg(name)
                          .arg(int(tint))
                          .arg(int(mode))
                          .arg(tint == TTint::None ? QString() : colour.name(QColor::HexArgb));
  auto it = cache.find(key);
  if (it == cache.end()) {
    it = cache.insert(key, QIcon(new TSvgIconEngine(path, tint, mode, colour)));
  }
  return *it;
}

}  // namespace

void ApplyRestovoStyle(QApplication& app) {
  app.setStyle(QStyleFactory::create(QStringLiteral("Fusion")));
  app.setPalette(MakePalette());
  QFile file(QStringLiteral(":/restovo/style/restovo.qss"));
  if (!file.open(QIODevice::ReadOnly)) {
    qWarning("Restovo stylesheet is missing from the resources");
    return;
  }
  app.setStyleSheet(ExpandTokens(QString::fromUtf8(file.readAll())));
}

void SetStyleFlag(QWidget* widget, const char* property, bool on) {
  if (!widget) return;
  widget->setProperty(property, on);
  widget->style()->unpolish(widget);
  widget->style()->polish(widget);
  widget->update();
}

QString RestovoIconPath(QStringView name) {
  if (name.isEmpty()) return {};
  const QString path = QStringLiteral(":/restovo/icons/%1.svg").arg(name);
  return QFile::exists(path) ? path : QString();
}

QIcon RestovoIcon(QStringView name) {
  return CachedIcon(name, TTint::None, QIcon::Normal, {});
}

QIcon RestovoIcon(QStringView name, const QColor& colour) {
  return CachedIcon(name, TTint::All, QIcon::Normal, colour);
}

QIcon RestovoIconTintedIn(QStringView name, QIcon::Mode mode, const QColor& colour) {
  return CachedIcon(name, TTint::OneMode, mode, colour);
}

}  // namespace restovo
