// Borderless top-level windows that draw their own frame and title bar.
#pragma once

#include <QDialog>
#include <QWidget>

#include "TTarnFrame.h"

namespace restovo {

// The main window's frame: logo, caption, menu, minimise, maximise/restore and close
// buttons; moved by its title bar, maximised by a double click there, resized from
// every edge and corner. Put the window's widgets in ContentArea() (give it a layout)
// or hand one widget to SetContent().
class TTarnWindow : public QWidget {
  Q_OBJECT

 public:
  explicit TTarnWindow(QWidget* parent = nullptr);

  // Shown in the title bar and used as the window title (task bar, window list).
  void SetCaption(const QString& caption);
  QString Caption() const;

  // Tool-tip texts of the title-bar buttons.
  void SetButtonHints(const QString& minimize, const QString& maximize, const QString& restore,
                      const QString& close, const QString& menu);

  TTarnTitleBar* TitleBar() const { return frame_->TitleBar(); }
  QWidget* ContentArea() const { return frame_->ContentArea(); }
  void SetContent(QWidget* widget) { frame_->SetContent(widget); }
  void SetResizable(bool resizable) { frame_->SetResizable(resizable); }
  TTarnFrame* Frame() const { return frame_; }

 signals:
  // The title bar's menu button was pressed; show the window's menu at globalPos.
  void MenuRequested(QPoint globalPos);

 private:
  TTarnFrame* frame_;
};

// A borderless dialog in the same frame. Its title bar has only a close button (which
// rejects the dialog, like Escape) and can be hidden. It is not resizable unless
// SetResizable(true), and it is centred over its owner's window (or the screen) every
// time it is shown. For a fixed-size, always-on-top dialog use setFixedSize and
// setWindowFlag(Qt::WindowStaysOnTopHint) before showing it.
class TTarnDialog : public QDialog {
  Q_OBJECT

 public:
  explicit TTarnDialog(QWidget* owner = nullptr);

  void SetCaption(const QString& caption);
  QString Caption() const;
  void SetTitleBarVisible(bool visible);

  TTarnTitleBar* TitleBar() const { return frame_->TitleBar(); }
  QWidget* ContentArea() const { return frame_->ContentArea(); }
  void SetContent(QWidget* widget) { frame_->SetContent(widget); }
  void SetResizable(bool resizable) { frame_->SetResizable(resizable); }
  TTarnFrame* Frame() const { return frame_; }

  void setVisible(bool visible) override;

 private:
  void CentreOverOwner();

  TTarnFrame* frame_;
};

}  // namespace restovo
