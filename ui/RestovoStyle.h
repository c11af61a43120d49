// The program's look: one stylesheet for every window and the hand-drawn icons.
#pragma once

#include <QColor>
#include <QIcon>
#include <QStringView>

class QApplication;
class QWidget;

namespace restovo {

// Sets the Fusion style, a matching palette and the Restovo stylesheet on the whole
// application. Call once, after the QApplication exists and before windows are shown.
// The stylesheet sets no font family or size: the caller's QApplication::setFont (the
// language's font) stays in force everywhere.
//
// Besides the widget classes, the stylesheet knows these dynamic properties:
//   primary=true  on a QPushButton or QToolButton: the filled accent button ("Search",
//                 "Restore"); see SetPrimary.
//   heading=true  on a QLabel: a section title ("Dir Tree").
//   muted=true    on a QLabel: secondary text such as the status line.
//   card=true     on a QFrame: a white panel with a border and rounded corners.
void ApplyRestovoStyle(QApplication& app);

// Sets or clears a boolean style property and re-applies the stylesheet to the widget,
// which a plain setProperty does not do once the widget has been polished.
void SetStyleFlag(QWidget* widget, const char* property, bool on = true);
inline void SetPrimary(QWidget* button, bool primary = true) {
  SetStyleFlag(button, "primary", primary);
}

// One of the program's icons, drawn as SVG and sharp at every size and scale; the same
// QIcon is returned for the same name. A null QIcon for an unknown name.
//   application:  logo
//   drives:       drive-removable, drive-fixed, drive-image
//   items:        folder, file, type-picture, type-audio, type-video, type-document,
//                 type-archive, type-mail
//   actions:      search, preview, restore, open-image, clear
//   title bar:    window-menu, window-minimize, window-maximize, window-restore, window-close
//   messages:     msg-warning, msg-error, msg-information, msg-question
// The disabled state is drawn faded.
QIcon RestovoIcon(QStringView name);

// The same drawing in one flat colour, for a line icon on a filled background (the
// search glass on the primary "Search" button is white).
QIcon RestovoIcon(QStringView name, const QColor& colour);

// Drawn as is except in one mode, where it is drawn in `colour` (the close button's
// cross turns white on its red hover background, which tool buttons draw as Active).
QIcon RestovoIconTintedIn(QStringView name, QIcon::Mode mode, const QColor& colour);

// Resource path of the SVG behind a name, for QSS or QSvgRenderer; empty when unknown.
QString RestovoIconPath(QStringView name);

}  // namespace restovo
