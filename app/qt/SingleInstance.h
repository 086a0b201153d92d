#pragma once
// One running program per data folder: a lock file in the folder, and a
// local socket on which a second launch asks the first to show its window.
// Two processes on one folder would fight over proxy.ini and the port.

#include <QLockFile>
#include <QObject>
#include <QString>
#include <filesystem>
#include <functional>
#include <memory>

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

  // The running instance: a second launch asked for the window.
  std::function<void()> OnRaise;

 private:
  void Accept();

  QString lockPath_;
  QString serverName_;
  std::unique_ptr<QLockFile> lock_;
  QLocalServer* server_ = nullptr;
};

}  // namespace vantrel
