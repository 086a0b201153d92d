#include "app/HeadlessFrontEnd.h"

#include <csignal>
#include <filesystem>
#include <system_error>
#include <vector>

#include "app/FolderLock.h"
#include "app/MainWindow.h"
#include "config/ConfigurationFile.h"
#include "files/DataFolder.h"
#include "model/RecordDialogs.h"
#include "net/EventLoop.h"
#include "net/WSocket.h"

namespace vantrel {

TAnswer THeadlessUserInterface::Confirm(const std::string& question) {
  std::fprintf(stderr, "%s (answered No)\n", question.c_str());
  return TAnswer::No;
}

void THeadlessUserInterface::ShowError(const std::string& message) {
  std::fprintf(stderr, "%s\n", message.c_str());
}

TModalResult THeadlessUserInterface::ShowProxyProperties(TfrmProxyProperties& dialog) {
  dialog.Close();
  return dialog.ModalResult();
}

TModalResult THeadlessUserInterface::ShowTunnelProperties(TfrmTunnelProperties& dialog) {
  dialog.Close();
  return dialog.ModalResult();
}

void THeadlessUserInterface::OpenAddress(const std::string& address, bool /*maximised*/) {
  std::fprintf(stderr, "Open %s\n", address.c_str());
}

void THeadlessUserInterface::Terminate() {
  net::EventLoop::Default().Quit();
}

void THeadlessUserInterface::Notify(const std::string& title, const std::string& text) {
  std::fprintf(stderr, "%s: %s\n", title.c_str(), text.c_str());
}

TLogPrinter::TLogPrinter(TScreenLog& log, std::FILE* out) : log_(log), out_(out) {
  watch_ = log_.Watch([this](TScreenLogEvent event, const TLogEntry& entry) {
    if (event != TScreenLogEvent::Added || stopped_) return;
    for (const std::string& line : TScreenLog::ScreenLines(entry.text)) {
      std::fwrite(line.data(), 1, line.size(), out_);
      std::fputc('\n', out_);
    }
    // SIGPIPE is ignored: a closed pipe shows here as a failed write.
    if (std::fflush(out_) != 0 || std::ferror(out_)) stopped_ = true;
  });
}

namespace {

void PrintTrafficPage(TfrmVantrelMain& window) {
  if (std::ferror(stdout)) return;
  const std::string page = window.totals.TrafficPage() + window.totals.TopHosts();
  std::fwrite(page.data(), 1, page.size(), stdout);
  std::fflush(stdout);
}

}  // namespace

bool PrepareDataFolder(const TCommandLine& line) {
  if (line.dataDir) SetDataFolder(*line.dataDir);
  const std::filesystem::path folder = DataFolder();
  std::error_code error;
  std::filesystem::create_directories(folder, error);
  if (error || !std::filesystem::is_directory(folder)) {
    std::fprintf(stderr, "vantrel: cannot create data folder %s: %s\n", folder.c_str(),
                 error ? error.message().c_str() : "not a folder");
    return false;
  }
  return true;
}

int RunCheckConfig(const TCommandLine& line) {
  // Looks only: not even the data folder is created.
  if (line.dataDir) SetDataFolder(*line.dataDir);
  const std::vector<std::string> problems = CheckConfiguration();
  for (const std::string& problem : problems) std::printf("%s\n", problem.c_str());
  return problems.empty() ? 0 : 1;
}

int RunHeadless(const TCommandLine& line) {
  if (!PrepareDataFolder(line)) return 1;
  // The desktop program takes the same lock: two programs on one folder
  // would overwrite each other's saves.
  TFolderLock lock(DataFolder());
  if (!lock.Acquire()) {
    if (lock.Error().empty()) {
      std::fprintf(stderr, "%s\n", lock.InUseMessage().c_str());
      return 1;
    }
    // A folder where no lock can be made (read-only) still runs, as before.
    std::fprintf(stderr, "vantrel: cannot lock the data folder: %s\n", lock.Error().c_str());
  }
  if (line.sendBlocks) net::TWSocket::SendBlocksPerCall = *line.sendBlocks;
  auto& loop = net::EventLoop::Default();
  THeadlessUserInterface ui;
  TfrmVantrelMain window(ui);
  TLogPrinter printer(window.memStatus, stdout);
  // One call for every signal: a second call would re-arm the signal
  // descriptor with its own set only. Before the first line is printed:
  // whoever reads it may signal at once.
  loop.WatchSignals({SIGINT, SIGTERM, SIGHUP, SIGUSR1}, [&](int signal) {
    if (signal == SIGUSR1) {
      // The Traffic page, for whoever asks; not part of the activity log.
      PrintTrafficPage(window);
      return;
    }
    if (signal == SIGHUP) {
      // "Cancel Changes": the files again, the --port override with them.
      window.ReloadConfiguration();
      return;
    }
    loop.Quit();
  });
  loop.OnUnhandledException = [&window](const std::string& message) {
    window.ApplicationEvents1Exception(message);
  };
  window.configFile.SetPortOverride(line.port);

  window.FormCreate();
  window.log.DoComment("Headless mode, data folder \"" + DataFolder().string() + "\"", false);
  // Settings that are not the user's must not run, nor be saved over the
  // user's files at the end.
  if (window.configurationUnreadable) {
    std::fprintf(stderr, "vantrel: the configuration could not be read; not starting\n");
    loop.OnUnhandledException = nullptr;
    return 1;
  }
  // Started already when "Start Proxy Automatically" is set; a failed
  // automatic start is not tried twice.
  if (!window.controls.cbStartAutomatically.Checked()) window.StartProxy();
  // Without a window nobody can pick another port: a proxy that cannot
  // listen ends the program (the reason is already logged and on stderr).
  if (!window.lifecycle.Running()) {
    loop.OnUnhandledException = nullptr;
    return 1;
  }

  loop.Run();
  loop.OnUnhandledException = nullptr;
  window.log.FlushRepeats();
  PrintTrafficPage(window);
  // The end of a session: a configuration the user changed is saved without
  // asking, but never over a file edited since it was loaded.
  if (window.changes.IsChanged() && !window.configFile.SaveAndReload(TSaveCause::SessionEnd)) {
    return 1;
  }
  return 0;
}

}  // namespace vantrel
