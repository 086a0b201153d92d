#pragma once
// The Qt application of the window front end: an exception that escapes any
// slot, timer or event handler is handed on instead of ending the program.

#include <QApplication>
#include <functional>
#include <string>

namespace vantrel {

class TApplication : public QApplication {
  Q_OBJECT
 public:
  TApplication(int& argc, char** argv);

  bool notify(QObject* receiver, QEvent* event) override;

  // Gets the message of every exception caught here; stderr when unset.
  std::function<void(const std::string& message)> OnException;

 private:
  void Report(const std::string& message);
};

}  // namespace vantrel
