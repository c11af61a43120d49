// The main window and dialogs as the program will lay them out, built from the toolkit
// with sample contents, for the screenshots.
#pragma once

#include <QString>

class QWidget;

namespace restovo {

class TTarnDialog;
class TTarnWindow;

TTarnWindow* MakeSampleMainWindow();
TTarnDialog* MakeSampleProgressDialog(QWidget* owner);

// Every control kind in its normal, disabled, checked and focused states, side by side.
QWidget* MakeControlGallery();

}  // namespace restovo
