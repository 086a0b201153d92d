#include "app/CommandLine.h"

#include <arpa/inet.h>

#include <algorithm>

#include "model/TextNumbers.h"
#include "model/Version.h"
#include "hosts/Addresses.h"

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

// "IP[:PORT]" with an IPv4 address, or an IPv6 one in brackets when a port
// follows; empty when the text is neither.
std::string NameServer(const std::string& text) {
  std::string address = text, port;
  const bool bracketed = !text.empty() && text.front() == '[';
  if (bracketed) {
    const size_t close = text.find(']');
    if (close == std::string::npos) return {};
    address = text.substr(1, close - 1);
    if (close + 1 < text.size()) {
      if (text[close + 1] != ':') return {};
      port = text.substr(close + 2);
      if (port.empty()) return {};
    }
  } else if (std::count(text.begin(), text.end(), ':') == 1) {
    address = text.substr(0, text.find(':'));
    port = text.substr(text.find(':') + 1);
    if (port.empty()) return {};
  }
  if (!port.empty()) {
    const auto number = port[0] >= '0' && port[0] <= '9' ? ParseInt32(port) : std::nullopt;
    if (!number || *number < 1 || *number > 65535) return {};
  }
  uint32_t v4 = 0;
  in6_addr v6{};
  std::string server;
  if (!bracketed && ParseAddress(address, v4)) {
    server = address;
  } else if (inet_pton(AF_INET6, address.c_str(), &v6) == 1) {
    server = "[" + address + "]";
  } else {
    return {};
  }
  return port.empty() ? server : server + ":" + port;
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
    } else if (arg == "--check-config") {
      line.checkConfig = true;
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
    } else if (TakeValue(args, i, "--dns-server", value)) {
      const std::string server = NameServer(value);
      if (server.empty()) {
        throw EUsageError("invalid name server '" + value + "' (expected IP or IP:PORT)");
      }
      line.dnsServers.push_back(server);
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
  if (line.importCountry && (line.headless || line.port || line.sendBlocks || line.help ||
                             line.version || line.checkConfig || !line.dnsServers.empty())) {
    throw EUsageError("--import-country takes no option but --data-dir");
  }
  return line;
}

std::string UsageText() {
  return "Usage: vantrel [--headless] [--port N] [--data-dir DIR] [--send-blocks N]\n"
         "               [--dns-server IP[:PORT]]...\n"
         "       vantrel --import-country FORMAT FILE... [--data-dir DIR]\n"
         "       vantrel --check-config [--data-dir DIR]\n"
         "An HTTP proxy for one workstation or a small LAN.\n"
         "\n"
         "  --headless        run without a window; the activity log goes to\n"
         "                    standard output; SIGINT or SIGTERM ends the program\n"
         "                    (saving a changed configuration), SIGHUP reloads\n"
         "                    the configuration files\n"
         "  --port N          listen on port N (1-65535) this time, as if typed\n"
         "                    into the port field; never saved\n"
         "  --data-dir DIR    keep proxy.ini, the list files and log/ in DIR\n"
         "                    (created if missing) instead of the program's folder\n"
         "  --send-blocks N   hand up to N queued 1460-byte blocks to the system\n"
         "                    per send call (1-64; default 32; 1 sends one block\n"
         "                    per call)\n"
         "  --dns-server IP[:PORT]\n"
         "                    look names up at this name server (port 53 unless\n"
         "                    given; [IPv6]:PORT); repeat for more servers, tried\n"
         "                    in order; default: the system's name servers\n"
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
         "  --check-config    list the lines of proxy.ini and the list files that\n"
         "                    are ignored or blanked, as FILE:LINE: REASON; exit\n"
         "                    with 1 when there is any; changes no file\n"
         "  --help            show this text and exit\n"
         "  --version         show the version and exit\n";
}

std::string VersionText() {
  return std::string(kProgramTitle) + "\n";
}

}  // namespace vantrel
