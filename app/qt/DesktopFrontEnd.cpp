#include "app/qt/DesktopFrontEnd.h"

#include <sys/stat.h>

#include <QGuiApplication>
#include <QSessionManager>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "app/HeadlessFrontEnd.h"
#include "app/qt/Application.h"
#include "app/qt/SingleInstance.h"
#include "app/qt/TrayIcon.h"
#include "files/DataFolder.h"
#include "model/Version.h"
#include "net/WSocket.h"

namespace vantrel {

namespace {

std::string Environment(const char* name) {
  const char* value = std::getenv(name);
  return value != nullptr ? value : "";
}

// ":N" and ":N.S" are local X servers with a socket in /tmp/.X11-unix; any
// other form (ssh's "localhost:10") is trusted.
bool LocalXServerGone(const std::string& display) {
  if (display.empty() || display[0] != ':') return false;
  const std::string number = display.substr(1, display.find('.') - 1);
  if (number.empty() || number.find_first_not_of("0123456789") != std::string::npos) return false;
  struct stat info {};
  return ::stat(("/tmp/.X11-unix/X" + number).c_str(), &info) != 0;
}

TApplication* Application() {
  return qobject_cast<TApplication*>(QCoreApplication::instance());
}

}  // namespace

bool HasDisplay() {
  const std::string platform = Environment("QT_QPA_PLATFORM");
  const std::string x11 = Environment("DISPLAY");
  const std::string wayland = Environment("WAYLAND_DISPLAY");
  // offscreen, minimal, vnc, eglfs... need no display server.
  if (!platform.empty() && platform.rfind("xcb", 0) != 0 && platform.rfind("wayland", 0) != 0) {
    return true;
  }
  if (platform.rfind("wayland", 0) == 0) return !wayland.empty();
  if (platform.rfind("xcb", 0) == 0) return !x11.empty() && !LocalXServerGone(x11);
  return !wayland.empty() || (!x11.empty() && !LocalXServerGone(x11));
}

TDesktop::TDesktop(net::EventLoop& eventLoop) : loop(eventLoop) {
  ui.SetMainWidget(&form);
  auto& commands = window.commands;
  ui.Tray().OnRestore = [this] { window.controls.Restore1.Click(); };
  ui.Tray().OnClose = [this] { window.controls.Close1.Click(); };
  form.OnFormClose = [&commands] { commands.FormClose(); };
  ui.OnTerminate = [this] { form.SaveGeometry(); };
  loop.OnUnhandledException = [this](const std::string& message) {
    window.ApplicationEvents1Exception(message);
  };
  if (TApplication* app = Application()) {
    app->OnException = [this](const std::string& message) {
      window.ApplicationEvents1Exception(message);
    };
  }
  // Log-off or shutdown of an X11 session: save without asking, inside the
  // signal itself, since the session manager may end us right after.
  QObject::connect(
      qGuiApp, &QGuiApplication::commitDataRequest, &form,
      [&commands](QSessionManager&) { commands.SessionEnd(); }, Qt::DirectConnection);
}

TDesktop::~TDesktop() {
  Finish();
}

bool TDesktop::Start(std::optional<int> portOverride) {
  window.configFile.SetPortOverride(portOverride);
  form.RestoreGeometry();
  const bool ok = window.FormCreate();
  // "Minimize on Start" without a tray host: the task bar is the only way
  // back, so the window starts iconified rather than hidden.
  if (!form.isVisible() && !ui.Tray().TrayMode()) form.showMinimized();
  return ok;
}

void TDesktop::Finish() {
  notifier.Stop();
  loop.OnUnhandledException = nullptr;
  if (TApplication* app = Application()) app->OnException = nullptr;
}

int RunDesktop(const TCommandLine& line, int& argc, char** argv) {
  if (!HasDisplay()) {
    std::fprintf(stderr,
                 "vantrel: no display to open the window on (DISPLAY and WAYLAND_DISPLAY are "
                 "unset or unreachable).\nRun 'vantrel --headless' to run without a window.\n");
    return 2;
  }
  if (!PrepareDataFolder(line)) return 1;
  if (line.sendBlocks) net::TWSocket::SendBlocksPerCall = *line.sendBlocks;
  auto& loop = net::EventLoop::Default();

  // Before QApplication starts its threads, or they would take the signals
  // with the default action (SIGTERM would end us without saving).
  TDesktop* desktop = nullptr;
  bool terminateAtStart = false;
  loop.WatchSignals({SIGINT, SIGTERM, SIGHUP, SIGUSR1}, [&](int signal) {
    if (desktop == nullptr) {
      if (signal == SIGINT || signal == SIGTERM) terminateAtStart = true;
      return;
    }
    TfrmVantrelMain& window = desktop->window;
    if (signal == SIGUSR1) {
      const std::string page = window.totals.TrafficPage();
      std::fwrite(page.data(), 1, page.size(), stdout);
      std::fflush(stdout);
    } else if (signal == SIGHUP) {
      window.log.ReopenLogFile();  // after a rotation
      window.configFile.Reload();
    } else {
      // Wayland sessions and systemd end us this way: a session end.
      window.commands.SessionEnd();
    }
  });

  TApplication app(argc, argv);
  QCoreApplication::setOrganizationName(QStringLiteral("vantrel"));
  QCoreApplication::setApplicationName(QStringLiteral("vantrel"));
  // Wayland docks tie the window to the installed menu entry by this name.
  QGuiApplication::setDesktopFileName(QStringLiteral("vantrel"));
  QGuiApplication::setWindowIcon(TTrayIcon::IconFor(TTrayIcon::TState::Active));
  // A message box closed while the window is hidden must not end us.
  QApplication::setQuitOnLastWindowClosed(false);

  TSingleInstance instance(DataFolder());
  if (!instance.Acquire()) {
    if (instance.RaiseRunning()) {
      std::fprintf(stderr, "vantrel: already running for the data folder %s; its window is shown\n",
                   DataFolder().c_str());
      return 0;
    }
    std::fprintf(stderr, "%s\n", instance.InUseMessage().c_str());
    return 1;
  }

  TDesktop running(loop);
  desktop = &running;
  instance.OnRaise = [&running] { running.ui.ShowApplication(); };
  running.Start(line.port);
  running.window.log.DoComment("Data folder \"" + DataFolder().string() + "\"", false);
  if (terminateAtStart) running.window.commands.SessionEnd();

  const int code = running.ui.Terminating() ? 0 : app.exec();
  running.Finish();
  desktop = nullptr;
  return code;
}

}  // namespace vantrel
