#pragma once
// The front end without a screen: the activity log goes to standard output,
// questions are answered No, dialogs are cancelled, errors go to standard
// error.

#include <cstdio>
#include <string>

#include "app/CommandLine.h"
#include "app/ScreenLog.h"
#include "model/UserInterface.h"

namespace vantrel {

class THeadlessUserInterface : public TUserInterface {
 public:
  TAnswer Confirm(const std::string& question) override;
  void ShowError(const std::string& message) override;
  TModalResult ShowProxyProperties(TfrmProxyProperties& dialog) override;
  TModalResult ShowTunnelProperties(TfrmTunnelProperties& dialog) override;
  void SetTrayHint(const std::string& hint) override { trayHint_ = hint; }
  void ShowApplication() override {}
  void HideApplication() override {}
  void OpenAddress(const std::string& address, bool maximised) override;
  // Ends the default event loop's run.
  void Terminate() override;
  // Written to standard error: there is no desktop to show it.
  void Notify(const std::string& title, const std::string& text) override;

 private:
  std::string trayHint_;
};

// Prints every line added to the screen log, as the screen shows it, and
// flushes at once so a reader sees each line as it happens. A reader that
// went away (`| head`) ends the printing, not the program.
class TLogPrinter {
 public:
  TLogPrinter(TScreenLog& log, std::FILE* out);

 private:
  TScreenLog& log_;
  std::FILE* out_;
  bool stopped_ = false;
  TSubscription watch_;
};

// The data folder of the command line or the default one, created when
// missing; false, reported on standard error, when it cannot be.
bool PrepareDataFolder(const TCommandLine& line);

// Runs the program without a window until SIGINT or SIGTERM, which save a
// changed configuration first; SIGHUP reloads the configuration files.
// Returns the process's exit code: 1 when another program uses the data
// folder, the configuration could not be read, the proxy could not listen
// or the final save failed.
int RunHeadless(const TCommandLine& line);

// Prints the configuration lines that are ignored or blanked; 0 when there
// is none, 1 otherwise. Changes no file.
int RunCheckConfig(const TCommandLine& line);

}  // namespace vantrel
