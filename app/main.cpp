// restovo [IMAGE ...]: the window. Disk images named on the command line are opened as
// drives next to the machine's own volumes.
#include <QApplication>
#include <QMessageBox>

#include "RestovoStyle.h"
#include "TTarnDirectCombobox.h"
#include "Translation.h"
#include "Umain.h"

int main(int argc, char** argv) {
  QApplication app(argc, argv);
  QApplication::setApplicationName(QStringLiteral("Restovo"));
  QApplication::setApplicationDisplayName(QStringLiteral("Restovo"));
  QApplication::setDesktopFileName(QStringLiteral("restovo"));
  restovo::ApplyRestovoStyle(app);

  restovo::ListLanguages();
  if (restovo::SetLanguage(restovo::DetectLanguage()) == restovo::TLanguageSwitch::NoLanguageFile) {
    QMessageBox::critical(nullptr, QStringLiteral("Restovo"), restovo::NoLanguageFileText());
    return restovo::NoLanguageFileExitCode;
  }

  restovo::TFrmFRMain window;
  window.show();
  // The first image named is the one chosen for "Search".
  int first = -1;
  for (const QString& path : QApplication::arguments().mid(1)) {
    if (window.OpenImage(path) > 0 && first < 0) first = window.DriveBox()->currentIndex();
  }
  if (first >= 0) window.DriveBox()->setCurrentIndex(first);
  return QApplication::exec();
}
