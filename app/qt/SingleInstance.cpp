#include "app/qt/SingleInstance.h"

#include <QCryptographicHash>
#include <QDir>
#include <QLocalServer>
#include <QLocalSocket>
#include <QStandardPaths>
#include <system_error>

namespace vantrel {

namespace {

const QByteArray kRaise = QByteArrayLiteral("raise\n");

}  // namespace

TSingleInstance::TSingleInstance(const std::filesystem::path& dataFolder, QObject* parent)
    : QObject(parent) {
  std::error_code error;
  std::filesystem::path folder = std::filesystem::weakly_canonical(dataFolder, error);
  if (error) folder = dataFolder;
  lock_ = std::make_unique<TFolderLock>(folder);
  lockPath_ = QString::fromStdString(lock_->Path().string());
  // The socket's name stands for the folder; it lives in the user's runtime
  // folder, where other users cannot reach it.
  const QByteArray hash = QCryptographicHash::hash(QByteArray::fromStdString(folder.string()),
                                                   QCryptographicHash::Sha256)
                              .toHex()
                              .left(16);
  QString runtime = QStandardPaths::writableLocation(QStandardPaths::RuntimeLocation);
  if (runtime.isEmpty()) runtime = QDir::tempPath();
  serverName_ = QDir(runtime).filePath(QStringLiteral("vantrel-") + QString::fromLatin1(hash));
}

TSingleInstance::~TSingleInstance() {
  if (server_ != nullptr) server_->close();
  if (lock_) lock_->Release();
}

bool TSingleInstance::Acquire() {
  // A lock left by a process that is gone holds nothing: the system dropped
  // it with the process.
  if (!lock_->Acquire()) return false;
  QLocalServer::removeServer(serverName_);
  server_ = new QLocalServer(this);
  server_->setSocketOptions(QLocalServer::UserAccessOption);
  QObject::connect(server_, &QLocalServer::newConnection, this, [this] { Accept(); });
  // Without the socket a second launch cannot raise us, but the lock still
  // keeps it from running twice.
  server_->listen(serverName_);
  return true;
}

void TSingleInstance::Accept() {
  while (QLocalSocket* socket = server_->nextPendingConnection()) {
    QObject::connect(socket, &QLocalSocket::disconnected, socket, &QObject::deleteLater);
    QObject::connect(socket, &QLocalSocket::readyRead, this, [this, socket] {
      const QByteArray request = socket->readAll();
      if (request.startsWith(kRaise.trimmed()) && OnRaise) OnRaise();
      socket->disconnectFromServer();
    });
  }
}

std::string TSingleInstance::InUseMessage() const {
  if (!lock_->Error().empty()) return "vantrel: cannot lock the data folder: " + lock_->Error();
  return lock_->InUseMessage();
}

bool TSingleInstance::RaiseRunning(int timeoutMs) {
  QLocalSocket socket;
  socket.connectToServer(serverName_);
  if (!socket.waitForConnected(timeoutMs)) return false;
  socket.write(kRaise);
  if (!socket.waitForBytesWritten(timeoutMs)) return false;
  socket.disconnectFromServer();
  if (socket.state() != QLocalSocket::UnconnectedState) socket.waitForDisconnected(timeoutMs);
  return true;
}

}  // namespace vantrel
