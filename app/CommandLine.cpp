#include "app/CommandLine.h"

#include "config/TextNumbers.h"

namespace vantrel {

namespace {

// Splits "--name=value"; value is empty when there is no "=".
bool TakeValue(const std::vector<std::string>& args, size_t& i, const std::string& name,
               std::string& value) {
  const std::string& arg = args[i];
  if (arg == name) {
    if (i + 1 >= args.size()) throw EUsageError("option " + name + " needs a value");
    value = args[++i];
    return true;
  }
  if (arg.rfind(name + "=", 0) == 0) {
    value = arg.substr(name.size() + 1);
    return true;
  }
  return false;
}

}  // namespace

TCommandLine ParseCommandLine(const std::vector<std::string>& args) {
  TCommandLine line;
  for (size_t i = 0; i < args.size(); ++i) {
    const std::string& arg = args[i];
    std::string value;
    if (arg == "--headless") {
      line.headless = true;
    } else if (arg == "--help" || arg == "-h") {
      line.help = true;
    } else if (arg == "--version") {
      line.version = true;
    } else if (TakeValue(args, i, "--port", value)) {
      const auto port = ParseInt32(value);
      if (!port || *port < 1 || *port > 65535) {
        throw EUsageError("invalid port '" + value + "' (expected a number from 1 to 65535)");
      }
      line.port = *port;
    } else if (TakeValue(args, i, "--send-blocks", value)) {
      const auto blocks = ParseInt32(value);
      if (!blocks || *blocks < 1 || *blocks > 64) {
        throw EUsageError("invalid block count '" + value + "' (expected a number from 1 to 64)");
      }
      line.sendBlocks = *blocks;
    } else if (arg == "--import-country") {
      if (line.importCountry) throw EUsageError("--import-country given twice");
      std::vector<std::string> operands;
      while (i + 1 < args.size() && args[i + 1].rfind("--", 0) != 0) operands.push_back(args[++i]);
      std::string error;
      line.importCountry = routing::ParseImportRequest(operands, error);
      if (!line.importCountry) throw EUsageError(error);
    } else if (TakeValue(args, i, "--data-dir", value)) {
      if (value.empty()) throw EUsageError("option --data-dir needs a folder");
      line.dataDir = value;
    } else {
      throw EUsageError("unknown option '" + arg + "'");
    }
  }
  if (line.importCountry && (line.headless || line.port || line.sendBlocks)) {
    throw EUsageError("--import-country takes no option but --data-dir");
  }
  return line;
}

std::string UsageText() {
  return "Usage: vantrel [--headless] [--port N] [--data-dir DIR] [--send-blocks N]\n"
         "       vantrel --import-country FORMAT FILE... [--data-dir DIR]\n"
         "An HTTP proxy for one workstation or a small LAN.\n"
         "\n"
         "  --headless        run without a window; the activity log goes to\n"
         "                    standard output; SIGINT or SIGTERM ends the program\n"
         "  --port N          listen on port N (1-65535) this time, as if typed\n"
         "                    into the port field; not saved unless saved\n"
         "  --data-dir DIR    keep proxy.ini, the list files and log/ in DIR\n"
         "                    (created if missing) instead of the program's folder\n"
         "  --send-blocks N   hand up to N queued 1460-byte blocks to the system\n"
         "                    per send call (1-64; default 1, one block per call)\n"
         "  --import-country FORMAT FILE...\n"
         "                    make GeoIPCountryWhoIs.csv in the data folder (and\n"
         "                    countries.dat when missing) from published data, then\n"
         "                    exit; FORMAT is one of:\n"
         "                      tor       Tor's geoip file (/usr/share/tor/geoip)\n"
         "                      dbip      DB-IP's IP to Country Lite CSV\n"
         "                      geolite2  GeoLite2 Country CSV: the Blocks-IPv4\n"
         "                                file and the Locations file\n"
         "                      cidr CC   one a.b.c.d/len per line, all for\n"
         "                                country CC\n"
         "  --help            show this text and exit\n"
         "  --version         show the version and exit\n";
}

}  // namespace vantrel
