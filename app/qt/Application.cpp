#include "app/qt/Application.h"

#include <cstdio>
#include <exception>

namespace vantrel {

TApplication::TApplication(int& argc, char** argv) : QApplication(argc, argv) {}

bool TApplication::notify(QObject* receiver, QEvent* event) {
  try {
    return QApplication::notify(receiver, event);
  } catch (const std::exception& e) {
    Report(e.what());
  } catch (...) {
    Report("unknown exception");
  }
  return false;
}

void TApplication::Report(const std::string& message) {
  if (OnException) {
    try {
      OnException(message);
      return;
    } catch (...) {
    }
  }
  std::fprintf(stderr, "EXCEPTION: %s\n", message.c_str());
}

}  // namespace vantrel
