#include "routing/ProxyAutoConfig.h"

#include "hosts/Addresses.h"
#include "hosts/CidrBlocks.h"

namespace vantrel {

namespace {

bool SameText(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) return false;
  for (size_t i = 0; i < a.size(); ++i) {
    char x = a[i], y = b[i];
    if (x >= 'A' && x <= 'Z') x = static_cast<char>(x - 'A' + 'a');
    if (y >= 'A' && y <= 'Z') y = static_cast<char>(y - 'A' + 'a');
    if (x != y) return false;
  }
  return true;
}

// Dotted decimal without padding, written at `at`; returns the end. A long
// bypass list writes tens of thousands of these.
char* WriteAddress(char* at, uint32_t address) {
  for (int shift = 24; shift >= 0; shift -= 8) {
    const unsigned part = (address >> shift) & 0xFF;
    if (part >= 100) *at++ = static_cast<char>('0' + part / 100);
    if (part >= 10) *at++ = static_cast<char>('0' + part / 10 % 10);
    *at++ = static_cast<char>('0' + part % 10);
    if (shift) *at++ = '.';
  }
  return at;
}

constexpr std::string_view kScriptStart =
    "function FindProxyForURL(url, host) {\n"
    "  if (isPlainHostName(host) || host == \"localhost\")\n"
    "    return \"DIRECT\";\n";

// The bypass test of the script, appended to text: the list's ranges as
// address and mask pairs, tried for address literals only (a name would make
// the browser look it up; the proxy applies the bypass list to names itself).
// Nothing when no range holds an address.
void AppendBypassTest(std::string& text, const std::vector<std::string>& bypassList) {
  text.reserve(text.size() + bypassList.size() * 48 + 256);
  bool first = true;
  for (const std::string& entry : bypassList) {
    uint32_t low = 0, high = 0;
    if (!ParseRangeEntry(entry, low, high)) continue;
    ForEachCidrBlock(low, high, [&](const TCidrBlock& block) {
      // One piece per block: `,\n    "a.b.c.d", "m.m.m.m"`.
      char line[64];
      char* at = line;
      for (const char c : std::string_view(",\n    \"")) *at++ = c;
      at = WriteAddress(at, block.address);
      for (const char c : std::string_view("\", \"")) *at++ = c;
      at = WriteAddress(at, PrefixMask(block.prefix));
      *at++ = '"';
      const char* start = line;
      if (first) {
        text += "  var bypass = [";
        ++start;  // no comma before the first
        first = false;
      }
      text.append(start, static_cast<size_t>(at - start));
    });
  }
  if (!first) {
    text +=
        "\n  ];\n"
        "  if (/^[0-9]+\\.[0-9]+\\.[0-9]+\\.[0-9]+$/.test(host))\n"
        "    for (var i = 0; i < bypass.length; i += 2)\n"
        "      if (isInNet(host, bypass[i], bypass[i + 1]))\n"
        "        return \"DIRECT\";\n";
  }
}

void AppendScriptEnd(std::string& text, const TLocalEnd& proxy) {
  text += "  return \"PROXY ";
  text += proxy.address;
  text += ':';
  text += std::to_string(proxy.port);
  text += "\";\n}\n";
}

std::string Script(std::string_view bypassTest, const TLocalEnd& proxy) {
  std::string text;
  text.reserve(kScriptStart.size() + bypassTest.size() + 64);
  text.append(kScriptStart).append(bypassTest);
  AppendScriptEnd(text, proxy);
  return text;
}

}  // namespace

bool IsAutoConfigPath(std::string_view path) {
  const std::string_view file = path.substr(0, path.find('?'));
  return file == "/proxy.pac" || file == "/wpad.dat";
}

bool IsAutoConfigRequest(std::string_view url, std::string_view host, std::string_view port,
                         std::string_view path, const TLocalEnd& proxy,
                         std::string_view machineName) {
  if (!IsAutoConfigPath(path)) return false;
  if (!url.empty() && url.front() == '/') return host.empty();  // origin form
  if (port != std::to_string(proxy.port)) return false;
  if (SameText(host, proxy.address)) return true;
  if (!machineName.empty() && SameText(host, machineName)) return true;
  return SameText(host, "localhost") && proxy.address.starts_with("127.");
}

std::string AutoConfigScript(const std::vector<std::string>& bypassList, bool bypassOn,
                             const TLocalEnd& proxy) {
  // Built in one piece: a long list makes a script of hundreds of KB.
  std::string text(kScriptStart);
  if (bypassOn) AppendBypassTest(text, bypassList);
  AppendScriptEnd(text, proxy);
  return text;
}

std::string TAutoConfigFile::Script(const std::vector<std::string>& bypassList, bool bypassOn,
                                    const TLocalEnd& proxy) {
  if (!bypassOn) return vantrel::Script({}, proxy);
  // Compared with the live list every time, so never stale.
  if (!built_ || bypassList != list_) {
    bypassTest_.clear();
    AppendBypassTest(bypassTest_, bypassList);
    list_ = bypassList;
    built_ = true;
  }
  return vantrel::Script(bypassTest_, proxy);
}

std::string AutoConfigResponse(const std::string& script, bool head) {
  std::string answer =
      "HTTP/1.1 200 OK\r\n"
      "Content-Type: application/x-ns-proxy-autoconfig\r\n"
      "Cache-Control: max-age=300\r\n"
      "Content-Length: " +
      std::to_string(script.size()) + "\r\nConnection: close\r\n\r\n";
  if (!head) answer += script;
  return answer;
}

}  // namespace vantrel
