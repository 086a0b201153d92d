#pragma once
// One running program per data folder: the folder's lock, shared with the
// headless program, and a local socket on which a second launch asks the
// first to show its window. Two processes on one folder would fight over
// proxy.ini and the port.

#include <QObject>
#include <QString>
#include <filesystem>
#include <functional>
#include <memory>
#include <string>

#include "app/FolderLock.h"

class QLocalServer;

namespace vantrel {

class TSingleInstance : public QObject {
  Q_OBJECT
 public:
  explicit TSingleInstance(const std::filesystem::path& dataFolder, QObject* parent = nullptr);
  ~TSingleInstance() override;

  // True when this process is now the one for the folder.
  bool Acquire();
  // From a second launch: asks the running one to show its window. False
  // when it did not answer.
  bool RaiseRunning(int timeoutMs = 2000);

  QString ServerName() const { return serverName_; }
  QString LockPath() const { return lockPath_; }
  // "Another Vantrel is using <folder> (pid N)", after a failed Acquire.
  std::string InUseMessage() const;

  // The running instance: a second launch asked for the window.
  std::function<void()> OnRaise;

 private:
  void Accept();

  QString lockPath_;
  QString serverName_;
  std::unique_ptr<TFolderLock> lock_;
  QLocalServer* server_ = nullptr;
};

}  // namespace vantrel
