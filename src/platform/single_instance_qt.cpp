#include <QCoreApplication>
#include <QCryptographicHash>
#include <QDir>
#include <QLocalServer>
#include <QLocalSocket>
#include <QLockFile>
#include <QThread>

#include "platform/single_instance.h"

namespace platform::ui {
namespace {

// The local socket's name: derived from the lock file, so one user's launchers (and a test's own folder) meet.
QString serverName(const Path& lockFile) {
  const QByteArray digest =
      QCryptographicHash::hash(QByteArray::fromStdString(lockFile.string()), QCryptographicHash::Sha256);
  return QStringLiteral("lanqi-launcher-") + QString::fromLatin1(digest.toHex().left(24));
}

class QtSingleInstance final : public SingleInstance {
 public:
  QtSingleInstance(std::unique_ptr<QLockFile> lock, const QString& name, std::function<void()> onAnotherStart)
      : lock_(std::move(lock)) {
    QLocalServer::removeServer(name);  // we hold the lock: a socket left there is a dead launcher's
    server_.setSocketOptions(QLocalServer::UserAccessOption);
    if (!server_.listen(name)) return;  // later starts then find no one to ask, and end all the same
    QObject::connect(&server_, &QLocalServer::newConnection, &server_, [this, onAnotherStart] {
      while (QLocalSocket* socket = server_.nextPendingConnection()) {
        QObject::connect(socket, &QLocalSocket::disconnected, socket, &QObject::deleteLater);
        onAnotherStart();
      }
    });
  }

 private:
  std::unique_ptr<QLockFile> lock_;
  QLocalServer server_;
};

}  // namespace

std::unique_ptr<SingleInstance> SingleInstance::claim(const Path& lockFile, std::function<void()> onAnotherStart) {
  const QString path = QString::fromStdString(lockFile.string());
  QDir().mkpath(QString::fromStdString(lockFile.parent_path().string()));
  auto lock = std::make_unique<QLockFile>(path);
  lock->setStaleLockTime(0);  // held as long as its process lives, however long that is
  const QString name = serverName(lockFile);
  if (lock->tryLock(0)) return std::make_unique<QtSingleInstance>(std::move(lock), name, std::move(onAnotherStart));
  if (lock->error() != QLockFile::LockFailedError) {
    // No lock file to be had (a folder that cannot be written): run alone.
    return std::make_unique<QtSingleInstance>(
        nullptr, name + QStringLiteral("-") + QString::number(QCoreApplication::applicationPid()),
        std::move(onAnotherStart));
  }
  // Another launcher holds it: ask it to come to the front. It may still be starting, so try for a moment.
  for (int attempt = 0; attempt < 20; ++attempt) {
    QLocalSocket socket;
    socket.connectToServer(name);
    if (socket.waitForConnected(500)) {
      socket.write("front\n");
      socket.waitForBytesWritten(500);
      socket.disconnectFromServer();
      return nullptr;
    }
    QThread::msleep(100);
  }
  return nullptr;
}

}  // namespace platform::ui
