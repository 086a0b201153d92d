#pragma once
// The one place that knows where the program's files live: proxy.ini, the
// list files, the country data and the log folder.

#include <filesystem>
#include <string>

namespace vantrel {

// The data folder: the one SetDataFolder chose, otherwise the executable's
// folder, except for a program installed under /usr (see DefaultDataFolder).
std::filesystem::path DataFolder();
void SetDataFolder(const std::filesystem::path& folder);
// Whether SetDataFolder chose it (--data-dir), rather than the default.
bool DataFolderGiven();
// A file or folder inside the data folder.
std::filesystem::path DataPath(const std::string& name);

// The folder used without --data-dir for a program in exeFolder. Users can
// neither write nor should write under /usr: a program there keeps its files
// in $XDG_CONFIG_HOME/vantrel, or ~/.config/vantrel when that is unset or
// not an absolute path. xdgConfigHome and home may be null.
std::filesystem::path DefaultDataFolder(const std::filesystem::path& exeFolder,
                                        const char* xdgConfigHome, const char* home);

}  // namespace vantrel
