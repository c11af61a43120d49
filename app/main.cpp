// restovo [IMAGE ...]: the window. Disk images named on the command line are opened as
// drives next to the machine's own volumes.
#include <QApplication>
#include <QMessageBox>

#include "RestovoStyle.h"
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
  const QStringList args = QApplication::arguments().mid(1);
  for (const QString& path : args) window.OpenImage(path);
  return QApplication::exec();
}
