// What the tests against the real reference services share: a copy of the sample data
// each test may edit, the server started on a free loopback port, and a port where
// nobody answers.
#pragma once

#include <QByteArray>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QRegularExpression>
#include <QString>
#include <QTcpServer>

namespace restovo::test {

inline bool CopyTree(const QString& from, const QString& to) {
  QDir().mkpath(to);
  for (const QFileInfo& entry : QDir(from).entryInfoList(QDir::AllEntries | QDir::NoDotAndDotDot | QDir::Hidden)) {
    const QString target = to + QLatin1Char('/') + entry.fileName();
    if (entry.isDir() ? !CopyTree(entry.filePath(), target) : !QFile::copy(entry.filePath(), target)) return false;
  }
  return true;
}

// Writes the whole file, making its folder when missing.
inline bool WriteFile(const QString& path, const QByteArray& bytes) {
  QDir().mkpath(QFileInfo(path).absolutePath());
  QFile f(path);
  return f.open(QIODevice::WriteOnly | QIODevice::Truncate) && f.write(bytes) == bytes.size();
}

inline QByteArray ReadFile(const QString& path) {
  QFile f(path);
  return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}

// A loopback port nobody listens on.
inline int ClosedPort() {
  QTcpServer probe;
  probe.listen(QHostAddress::LocalHost, 0);
  return probe.serverPort();
}

// Starts RESTOVO_SERVICES_BIN on a free port with `data` (a copy of RESTOVO_SERVICES_DATA
// made here) and `state`; `base` becomes its address. Empty on success, else what failed.
inline QString StartServices(QProcess& server, const QString& data, const QString& state, QString& base) {
  if (!CopyTree(qEnvironmentVariable("RESTOVO_SERVICES_DATA"), data)) return QStringLiteral("no copy of the data");
  server.start(qEnvironmentVariable("RESTOVO_SERVICES_BIN"),
               {QStringLiteral("--port"), QStringLiteral("0"), QStringLiteral("--data"), data,
                QStringLiteral("--state"), state});
  if (!server.waitForStarted()) return QStringLiteral("the server did not start");
  QByteArray first;
  while (!first.contains('\n') && server.waitForReadyRead(10000)) first += server.readAllStandardOutput();
  const QRegularExpressionMatch m =
      QRegularExpression(QStringLiteral("listening on (http://127\\.0\\.0\\.1:\\d+)")).match(QString::fromUtf8(first));
  if (!m.hasMatch()) return QString::fromUtf8(first);
  base = m.captured(1);
  return {};
}

}  // namespace restovo::test
