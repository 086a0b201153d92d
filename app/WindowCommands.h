#pragma once
// The window's own commands: closing and ending the program, the tray menu,
// hiding, the links of the About and Blocked Hosts pages. Ending asks its
// questions while the event loop still runs, so nothing asks during
// destruction, and it never ends after a save that failed.

#include <cstdio>
#include <string>

#include "app/ProxyLifecycle.h"
#include "model/ChangeTracker.h"
#include "config/ConfigurationFile.h"
#include "model/Controls.h"
#include "model/MainControls.h"
#include "model/UserInterface.h"

namespace vantrel {

class TWindowCommands {
 public:
  TWindowCommands(TMainControls& controls, TProxyLifecycle& lifecycle, TChangeTracker& changes,
                  TConfigurationFile& configFile, TUserInterface& ui);

  // "Close" (button and tray menu): the questions, then Terminate. Ignored
  // while its own questions are open or the program is already ending; a
  // failed save keeps the program running with the error shown.
  void Close1Click(TControl& sender);
  // "Restore" (tray menu, tray double-click): shows the application.
  void Restore1Click(TControl& sender);
  // The close box and minimising only hide the window to the tray.
  void FormClose();
  // The last question, "Configuration was changed - save before closing?",
  // asked while the loop still runs. True when the program may end: nothing
  // changed, the answer was No, or the save worked.
  bool FormCloseQuery();
  // The session ends (log-off, shutdown, SIGTERM): a changed configuration
  // is saved without a question, except over a file edited on disk since
  // the load; a failure goes to the error stream and the log, and the
  // program ends whatever happened.
  void SessionEnd();

  // Links: the label's caption is the address.
  void jvlWebsiteClick(TControl& sender);
  void jvlEmailClick(TControl& sender);
  void Button3Click(TControl& sender);

  // Set once Terminate was asked for.
  bool Ending() const { return ending_; }

  // Where SessionEnd writes a failed save; tests point it elsewhere.
  std::FILE* errorStream = stderr;

 private:
  void End();

  TMainControls& controls_;
  TProxyLifecycle& lifecycle_;
  TChangeTracker& changes_;
  TConfigurationFile& configFile_;
  TUserInterface& ui_;
  bool closing_ = false;
  bool ending_ = false;
};

// "mailto:" + address + "?Subject=" + the program title, the space encoded.
std::string MailAddress(const std::string& address);

}  // namespace vantrel
