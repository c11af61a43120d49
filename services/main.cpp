// restovo-services: the vendor's web services for one machine, on 127.0.0.1.
#include "Services.h"

#include <QCommandLineParser>
#include <QCoreApplication>
#include <QDir>
#include <QFileInfo>

#include <cstdio>

namespace {

// Where the operator's files are when --data is not given: installed beside the program,
// installed under share/, or the source tree the program was built from.
QString FindDataDir() {
  const QString exeDir = QCoreApplication::applicationDirPath();
  for (const QString &candidate : {exeDir + "/data", exeDir + "/../share/restovo/services",
                                   QStringLiteral(RESTOVO_SERVICES_SOURCE_DATA)}) {
    if (QFileInfo(candidate).isDir())
      return QDir(candidate).absolutePath();
  }
  return {};
}

}  // namespace

int main(int argc, char *argv[]) {
  QCoreApplication app(argc, argv);
  QCoreApplication::setApplicationName("restovo-services");

  QCommandLineParser parser;
  parser.setApplicationDescription("Serves Restovo's web services on 127.0.0.1 from a folder of plain files.");
  parser.addHelpOption();
  const QCommandLineOption portOption("port", "Port to listen on; 0 picks a free one (default 8470).", "N", "8470");
  const QCommandLineOption dataOption("data", "Folder with the served files.", "DIR");
  const QCommandLineOption stateOption("state", "Folder for uploads and statistics (default DATA/state).", "DIR");
  parser.addOptions({portOption, dataOption, stateOption});
  parser.process(app);

  bool portOk = false;
  const uint port = parser.value(portOption).toUInt(&portOk);
  if (!portOk || port > 65535) {
    std::fprintf(stderr, "restovo-services: --port needs a number from 0 to 65535\n");
    return 2;
  }
  const QString dataDir = parser.isSet(dataOption) ? QDir(parser.value(dataOption)).absolutePath() : FindDataDir();
  if (dataDir.isEmpty() || !QFileInfo(dataDir).isDir()) {
    std::fprintf(stderr, "restovo-services: no data folder %s\n", qPrintable(dataDir));
    return 2;
  }
  const QString stateDir =
      parser.isSet(stateOption) ? QDir(parser.value(stateOption)).absolutePath() : dataDir + "/state";
  if (!QDir().mkpath(stateDir))
    std::fprintf(stderr, "restovo-services: cannot create %s; uploads and statistics will fail\n",
                 qPrintable(stateDir));

  TWebServices services(dataDir, stateDir);
  const quint16 listening = services.ListenOnLoopback(static_cast<quint16>(port));
  if (listening == 0) {
    std::fprintf(stderr, "restovo-services: cannot listen on 127.0.0.1:%u\n", port);
    return 1;
  }
  std::printf("restovo-services listening on http://127.0.0.1:%u\n", unsigned{listening});
  std::fflush(stdout);
  return app.exec();
}
