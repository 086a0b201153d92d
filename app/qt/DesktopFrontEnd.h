#pragma once
// The desktop front end: the window, its tray icon and the program's loop
// inside Qt's, started and ended in the same order as the headless one.

#include <optional>

#include "app/CommandLine.h"
#include "app/MainWindow.h"
#include "app/qt/LoopNotifier.h"
#include "app/qt/MainForm.h"
#include "app/qt/QtUserInterface.h"

namespace vantrel {

// Whether Qt can reach a screen: the display is opened first, since
// QApplication aborts on one it cannot open. An X connection so made is
// held until RunDesktop's application has its own.
bool HasDisplay();

// The window and what joins it to the program, for a QApplication that
// exists already. Members are destroyed in reverse: the form's views go
// before the window they show, the notifier first of all.
class TDesktop {
 public:
  explicit TDesktop(net::EventLoop& loop);
  ~TDesktop();
  TDesktop(const TDesktop&) = delete;
  TDesktop& operator=(const TDesktop&) = delete;

  // Start-up of the window: configuration, the window shown, iconified (no
  // tray) or left in the tray, the automatic start. As FormCreate.
  bool Start(std::optional<int> portOverride);
  // After the application's loop has returned: no socket is served from
  // here on, so nothing runs against a window being destroyed.
  void Finish();

  net::EventLoop& loop;
  TQtUserInterface ui;
  TfrmVantrelMain window{ui};
  TMainForm form{window, ui};
  TLoopNotifier notifier{loop};
};

// Runs the program with its window until Close, a session end or SIGTERM.
// Returns the process's exit code; 2 when there is no display.
int RunDesktop(const TCommandLine& line, int& argc, char** argv);

}  // namespace vantrel
