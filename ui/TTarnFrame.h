// The frame shared by the borderless main window and dialogs: the title bar, and the
// surface that draws the outline and lets the window be resized from its edges.
#pragma once

#include <QColor>
#include <QIcon>
#include <QPointer>
#include <QRect>
#include <QWidget>

class QHBoxLayout;
class QLabel;
class QToolButton;
class QVBoxLayout;
class QWindow;

namespace restovo {

class TTarnIconView;

// The title bar: logo, caption, room for the caller's widgets, then the menu, minimise,
// maximise/restore and close buttons. Dragging it moves the window; a double click
// maximises or restores the window when the maximise button is offered.
class TTarnTitleBar : public QWidget {
  Q_OBJECT

 public:
  enum TButton { btMenu = 0x1, btMinimize = 0x2, btMaximize = 0x4, btClose = 0x8 };
  Q_DECLARE_FLAGS(TButtons, TButton)

  explicit TTarnTitleBar(QWidget* parent = nullptr);

  void SetCaption(const QString& caption);
  QString Caption() const;

  // A null icon hides the logo.
  void SetLogo(const QIcon& logo);

  // Which buttons are shown; the main window has all four, a dialog only btClose.
  void SetButtons(TButtons buttons);
  TButtons Buttons() const { return buttons_; }

  // Tool-tip texts; the maximise button shows `restore` while the window is maximised.
  void SetButtonHints(const QString& minimize, const QString& maximize, const QString& restore,
                      const QString& close, const QString& menu);

  // Puts a widget of the caller's (a tool button, say) just left of the menu button.
  void AddWidget(QWidget* widget);

  QToolButton* Button(TButton which) const;

  // Brings the maximise button's icon and hint in line with the window's state; the
  // frame calls it on every window-state change.
  void UpdateWindowState();

 signals:
  // The menu button was pressed; globalPos is the button's bottom-left corner.
  void MenuRequested(QPoint globalPos);

 protected:
  void mousePressEvent(QMouseEvent* event) override;
  void mouseMoveEvent(QMouseEvent* event) override;
  void mouseReleaseEvent(QMouseEvent* event) override;
  void mouseDoubleClickEvent(QMouseEvent* event) override;

 private:
  QToolButton* MakeButton(const char* objectName, const QIcon& icon);
  void ToggleMaximized();

  QHBoxLayout* layout_ = nullptr;
  TTarnIconView* logo_ = nullptr;
  QLabel* caption_ = nullptr;
  QToolButton* menu_ = nullptr;
  QToolButton* minimize_ = nullptr;
  QToolButton* maximize_ = nullptr;
  QToolButton* close_ = nullptr;
  TButtons buttons_;
  QString maximizeHint_;
  QString restoreHint_;

  enum class TDrag { None, Pending, System, Manual };
  TDrag drag_ = TDrag::None;
  QPoint pressGlobal_;
  QPoint pressWindowPos_;
};

// The whole surface of a borderless top-level window: it fills the window, paints the
// background with a 1 px outline (rounded where a compositor can show rounded corners,
// square when maximised) and holds the title bar above the content area. On a
// resizable window the outer 6 px of every edge resize it, through the window system
// where it can (QWindow::startSystemResize) and by following the mouse where not.
class TTarnFrame : public QWidget {
  Q_OBJECT
  Q_PROPERTY(QColor fillColor READ FillColor WRITE SetFillColor)
  Q_PROPERTY(QColor borderColor READ BorderColor WRITE SetBorderColor)

 public:
  static constexpr int kResizeMargin = 6;
  static constexpr int kCornerRadius = 6;

  // Makes itself the only child of topLevel, which must be a window with
  // Qt::FramelessWindowHint that has not been shown yet.
  explicit TTarnFrame(QWidget* topLevel);
  ~TTarnFrame() override;

  TTarnTitleBar* TitleBar() const { return titleBar_; }
  QWidget* ContentArea() const { return content_; }

  // Fills the content area with widget; an earlier one given here is deleted.
  void SetContent(QWidget* widget);

  void SetResizable(bool resizable);
  bool IsResizable() const { return resizable_; }

  // Whether corners are drawn round: a compositor blends them with what lies behind.
  bool HasRoundedCorners() const;

  // Whether this session can show translucent windows (Wayland, X11 with a running
  // compositor, the offscreen platform).
  static bool CanBeTranslucent();

  QColor FillColor() const { return fill_; }
  void SetFillColor(const QColor& colour);
  QColor BorderColor() const { return border_; }
  void SetBorderColor(const QColor& colour);

 protected:
  void paintEvent(QPaintEvent* event) override;
  bool eventFilter(QObject* watched, QEvent* event) override;

 private:
  void AttachWindow();
  bool HandleWindowMouse(QEvent* event);
  Qt::Edges EdgesAt(QPoint pos) const;
  void ShowEdgeCursor(Qt::Edges edges);
  void UpdateForWindowState();

  QWidget* topLevel_;
  QPointer<QWindow> window_;
  QVBoxLayout* layout_ = nullptr;
  TTarnTitleBar* titleBar_ = nullptr;
  QWidget* content_ = nullptr;
  QPointer<QWidget> contentWidget_;
  bool translucent_ = false;
  bool resizable_ = true;
  QColor fill_{0xf4, 0xf5, 0xf7};
  QColor border_{0xbf, 0xc5, 0xce};

  bool cursorOverridden_ = false;
  Qt::Edges resizeEdges_;
  QPoint pressGlobal_;
  QRect pressGeometry_;
};

}  // namespace restovo

Q_DECLARE_OPERATORS_FOR_FLAGS(restovo::TTarnTitleBar::TButtons)
