#pragma once
// "Use Vantrel for this desktop": points the desktop's own proxy settings
// (GNOME through gsettings, KDE Plasma through kwriteconfig5/6 and its
// reparse signal) at this program, and puts the desktop's earlier values
// back on the second click. The earlier values are kept in the data folder
// until then, so they survive a restart of the program.

#include <cstdint>
#include <functional>
#include <string>
#include <utility>
#include <vector>

#include "app/CommandRunner.h"
#include "model/Controls.h"
#include "model/UserInterface.h"

namespace vantrel {

enum class TDesktopKind { None, Gnome, Kde };

// From XDG_CURRENT_DESKTOP, a colon-separated list ("ubuntu:GNOME").
TDesktopKind DesktopKindOf(const std::string& currentDesktop);

// The smallest set of CIDR blocks ("10.0.0.0/8") covering the range
// first..last.
std::vector<std::string> RangeToCidr(uint32_t first, uint32_t last);

class TDesktopProxySettings {
 public:
  static constexpr const char* kStateFile = "desktopproxy.dat";

  struct TSources {
    // The port the desktop is pointed at.
    std::function<int()> port;
    // Address ranges ("first-last", dotted) that go around the proxy.
    std::function<std::vector<std::string>()> bypassRanges;
  };

  TDesktopProxySettings(TDesktopKind kind, TCommandRunner run, TSources sources,
                        TUserInterface& ui);

  TButton btnUseForDesktop{"btnUseForDesktop", "Use Vantrel for this desktop"};

  // Shown on GNOME and KDE only; its caption says which click comes next.
  void Refresh();
  void btnUseForDesktopClick(TControl& sender);
  // Whether the desktop's earlier values are kept, waiting to go back.
  bool InUse() const;

  // Whether a tool is installed; tests replace it.
  std::function<bool(const std::string& name)> commandExists = CommandExists;

 private:
  struct TSetting {
    std::string target;  // "schema key" or a kioslaverc key
    std::string value;
  };
  bool Use(std::string& error);
  bool StopUsing(std::string& error);
  bool ToolsThere(std::string& error) const;
  std::vector<TSetting> Wanted() const;
  bool Read(const std::string& target, std::string& value, std::string& error) const;
  bool Write(const TSetting& setting, std::string& error) const;
  bool Tell(std::string& error) const;
  std::string Tool(const char* base) const;

  TDesktopKind kind_;
  TCommandRunner run_;
  TSources sources_;
  TUserInterface& ui_;
};

}  // namespace vantrel
