#pragma once

#include <filesystem>
#include <optional>
#include <stdexcept>
#include <string>
#include <vector>

#include "hosts/CountryImport.h"

namespace vantrel {

struct TCommandLine {
  bool headless = false;
  bool help = false;
  bool version = false;
  // Report the lines of the configuration files that are ignored or blanked.
  bool checkConfig = false;
  std::optional<int> port;
  std::optional<std::filesystem::path> dataDir;
  // Send-queue blocks handed to the system per call (throughput tuning).
  std::optional<int> sendBlocks;
  // Name servers for every lookup, as the resolver takes them ("IP:PORT",
  // "[IPv6]:PORT"); empty: the system's.
  std::vector<std::string> dnsServers;
  // --import-country FORMAT FILE...: make the country files and exit.
  std::optional<routing::TImportRequest> importCountry;
};

// A command line we cannot act on; the message says why.
class EUsageError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

// Arguments without the program name. Accepts "--port N" and "--port=N".
// --import-country takes every argument up to the next "--" option.
TCommandLine ParseCommandLine(const std::vector<std::string>& args);
std::string UsageText();
// What --version prints: the program's title, then a line break.
std::string VersionText();

}  // namespace vantrel
