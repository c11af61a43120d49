#include "TTarnFrame.h"

#include <QApplication>
#include <QGuiApplication>
#include <QHBoxLayout>
#include <QLabel>
#include <QMouseEvent>
#include <QPainter>
#include <QToolButton>
#include <QVBoxLayout>
#include <QWindow>

#include "RestovoStyle.h"
#include "TTarnIconView.h"

#ifdef RESTOVO_HAVE_XCB
#include <QtGui/qguiapplication_platform.h>
#include <xcb/xcb.h>

#include <cstdlib>
#endif

namespace restovo {
namespace {

constexpr int kTitleBarHeight = 36;
constexpr QSize kTitleButtonSize(34, 28);

bool IsMaximizedOrFull(const QWidget* w) {
  return (w->windowState() & (Qt::WindowMaximized | Qt::WindowFullScreen)) != 0;
}

#ifdef RESTOVO_HAVE_XCB
// A compositing manager owns the selection _NET_WM_CM_Sn of its screen.
bool X11CompositorRuns() {
  auto* x11 = qGuiApp->nativeInterface<QNativeInterface::QX11Application>();
  if (!x11 || !x11->connection()) return false;
  xcb_connection_t* c = x11->connection();
  const int screens = xcb_setup_roots_length(xcb_get_setup(c));
  for (int i = 0; i < screens; ++i) {
    const QByteArray name = "_NET_WM_CM_S" + QByteArray::number(i);
    xcb_intern_atom_reply_t* atom = xcb_intern_atom_reply(
        c, xcb_intern_atom(c, 1, static_cast<uint16_t>(name.size()), name.constData()), nullptr);
    if (!atom) continue;
    const xcb_atom_t selection = atom->atom;
    std::free(atom);
    if (selection == XCB_NONE) continue;
    xcb_get_selection_owner_reply_t* owner =
        xcb_get_selection_owner_reply(c, xcb_get_selection_owner(c, selection), nullptr);
    if (!owner) continue;
    const bool owned = owner->owner != XCB_NONE;
    std::free(owner);
    if (owned) return true;
  }
  return false;
}
#endif

}  // namespace

TTarnTitleBar::TTarnTitleBar(QWidget* parent) : QWidget(parent) {
  setFixedHeight(kTitleBarHeight);
  layout_ = new QHBoxLayout(this);
  layout_->setContentsMargins(10, 0, 4, 0);
  layout_->setSpacing(2);

  logo_ = new TTarnIconView(RestovoIcon(u"logo"), 18, this);
  caption_ = new QLabel(this);
  caption_->setObjectName(QStringLiteral("TarnCaption"));
  // A long caption is cut rather than widening the window.
  caption_->setSizePolicy(QSizePolicy::Ignored, QSizePolicy::Preferred);
  caption_->setMinimumWidth(0);

  layout_->addWidget(logo_);
  layout_->addSpacing(6);
  layout_->addWidget(caption_, 1);

  menu_ = MakeButton("TarnTitleButton", RestovoIcon(u"window-menu"));
  minimize_ = MakeButton("TarnTitleButton", RestovoIcon(u"window-minimize"));
  maximize_ = MakeButton("TarnTitleButton", RestovoIcon(u"window-maximize"));
  close_ = MakeButton("TarnCloseButton",
                      RestovoIconTintedIn(u"window-close", QIcon::Active, Qt::white));

  connect(menu_, &QToolButton::clicked, this,
          [this] { emit MenuRequested(menu_->mapToGlobal(QPoint(0, menu_->height()))); });
  connect(minimize_, &QToolButton::clicked, this, [this] { window()->showMinimized(); });
  connect(maximize_, &QToolButton::clicked, this, &TTarnTitleBar::ToggleMaximized);
  connect(close_, &QToolButton::clicked, this, [this] { window()->close(); });

  SetButtonHints(tr("Minimize"), tr("Maximize"), tr("Restore"), tr("Close"), tr("Menu"));
  SetButtons(btMenu | btMinimize | btMaximize | btClose);
}

QToolButton* TTarnTitleBar::MakeButton(const char* objectName, const QIcon& icon) {
  auto* b = new QToolButton(this);
  b->setObjectName(QLatin1StringView(objectName));
  b->setIcon(icon);
  b->setIconSize(QSize(16, 16));
  b->setFixedSize(kTitleButtonSize);
  b->setAutoRaise(true);
  b->setFocusPolicy(Qt::NoFocus);
  layout_->addWidget(b, 0, Qt::AlignVCenter);
  return b;
}

void TTarnTitleBar::SetCaption(const QString& caption) { caption_->setText(caption); }

QString TTarnTitleBar::Caption() const { return caption_->text(); }

void TTarnTitleBar::SetLogo(const QIcon& logo) {
  logo_->SetIcon(logo);
  logo_->setVisible(!logo.isNull());
}

void TTarnTitleBar::SetButtons(TButtons buttons) {
  buttons_ = buttons;
  menu_->setVisible(buttons & btMenu);
  minimize_->setVisible(buttons & btMinimize);
  maximize_->setVisible(buttons & btMaximize);
  close_->setVisible(buttons & btClose);
}

void TTarnTitleBar::SetButtonHints(const QString& minimize, const QString& maximize,
                                   const QString& restore, const QString& close,
                                   const QString& menu) {
  maximizeHint_ = maximize;
  restoreHint_ = restore;
  minimize_->setToolTip(minimize);
  close_->setToolTip(close);
  menu_->setToolTip(menu);
  UpdateWindowState();
}

void TTarnTitleBar::AddWidget(QWidget* widget) {
  layout_->insertWidget(layout_->indexOf(menu_), widget, 0, Qt::AlignVCenter);
}

QToolButton* TTarnTitleBar::Button(TButton which) const {
  switch (which) {
    case btMenu: return menu_;
    case btMinimize: return minimize_;
    case btMaximize: return maximize_;
    case btClose: return close_;
  }
  return nullptr;
}

void TTarnTitleBar::UpdateWindowState() {
  const bool maximized = window()->isMaximized();
  maximize_->setIcon(RestovoIcon(maximized ? u"window-restore" : u"window-maximize"));
  maximize_->setToolTip(maximized ? restoreHint_ : maximizeHint_);
}

void TTarnTitleBar::ToggleMaximized() {
  QWidget* w = window();
  if (w->isMaximized()) {
    w->showNormal();
  } else {
    w->showMaximized();
  }
}

void TTarnTitleBar::mousePressEvent(QMouseEvent* event) {
  if (event->button() != Qt::LeftButton) return QWidget::mousePressEvent(event);
  // The move starts only once the mouse has travelled, so that a double click still
  // reaches us instead of the window manager's move grab.
  drag_ = TDrag::Pending;
  pressGlobal_ = event->globalPosition().toPoint();
  pressWindowPos_ = window()->pos();
  event->accept();
}

void TTarnTitleBar::mouseMoveEvent(QMouseEvent* event) {
  if (!(event->buttons() & Qt::LeftButton)) return QWidget::mouseMoveEvent(event);
  const QPoint global = event->globalPosition().toPoint();
  if (drag_ == TDrag::Pending &&
      (global - pressGlobal_).manhattanLength() >= QApplication::startDragDistance()) {
    QWindow* handle = window()->windowHandle();
    if (handle && handle->startSystemMove()) {
      drag_ = TDrag::System;
    } else {
      drag_ = IsMaximizedOrFull(window()) ? TDrag::None : TDrag::Manual;
    }
  }
  if (drag_ == TDrag::Manual) window()->move(pressWindowPos_ + (global - pressGlobal_));
  event->accept();
}

void TTarnTitleBar::mouseReleaseEvent(QMouseEvent* event) {
  drag_ = TDrag::None;
  QWidget::mouseReleaseEvent(event);
}

void TTarnTitleBar::mouseDoubleClickEvent(QMouseEvent* event) {
  drag_ = TDrag::None;
  if (event->button() == Qt::LeftButton && (buttons_ & btMaximize)) {
    ToggleMaximized();
    event->accept();
    return;
  }
  QWidget::mouseDoubleClickEvent(event);
}

TTarnFrame::TTarnFrame(QWidget* topLevel) : QWidget(topLevel), topLevel_(topLevel) {
  translucent_ = CanBeTranslucent();
  if (translucent_) topLevel->setAttribute(Qt::WA_TranslucentBackground);

  auto* outer = new QVBoxLayout(topLevel);
  outer->setContentsMargins(0, 0, 0, 0);
  outer->setSpacing(0);
  outer->addWidget(this);

  layout_ = new QVBoxLayout(this);
  layout_->setContentsMargins(1, 1, 1, 1);
  layout_->setSpacing(0);
  titleBar_ = new TTarnTitleBar(this);
  content_ = new QWidget(this);
  content_->setObjectName(QStringLiteral("TarnContent"));
  layout_->addWidget(titleBar_);
  layout_->addWidget(content_, 1);

  topLevel->installEventFilter(this);
}

TTarnFrame::~TTarnFrame() { ShowEdgeCursor({}); }

void TTarnFrame::SetContent(QWidget* widget) {
  if (!content_->layout()) {
    auto* l = new QVBoxLayout(content_);
    l->setContentsMargins(0, 0, 0, 0);
    l->setSpacing(0);
  }
  delete contentWidget_;
  contentWidget_ = widget;
  if (widget) content_->layout()->addWidget(widget);
}

void TTarnFrame::SetResizable(bool resizable) {
  resizable_ = resizable;
  if (!resizable) ShowEdgeCursor({});
}

bool TTarnFrame::HasRoundedCorners() const {
  return translucent_ && !IsMaximizedOrFull(topLevel_);
}

bool TTarnFrame::CanBeTranslucent() {
  const QString platform = QGuiApplication::platformName();
  if (platform.startsWith(QLatin1StringView("wayland")) ||
      platform == QLatin1StringView("offscreen")) {
    return true;
  }
#ifdef RESTOVO_HAVE_XCB
  if (platform == QLatin1StringView("xcb")) return X11CompositorRuns();
#endif
  return false;
}

void TTarnFrame::SetFillColor(const QColor& colour) {
  fill_ = colour;
  update();
}

void TTarnFrame::SetBorderColor(const QColor& colour) {
  border_ = colour;
  update();
}

void TTarnFrame::paintEvent(QPaintEvent*) {
  QPainter p(this);
  if (IsMaximizedOrFull(topLevel_)) {
    p.fillRect(rect(), fill_);
    return;
  }
  if (HasRoundedCorners()) {
    p.setRenderHint(QPainter::Antialiasing);
    p.setPen(QPen(border_, 1));
    p.setBrush(fill_);
    p.drawRoundedRect(QRectF(rect()).adjusted(0.5, 0.5, -0.5, -0.5), kCornerRadius - 0.5,
                      kCornerRadius - 0.5);
    return;
  }
  p.fillRect(rect(), fill_);
  p.setPen(border_);
  p.drawRect(rect().adjusted(0, 0, -1, -1));
}

bool TTarnFrame::eventFilter(QObject* watched, QEvent* event) {
  if (watched == topLevel_) {
    switch (event->type()) {
      case QEvent::Show:
      case QEvent::WinIdChange:
        AttachWindow();
        break;
      case QEvent::WindowStateChange:
        UpdateForWindowState();
        break;
      default:
        break;
    }
    return false;
  }
  if (watched == window_) return HandleWindowMouse(event);
  return false;
}

void TTarnFrame::AttachWindow() {
  QWindow* handle = topLevel_->windowHandle();
  if (handle == window_) return;
  if (window_) window_->removeEventFilter(this);
  window_ = handle;
  // The window, not a widget, sees the mouse first, also over child widgets that lie
  // in the resize margin.
  if (handle) handle->installEventFilter(this);
}

bool TTarnFrame::HandleWindowMouse(QEvent* event) {
  switch (event->type()) {
    case QEvent::MouseMove: {
      auto* me = static_cast<QMouseEvent*>(event);
      if (resizeEdges_) {
        if (!(me->buttons() & Qt::LeftButton)) {
          resizeEdges_ = {};
          return false;
        }
        const QPoint d = me->globalPosition().toPoint() - pressGlobal_;
        const QSize minSize = topLevel_->minimumSize().expandedTo(topLevel_->minimumSizeHint());
        const QSize maxSize = topLevel_->maximumSize();
        QRect g = pressGeometry_;
        if (resizeEdges_ & Qt::LeftEdge) {
          const int w = qBound(minSize.width(), g.width() - d.x(), maxSize.width());
          g.setLeft(g.right() + 1 - w);
        }
        if (resizeEdges_ & Qt::RightEdge) {
          g.setWidth(qBound(minSize.width(), g.width() + d.x(), maxSize.width()));
        }
        if (resizeEdges_ & Qt::TopEdge) {
          const int h = qBound(minSize.height(), g.height() - d.y(), maxSize.height());
          g.setTop(g.bottom() + 1 - h);
        }
        if (resizeEdges_ & Qt::BottomEdge) {
          g.setHeight(qBound(minSize.height(), g.height() + d.y(), maxSize.height()));
        }
        topLevel_->setGeometry(g);
        return true;
      }
      if (me->buttons() == Qt::NoButton) ShowEdgeCursor(EdgesAt(me->position().toPoint()));
      return false;
    }
    case QEvent::MouseButtonPress: {
      auto* me = static_cast<QMouseEvent*>(event);
      if (me->button() != Qt::LeftButton) return false;
      const Qt::Edges edges = EdgesAt(me->position().toPoint());
      if (!edges) return false;
      if (window_->startSystemResize(edges)) return true;
      resizeEdges_ = edges;
      pressGlobal_ = me->globalPosition().toPoint();
      pressGeometry_ = topLevel_->geometry();
      return true;
    }
    case QEvent::MouseButtonRelease:
      if (resizeEdges_) {
        resizeEdges_ = {};
        return true;
      }
      return false;
    case QEvent::MouseButtonDblClick:
      return bool(EdgesAt(static_cast<QMouseEvent*>(event)->position().toPoint()));
    case QEvent::Leave:
      if (!resizeEdges_) ShowEdgeCursor({});
      return false;
    default:
      return false;
  }
}

Qt::Edges TTarnFrame::EdgesAt(QPoint pos) const {
  if (!resizable_ || IsMaximizedOrFull(topLevel_)) return {};
  const int w = topLevel_->width();
  const int h = topLevel_->height();
  const auto near = [](int v, int extent, int margin) {
    return std::pair{v < margin, v >= extent - margin};
  };
  Qt::Edges edges;
  const auto [left, right] = near(pos.x(), w, kResizeMargin);
  const auto [top, bottom] = near(pos.y(), h, kResizeMargin);
  if (left) edges |= Qt::LeftEdge;
  if (right) edges |= Qt::RightEdge;
  if (top) edges |= Qt::TopEdge;
  if (bottom) edges |= Qt::BottomEdge;
  if (!edges) return {};
  // Corners are easier to catch when they reach a little along both edges.
  constexpr int kCorner = 2 * kResizeMargin;
  const auto [cornerLeft, cornerRight] = near(pos.x(), w, kCorner);
  const auto [cornerTop, cornerBottom] = near(pos.y(), h, kCorner);
  if (edges & (Qt::LeftEdge | Qt::RightEdge)) {
    if (cornerTop) edges |= Qt::TopEdge;
    if (cornerBottom) edges |= Qt::BottomEdge;
  }
  if (edges & (Qt::TopEdge | Qt::BottomEdge)) {
    if (cornerLeft) edges |= Qt::LeftEdge;
    if (cornerRight) edges |= Qt::RightEdge;
  }
  return edges;
}

void TTarnFrame::ShowEdgeCursor(Qt::Edges edges) {
  if (!edges) {
    if (cursorOverridden_) QGuiApplication::restoreOverrideCursor();
    cursorOverridden_ = false;
    return;
  }
  Qt::CursorShape shape = Qt::SizeHorCursor;
  const bool horizontal = edges & (Qt::LeftEdge | Qt::RightEdge);
  const bool vertical = edges & (Qt::TopEdge | Qt::BottomEdge);
  if (horizontal && vertical) {
    const bool mainDiagonal = bool(edges & Qt::LeftEdge) == bool(edges & Qt::TopEdge);
    shape = mainDiagonal ? Qt::SizeFDiagCursor : Qt::SizeBDiagCursor;
  } else if (vertical) {
    shape = Qt::SizeVerCursor;
  }
  if (cursorOverridden_) {
    QGuiApplication::changeOverrideCursor(QCursor(shape));
  } else {
    QGuiApplication::setOverrideCursor(QCursor(shape));
    cursorOverridden_ = true;
  }
}

void TTarnFrame::UpdateForWindowState() {
  const int m = IsMaximizedOrFull(topLevel_) ? 0 : 1;
  layout_->setContentsMargins(m, m, m, m);
  if (m == 0) ShowEdgeCursor({});
  titleBar_->UpdateWindowState();
  update();
}

}  // namespace restovo
