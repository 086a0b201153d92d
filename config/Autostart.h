#pragma once
// "Start Vantrel when I log in": the desktop's autostart entry for this
// program. The switch shows whether the entry exists; checking it writes
// the entry, unchecking removes it. It is not a setting of proxy.ini and
// does not mark the configuration changed.

#include <filesystem>
#include <string>

#include "model/Controls.h"
#include "model/UserInterface.h"

namespace vantrel {

class TAutostart {
 public:
  TAutostart(TCheckBox& cbAutostart, TUserInterface& ui);

  // The entry: $XDG_CONFIG_HOME/autostart/vantrel.desktop, or
  // ~/.config/autostart/vantrel.desktop when that is unset or not absolute.
  static std::filesystem::path DefaultFile(const char* xdgConfigHome, const char* home);
  // The entry's text, the package's autostart entry with the given command.
  static std::string DesktopEntry(const std::string& exec);
  // The command: "vantrel" for the installed program with its default data
  // folder, otherwise this program's path and the data folder it runs with,
  // quoted as the desktop entry format wants.
  static std::string ExecLine(const std::filesystem::path& program,
                              const std::filesystem::path& dataFolder,
                              const std::filesystem::path& defaultFolder);

  const std::filesystem::path& File() const { return file_; }
  void SetFile(std::filesystem::path file) { file_ = std::move(file); }
  // Shows the entry's existence in the switch, without writing anything.
  void Refresh();
  // The switch's click: writes or removes the entry. A failure is shown and
  // the switch goes back to what is on disk.
  void cbAutostartClick(TControl& sender);

 private:
  bool Apply(bool on, std::string& error) const;

  TCheckBox& cbAutostart_;
  TUserInterface& ui_;
  std::filesystem::path file_;
  bool refreshing_ = false;
};

}  // namespace vantrel
