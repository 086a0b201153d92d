#include <sys/resource.h>

#include <csignal>
#include <cstdio>
#include <filesystem>
#include <new>
#include <string>
#include <vector>

#include "app/CommandLine.h"
#include "app/HeadlessFrontEnd.h"
#include "files/DataFolder.h"
#include "model/Version.h"
#include "net/Resolver.h"

#ifdef VANTREL_GUI
#include "app/qt/DesktopFrontEnd.h"
#endif

namespace {

// Every proxied connection takes two descriptors; the usual soft limit of
// 1024 would refuse a busy browser long before memory or CPU run short.
void RaiseDescriptorLimit() {
  rlimit limit{};
  if (getrlimit(RLIMIT_NOFILE, &limit) == 0 && limit.rlim_cur < limit.rlim_max) {
    limit.rlim_cur = limit.rlim_max;
    setrlimit(RLIMIT_NOFILE, &limit);
  }
}

int RunImport(const vantrel::TCommandLine& line) {
  using namespace vantrel;
  namespace fs = std::filesystem;
  if (line.dataDir) SetDataFolder(*line.dataDir);
  // The first folder this import has to make: a failed import takes back
  // what it made, so no empty data folder stays behind.
  std::error_code ignored;
  fs::path made;
  for (fs::path folder = fs::absolute(DataFolder(), ignored);
       !folder.empty() && !fs::exists(folder, ignored); folder = folder.parent_path()) {
    made = folder;
    if (folder == folder.parent_path()) break;
  }
  if (!PrepareDataFolder(line)) return 1;
  routing::TImportOptions options;
  options.dataFolder = DataFolder();
  const int result = routing::RunCountryImport(*line.importCountry, options, stdout, stderr);
  if (result != 0 && !made.empty()) {
    // Only empty folders go: remove() leaves one with anything in it.
    for (fs::path folder = fs::absolute(DataFolder(), ignored);
         folder.string().size() >= made.string().size(); folder = folder.parent_path()) {
      if (!fs::remove(folder, ignored)) break;
    }
  }
  return result;
}

int Run(int argc, char** argv) {
  using namespace vantrel;
  TCommandLine line;
  try {
    line = ParseCommandLine(std::vector<std::string>(argv + 1, argv + argc));
  } catch (const EUsageError& error) {
    std::fprintf(stderr, "vantrel: %s\nTry 'vantrel --help' for more information.\n", error.what());
    return 2;
  }
  if (line.help) {
    std::fputs(UsageText().c_str(), stdout);
    return 0;
  }
  if (line.version) {
    std::puts(kProgramTitle);
    return 0;
  }
  if (line.importCountry) return RunImport(line);
  if (line.checkConfig) return RunCheckConfig(line);
  RaiseDescriptorLimit();
  // Before any front end starts: every lookup of the program goes there.
  if (!line.dnsServers.empty()) {
    std::string servers;
    for (const std::string& server : line.dnsServers) {
      servers += (servers.empty() ? "" : ",") + server;
    }
    if (!net::Resolver::Default().SetServers(servers)) {
      std::fprintf(stderr, "vantrel: the resolver refused the name servers %s\n", servers.c_str());
      return 1;
    }
  }
#ifdef VANTREL_GUI
  if (!line.headless) return RunDesktop(line, argc, argv);
#endif
  return RunHeadless(line);
}

}  // namespace

int main(int argc, char** argv) {
  // A reader of our output that went away must not end the service before
  // it saves; sockets already send without the signal.
  std::signal(SIGPIPE, SIG_IGN);
  try {
    return Run(argc, argv);
  } catch (const std::bad_alloc&) {
    std::fputs("vantrel: out of memory\n", stderr);
    return 1;
  }
}
