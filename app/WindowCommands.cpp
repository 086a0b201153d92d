#include "app/WindowCommands.h"

#include "model/Version.h"

namespace vantrel {

TWindowCommands::TWindowCommands(TMainControls& controls, TProxyLifecycle& lifecycle,
                                 TChangeTracker& changes, TConfigurationFile& configFile,
                                 TUserInterface& ui)
    : controls_(controls),
      lifecycle_(lifecycle),
      changes_(changes),
      configFile_(configFile),
      ui_(ui) {}

namespace {

// Set for the life of the scope; the flag is known clear on entry.
class TScopedFlag {
 public:
  explicit TScopedFlag(bool& flag) : flag_(flag) { flag_ = true; }
  ~TScopedFlag() { flag_ = false; }
  TScopedFlag(const TScopedFlag&) = delete;
  TScopedFlag& operator=(const TScopedFlag&) = delete;

 private:
  bool& flag_;
};

}  // namespace

void TWindowCommands::Close1Click(TControl& /*sender*/) {
  // A question box runs a nested loop: a second "Close" from the tray, or
  // the session's end, can arrive while one is open.
  if (closing_ || ending_) return;
  TScopedFlag closing(closing_);
  if (lifecycle_.Running() &&
      ui_.Confirm("Proxy is active - closing will disable it. Are you sure?") != TAnswer::Yes) {
    return;
  }
  if (ending_) return;
  if (changes_.IsChanged() &&
      ui_.Confirm("Configuration has changed - save it before closing?") == TAnswer::Yes) {
    // The failure is already shown; ending now would lose the edits.
    if (!configFile_.SaveConfiguration(TSaveCause::Closing)) return;
  }
  if (ending_) return;
  if (!FormCloseQuery()) return;
  if (ending_) return;
  End();
}

bool TWindowCommands::FormCloseQuery() {
  return configFile_.FormCloseQuery();
}

void TWindowCommands::SessionEnd() {
  if (ending_) return;
  // Whatever else is open, the session will not wait for it.
  ending_ = true;
  if (changes_.IsChanged()) {
    std::string failure;
    configFile_.reportFailure = [&failure](const std::string& message) { failure = message; };
    const bool saved = configFile_.SaveAndReload(TSaveCause::SessionEnd);
    configFile_.reportFailure = nullptr;
    if (!saved) {
      std::fprintf(errorStream, "vantrel: the configuration was not saved at session end: %s\n",
                   failure.c_str());
      std::fflush(errorStream);
    }
  }
  ui_.Terminate();
}

void TWindowCommands::End() {
  ending_ = true;
  ui_.Terminate();
}

void TWindowCommands::Restore1Click(TControl& /*sender*/) {
  ui_.ShowApplication();
}

void TWindowCommands::FormClose() {
  ui_.HideApplication();
}

void TWindowCommands::jvlWebsiteClick(TControl& sender) {
  ui_.OpenAddress(sender.Caption(), false);
}

void TWindowCommands::jvlEmailClick(TControl& sender) {
  ui_.OpenAddress(MailAddress(sender.Caption()), false);
}

void TWindowCommands::Button3Click(TControl& /*sender*/) {
  ui_.OpenAddress(TMainControls::kDonationAddress, true);
}

std::string MailAddress(const std::string& address) {
  std::string subject = kProgramTitle;
  for (size_t at = subject.find(' '); at != std::string::npos; at = subject.find(' ', at)) {
    subject.replace(at, 1, "%20");
  }
  return "mailto:" + address + "?Subject=" + subject;
}

}  // namespace vantrel
