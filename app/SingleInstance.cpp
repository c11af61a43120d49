#include "SingleInstance.h"

#include <unistd.h>

#include <QDataStream>
#include <QDir>
#include <QFileInfo>
#include <QLocalServer>
#include <QLocalSocket>
#include <QStandardPaths>

namespace restovo {

namespace {

// The request: a marker, then the image paths. The answer: one byte.
constexpr quint32 kMagic = 0x52535631;  // "RSV1"
constexpr char kAnswer = 'k';
constexpr qint64 kMaxRequest = 1 << 20;

QByteArray Request(const QStringList& images) {
  QByteArray bytes;
  QDataStream out(&bytes, QIODevice::WriteOnly);
  out.setVersion(QDataStream::Qt_6_0);
  out << kMagic << images;
  return bytes;
}

enum class TParse { Complete, Incomplete, Invalid };

TParse ParseRequest(const QByteArray& bytes, QStringList& images) {
  if (bytes.size() < 4) return TParse::Incomplete;
  QDataStream in(bytes);
  in.setVersion(QDataStream::Qt_6_0);
  quint32 magic = 0;
  in >> magic;
  if (magic != kMagic) return TParse::Invalid;
  in.startTransaction();
  in >> images;
  return in.commitTransaction() ? TParse::Complete : TParse::Incomplete;
}

}  // namespace

TSingleInstance::TSingleInstance(QObject* parent) : QObject(parent) {}

TSingleInstance::~TSingleInstance() {
  if (Server) Server->close();
}

QString TSingleInstance::ServerName() {
  const QString runtime = QStandardPaths::writableLocation(QStandardPaths::RuntimeLocation);
  if (!runtime.isEmpty() && QFileInfo(runtime).isDir()) return runtime + QStringLiteral("/restovo.socket");
  return QDir::tempPath() + QStringLiteral("/restovo-") + QString::number(::getuid()) + QStringLiteral(".socket");
}

bool TSingleInstance::HandToRunning(const QStringList& images, int timeoutMs) {
  QLocalSocket socket;
  socket.connectToServer(ServerName());
  if (!socket.waitForConnected(timeoutMs)) return false;
  QStringList absolute;
  for (const QString& image : images) absolute << QFileInfo(image).absoluteFilePath();
  socket.write(Request(absolute));
  if (!socket.waitForBytesWritten(timeoutMs)) return false;
  // The running copy answers once it has taken the request.
  while (socket.bytesAvailable() < 1) {
    if (!socket.waitForReadyRead(timeoutMs)) return false;
  }
  return socket.read(1) == QByteArray(1, kAnswer);
}

bool TSingleInstance::Listen() {
  Server = new QLocalServer(this);
  Server->setSocketOptions(QLocalServer::UserAccessOption);
  const QString name = ServerName();
  if (!Server->listen(name)) {
    // Nobody answered on it a moment ago: a socket file left by a copy that ended
    // abnormally. Take it over, unless a copy started since answers now.
    if (Server->serverError() != QAbstractSocket::AddressInUseError) return false;
    QLocalSocket probe;
    probe.connectToServer(name);
    if (probe.waitForConnected(500)) return false;
    QLocalServer::removeServer(name);
    if (!Server->listen(name)) return false;
  }
  connect(Server, &QLocalServer::newConnection, this, [this] {
    while (QLocalSocket* socket = Server->nextPendingConnection()) {
      connect(socket, &QLocalSocket::disconnected, socket, &QObject::deleteLater);
      connect(socket, &QLocalSocket::readyRead, socket, [this, socket] {
        if (socket->bytesAvailable() > kMaxRequest) {
          socket->abort();
          return;
        }
        QStringList images;
        const TParse parsed = ParseRequest(socket->peek(kMaxRequest), images);
        if (parsed == TParse::Invalid) {
          socket->abort();
          return;
        }
        if (parsed == TParse::Incomplete) return;  // the rest comes with the next piece
        socket->readAll();
        socket->write(QByteArray(1, kAnswer));
        socket->flush();
        socket->disconnectFromServer();
        emit Activated(images);
      });
    }
  });
  return true;
}

}  // namespace restovo
