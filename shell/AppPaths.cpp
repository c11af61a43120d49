#include "AppPaths.h"

#include <QCoreApplication>
#include <QDir>

namespace restovo {

namespace {

QString& AppDirOverride() {
  static QString dir;
  return dir;
}

QString WithTrailingSlash(QString dir) {
  if (!dir.endsWith(QLatin1Char('/'))) dir += QLatin1Char('/');
  return dir;
}

}  // namespace

QString AppDir() {
  if (!AppDirOverride().isEmpty()) return AppDirOverride();
  return WithTrailingSlash(QCoreApplication::applicationDirPath());
}

void SetAppDir(const QString& dir) {
  AppDirOverride() = dir.isEmpty() ? QString() : WithTrailingSlash(QDir::cleanPath(dir));
}

}  // namespace restovo
