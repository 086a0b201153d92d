#include "app/HeadlessFrontEnd.h"

#include <csignal>
#include <filesystem>
#include <system_error>

#include "app/MainWindow.h"
#include "config/DataFolder.h"
#include "config/RecordDialogs.h"
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

TLogPrinter::TLogPrinter(TScreenLog& log, std::FILE* out) : log_(log), out_(out) {
  token_ = log_.Subscribe([this](TScreenLogEvent event, const TLogEntry& entry) {
    if (event != TScreenLogEvent::Added) return;
    for (const std::string& line : TScreenLog::ScreenLines(entry.text)) {
      std::fwrite(line.data(), 1, line.size(), out_);
      std::fputc('\n', out_);
    }
    std::fflush(out_);
  });
}

TLogPrinter::~TLogPrinter() {
  log_.Unsubscribe(token_);
}

int RunHeadless(const TCommandLine& line) {
  if (line.dataDir) {
    std::error_code error;
    std::filesystem::create_directories(*line.dataDir, error);
    if (error || !std::filesystem::is_directory(*line.dataDir)) {
      std::fprintf(stderr, "vantrel: cannot create data folder %s: %s\n", line.dataDir->c_str(),
                   error ? error.message().c_str() : "not a folder");
      return 1;
    }
    SetDataFolder(*line.dataDir);
  }

  if (line.sendBlocks) net::TWSocket::SendBlocksPerCall = *line.sendBlocks;
  auto& loop = net::EventLoop::Default();
  // Before the first line is printed: whoever reads it may signal at once.
  loop.WatchSignals({SIGINT, SIGTERM}, [&loop](int) { loop.Quit(); });
  THeadlessUserInterface ui;
  TfrmVantrelMain window(ui);
  TLogPrinter printer(window.memStatus, stdout);
  loop.OnUnhandledException = [&window](const std::string& message) {
    window.ApplicationEvents1Exception(message);
  };

  window.FormCreate();
  if (line.port) {
    window.controls.edProxyPort.SetText(std::to_string(*line.port));
    // Typed for this run only; not a change worth saving.
    window.changes.SetChanged(false);
  }
  window.log.DoComment("Headless mode, data folder \"" + DataFolder().string() + "\"", false);
  window.StartProxy();
  // Without a window nobody can pick another port: a proxy that cannot
  // listen ends the program (the reason is already logged and on stderr).
  if (!window.lifecycle.Running()) {
    loop.OnUnhandledException = nullptr;
    return 1;
  }

  loop.Run();
  loop.OnUnhandledException = nullptr;
  return 0;
}

}  // namespace vantrel
