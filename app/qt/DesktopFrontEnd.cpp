#include "app/qt/DesktopFrontEnd.h"

#include <dlfcn.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <QAction>
#include <QGuiApplication>
#include <QMenu>
#include <QSessionManager>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "app/HeadlessFrontEnd.h"
#include "app/qt/Application.h"
#include "app/qt/ControlBinding.h"
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

// The display's connection made to try it, held until Qt has opened its
// own: an X server whose last client leaves resets itself, and a
// connection made during the reset fails (Qt would then abort after all).
class THeldDisplay {
 public:
  using Disconnect = void (*)(void*);
  ~THeldDisplay() { Release(); }
  void Hold(void* library, void* connection, Disconnect disconnect) {
    Release();
    library_ = library;
    connection_ = connection;
    disconnect_ = disconnect;
  }
  void Release() {
    if (connection_ != nullptr) disconnect_(connection_);
    if (library_ != nullptr) ::dlclose(library_);
    library_ = connection_ = nullptr;
  }

 private:
  void* library_ = nullptr;
  void* connection_ = nullptr;
  Disconnect disconnect_ = nullptr;
};

THeldDisplay& HeldDisplay() {
  static THeldDisplay held;
  return held;
}

// Qt aborts when its display cannot be opened, so the display is opened
// here first, with the library Qt's own X11 plugin uses (loaded only for
// this, so the program needs it only where X11 is used at all): a stale
// socket in /tmp/.X11-unix, a server gone from "localhost:N", a refused
// authorisation all fail here.
bool XDisplayReachable(const std::string& display) {
  if (display.empty()) return false;
  void* library = ::dlopen("libxcb.so.1", RTLD_NOW | RTLD_LOCAL);
  if (library == nullptr) return false;
  using Connect = void* (*)(const char*, int*);
  using HasError = int (*)(void*);
  auto connect = reinterpret_cast<Connect>(::dlsym(library, "xcb_connect"));
  auto hasError = reinterpret_cast<HasError>(::dlsym(library, "xcb_connection_has_error"));
  auto disconnect = reinterpret_cast<THeldDisplay::Disconnect>(::dlsym(library, "xcb_disconnect"));
  if (connect != nullptr && hasError != nullptr && disconnect != nullptr) {
    void* connection = connect(display.c_str(), nullptr);
    // Even a failed connection is an object that must be given back.
    if (connection != nullptr && hasError(connection) == 0) {
      HeldDisplay().Hold(library, connection, disconnect);
      return true;
    }
    if (connection != nullptr) disconnect(connection);
  }
  ::dlclose(library);
  return false;
}

// A Wayland compositor listens on a socket named by WAYLAND_DISPLAY, in
// XDG_RUNTIME_DIR unless the name is a path.
bool WaylandDisplayReachable(const std::string& name) {
  if (name.empty()) return false;
  std::string path = name;
  if (name[0] != '/') {
    const std::string runtime = Environment("XDG_RUNTIME_DIR");
    if (runtime.empty()) return false;
    path = runtime + "/" + name;
  }
  sockaddr_un address{};
  if (path.size() >= sizeof address.sun_path) return false;
  address.sun_family = AF_UNIX;
  std::memcpy(address.sun_path, path.c_str(), path.size() + 1);
  const int fd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
  if (fd < 0) return false;
  const bool reachable =
      ::connect(fd, reinterpret_cast<const sockaddr*>(&address), sizeof address) == 0;
  ::close(fd);
  return reachable;
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
  if (platform.rfind("wayland", 0) == 0) return WaylandDisplayReachable(wayland);
  if (platform.rfind("xcb", 0) == 0) return XDisplayReachable(x11);
  return WaylandDisplayReachable(wayland) || XDisplayReachable(x11);
}

TDesktop::TDesktop(net::EventLoop& eventLoop) : loop(eventLoop) {
  ui.SetMainWidget(&form);
  auto& commands = window.commands;
  ui.Tray().OnRestore = [this] { window.controls.Restore1.Click(); };
  ui.Tray().OnClose = [this] { window.controls.Close1.Click(); };
  // The tray menu's status line and Start/Stop follow the main window;
  // bound through the form, which goes before the window's controls do.
  TTrayIcon& tray = ui.Tray();
  auto refreshMenu = [this, &tray] {
    tray.StatusAction()->setText(QString::fromStdString(window.lifecycle.StatusLine()));
    tray.StartAction()->setText(QString::fromStdString(window.controls.btnStart.Caption()));
    tray.StartAction()->setEnabled(window.controls.btnStart.Enabled());
  };
  Follow(&form, window.controls.btnStart, refreshMenu);
  Follow(&form, window.controls.lblProxyStatus, refreshMenu);
  Follow(&form, window.controls.edProxyPort, refreshMenu);
  QObject::connect(tray.Menu(), &QMenu::aboutToShow, &form, refreshMenu);
  QObject::connect(tray.StartAction(), &QAction::triggered, &form,
                   [this] { window.controls.btnStart.Click(); });
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
      const std::string page = window.totals.TrafficPage() + window.totals.TopHosts();
      std::fwrite(page.data(), 1, page.size(), stdout);
      std::fflush(stdout);
    } else if (signal == SIGHUP) {
      window.ReloadConfiguration();
    } else {
      // Wayland sessions and systemd end us this way: a session end.
      window.commands.SessionEnd();
    }
  });

  TApplication app(argc, argv);
  HeldDisplay().Release();  // Qt has its own connection now
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
