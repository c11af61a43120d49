#pragma once

#include <QAbstractHttpServer>
#include <QHttpServerResponse>
#include <QString>

class QHttpServerRequest;
class QTcpSocket;

// The vendor's web services, answered from a folder of plain files that an operator edits.
// Uploads and install statistics are written to a separate state folder.
class TWebServices : public QAbstractHttpServer {
  Q_OBJECT

public:
  // A support upload may carry a file of this size; the whole body may add the multipart framing.
  static constexpr qsizetype MaxUploadFile = 5 * 1024 * 1024;
  static constexpr qsizetype MaxUploadBody = MaxUploadFile + 64 * 1024;

  TWebServices(const QString &dataDir, const QString &stateDir, QObject *parent = nullptr);

  // Listens on 127.0.0.1 only; port 0 picks a free one. Returns the port, 0 on failure.
  quint16 ListenOnLoopback(quint16 port);

  // The answer to one request; `base` is "http://host:port" of the address the request came to,
  // which replaces "{base}" in the data files.
  QHttpServerResponse Answer(const QHttpServerRequest &request, const QString &base);

  // One line per request: time, method, path with query, status. Written to stdout by default.
  static QString LogLine(const QHttpServerRequest &request, int status);

protected:
  bool handleRequest(const QHttpServerRequest &request, QTcpSocket *socket) override;
  void missingHandler(const QHttpServerRequest &request, QTcpSocket *socket) override;

private:
  QHttpServerResponse UpdateInfo(const QHttpServerRequest &request, const QString &base);
  QHttpServerResponse NewsDescriptor(const QString &base);
  QHttpServerResponse Feedback(const QHttpServerRequest &request);
  QHttpServerResponse UnreadMessages(const QString &guid);
  QHttpServerResponse Upload(const QHttpServerRequest &request);
  QHttpServerResponse InstallStatistics(const QHttpServerRequest &request);
  QHttpServerResponse Advertisements(const QHttpServerRequest &request, const QString &base);
  QHttpServerResponse StaticFile(const QHttpServerRequest &request);

  QString DataFile(const QString &relative) const;
  bool EnsureStateDir(const QString &sub = {}) const;

  QString FDataDir;
  QString FStateDir;
};
