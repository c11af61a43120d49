// Language files for tests: written as the program ships them, UTF-16LE with a BOM.
#pragma once

#include <QByteArray>
#include <QDir>
#include <QFile>
#include <QString>
#include <QStringEncoder>

namespace restovo::test {

inline QByteArray Utf16LeWithBom(const QString& text) {
  QStringEncoder encoder(QStringConverter::Utf16LE, QStringConverter::Flag::WriteBom);
  return encoder.encode(text);
}

inline bool WriteFile(const QString& path, const QByteArray& bytes) {
  QFile file(path);
  return file.open(QIODevice::WriteOnly | QIODevice::Truncate) && file.write(bytes) == bytes.size();
}

inline bool WriteLanguageFile(const QString& languageDir, const QString& name,
                              const QString& text) {
  return QDir().mkpath(languageDir) &&
         WriteFile(QDir(languageDir).filePath(name + QStringLiteral(".ini")), Utf16LeWithBom(text));
}

}  // namespace restovo::test
