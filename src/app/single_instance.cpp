#include "app/single_instance.h"

#include <unistd.h>

#include <QDir>
#include <QLocalSocket>
#include <QStandardPaths>

namespace orv::ui {

namespace {
QString RuntimeDir() {
  QString dir = QStandardPaths::writableLocation(QStandardPaths::RuntimeLocation);
  if (!dir.isEmpty() && QDir(dir).exists()) return dir;
  return QDir::tempPath();
}
}  // namespace

TSingleInstance::TSingleInstance(const QString& name, QObject* parent) : QObject(parent) {
  // The temporary directory is shared: the user id keeps users apart.
  const QString base = RuntimeDir() + "/" + name + "-" + QString::number(getuid());
  lockPath_ = base + ".lock";
  serverName_ = base + ".sock";
}

TSingleInstance::~TSingleInstance() {
  if (server_) server_->close();
}

bool TSingleInstance::BecomeFirst() {
  lock_ = std::make_unique<QLockFile>(lockPath_);
  // A lock left by a process that no longer runs is taken over at once.
  lock_->setStaleLockTime(0);
  if (lock_->tryLock(0)) return true;
  lock_.reset();
  return false;
}

bool TSingleInstance::Listen() {
  if (!lock_) return false;
  // Only the lock holder gets here, so an existing socket file is stale.
  QLocalServer::removeServer(serverName_);
  server_ = new QLocalServer(this);
  server_->setSocketOptions(QLocalServer::UserAccessOption);
  connect(server_, &QLocalServer::newConnection, this, [this] {
    while (QLocalSocket* s = server_->nextPendingConnection()) {
      connect(s, &QLocalSocket::disconnected, s, &QObject::deleteLater);
      connect(s, &QLocalSocket::readyRead, this, [this, s] {
        // One short command; anything else is ignored.
        const QByteArray line = s->read(64);
        if (line.startsWith("raise")) emit RaiseRequested();
        s->disconnectFromServer();
      });
    }
  });
  return server_->listen(serverName_);
}

bool TSingleInstance::AskFirstToRaise(int timeoutMs) {
  QLocalSocket socket;
  socket.connectToServer(serverName_);
  if (!socket.waitForConnected(timeoutMs)) return false;
  socket.write("raise\n");
  if (!socket.waitForBytesWritten(timeoutMs)) return false;
  socket.waitForDisconnected(timeoutMs);
  return true;
}

}  // namespace orv::ui
