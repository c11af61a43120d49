// restovo [IMAGE ...]: the window. Disk images named on the command line are opened as
// drives next to the machine's own volumes. A second start hands its images to the window
// already running and ends.
#include <QApplication>
#include <QMessageBox>
#include <cstdio>
#include <cstdlib>

#include "RestovoStyle.h"
#include "SingleInstance.h"
#include "TTarnDirectCombobox.h"
#include "Translation.h"
#include "Umain.h"
#include "Unew.h"

int main(int argc, char** argv) {
  // The news window's browser needs this before the application exists.
  restovo::PrepareWebEngine();
  QApplication app(argc, argv);
  QApplication::setApplicationName(QStringLiteral("Restovo"));
  QApplication::setApplicationDisplayName(QStringLiteral("Restovo"));
  QApplication::setDesktopFileName(QStringLiteral("restovo"));
  const QStringList images = QApplication::arguments().mid(1);

  // One window per user: a copy already running shows itself and takes the images.
  if (restovo::TSingleInstance::HandToRunning(images)) return 0;
  restovo::TSingleInstance instance;
  // Two starts at the same moment: the one that lost the socket hands over after all.
  if (!instance.Listen() && restovo::TSingleInstance::HandToRunning(images)) return 0;

  restovo::ApplyRestovoStyle(app);
  {
    // The window reads the settings and chooses the language from them.
    restovo::TFrmFRMain window;
    if (window.LanguageResult == restovo::TLanguageSwitch::NoLanguageFile) {
      QMessageBox::critical(nullptr, QStringLiteral("Restovo"), restovo::NoLanguageFileText());
      return restovo::NoLanguageFileExitCode;
    }
    QObject::connect(&instance, &restovo::TSingleInstance::Activated, &window,
                     &restovo::TFrmFRMain::ActivateFromOtherStart);
    window.show();
    // The first image named is the one chosen for "Search".
    int first = -1;
    for (const QString& path : images) {
      if (window.OpenImage(path) > 0 && first < 0) first = window.DriveBox()->currentIndex();
    }
    if (first >= 0) window.DriveBox()->setCurrentIndex(first);
    QApplication::exec();
    // Leaving the block destroys the window: a running scan or restore is stopped and the
    // settings are written.
  }
  // Fetches still running (update check, news) are not waited for: the process ends here.
  std::fflush(nullptr);
  std::_Exit(0);
}
