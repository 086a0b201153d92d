#pragma once
// The one place that knows where the program's files live: proxy.ini, the
// list files, the country data and the log folder.

#include <filesystem>
#include <string>

namespace vantrel {

// The data folder: the executable's folder unless SetDataFolder chose one.
std::filesystem::path DataFolder();
void SetDataFolder(const std::filesystem::path& folder);
// A file or folder inside the data folder.
std::filesystem::path DataPath(const std::string& name);

}  // namespace vantrel
