// The proxy auto-config file: which requests ask for it, and its text.

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "routing/ProxyAutoConfig.h"

namespace vantrel {
namespace {

const TLocalEnd kProxy{"192.168.1.5", 1080};

TEST(ProxyAutoConfig, ScriptSendsLocalNamesAndBypassedAddressesDirect) {
  const std::vector<std::string> bypass = {
      "192.168.000.000-192.168.255.255",
      "010.000.000.009-010.000.000.001",  // reversed: matches nothing
      "010.000.000.005-010.000.000.010",
  };
  EXPECT_EQ(AutoConfigScript(bypass, true, kProxy),
            "function FindProxyForURL(url, host) {\n"
            "  if (isPlainHostName(host) || host == \"localhost\")\n"
            "    return \"DIRECT\";\n"
            "  var bypass = [\n"
            "    \"192.168.0.0\", \"255.255.0.0\",\n"
            "    \"10.0.0.5\", \"255.255.255.255\",\n"
            "    \"10.0.0.6\", \"255.255.255.254\",\n"
            "    \"10.0.0.8\", \"255.255.255.254\",\n"
            "    \"10.0.0.10\", \"255.255.255.255\"\n"
            "  ];\n"
            "  if (/^[0-9]+\\.[0-9]+\\.[0-9]+\\.[0-9]+$/.test(host))\n"
            "    for (var i = 0; i < bypass.length; i += 2)\n"
            "      if (isInNet(host, bypass[i], bypass[i + 1]))\n"
            "        return \"DIRECT\";\n"
            "  return \"PROXY 192.168.1.5:1080\";\n"
            "}\n");
  // Bypass off, or nothing to bypass: everything else goes to the proxy.
  const std::string plain =
      "function FindProxyForURL(url, host) {\n"
      "  if (isPlainHostName(host) || host == \"localhost\")\n"
      "    return \"DIRECT\";\n"
      "  return \"PROXY 127.0.0.1:8080\";\n"
      "}\n";
  EXPECT_EQ(AutoConfigScript(bypass, false, {"127.0.0.1", 8080}), plain);
  EXPECT_EQ(AutoConfigScript({}, true, {"127.0.0.1", 8080}), plain);

  const std::string head =
      "HTTP/1.1 200 OK\r\nContent-Type: application/x-ns-proxy-autoconfig\r\n"
      "Cache-Control: max-age=300\r\nContent-Length: 3\r\nConnection: close\r\n\r\n";
  EXPECT_EQ(AutoConfigResponse("abc", false), head + "abc");
  EXPECT_EQ(AutoConfigResponse("abc", true), head);
}

// The kept bypass test follows the list it is given, even one changed in place.
TEST(ProxyAutoConfig, KeptScriptIsNeverStale) {
  TAutoConfigFile file;
  std::vector<std::string> list = {"010.000.000.000-010.255.255.255"};
  for (int step = 0; step < 3; ++step) {
    SCOPED_TRACE(step);
    EXPECT_EQ(file.Script(list, true, kProxy), AutoConfigScript(list, true, kProxy));
    EXPECT_EQ(file.Script(list, false, kProxy), AutoConfigScript(list, false, kProxy));
    list[0][1] = static_cast<char>('2' + step);  // 02x.000.000.000-...
  }
  list.clear();
  EXPECT_EQ(file.Script(list, true, kProxy), AutoConfigScript({}, true, kProxy));
}

// The answer is rebuilt for each new version of the list, and for the
// version a comparison of Script did not build it from.
TEST(ProxyAutoConfig, AnswerFollowsTheListVersion) {
  const std::vector<std::string> a = {"010.000.000.000-010.255.255.255"};
  const std::vector<std::string> b = {"192.168.000.000-192.168.000.255",
                                      "172.016.000.001-172.016.000.002"};
  TAutoConfigFile file;
  std::string answer = "left over";
  const auto expect = [&](const std::vector<std::string>& list, bool on, bool head) {
    return AutoConfigResponse(AutoConfigScript(list, on, kProxy), head);
  };
  const struct {
    const std::vector<std::string>* list;
    uint64_t version;
    bool on;
    bool head;
  } steps[] = {
      {&a, 1, true, false}, {&b, 2, true, false}, {&a, 3, true, false},
      {&a, 3, true, true},  {&a, 3, false, false}, {&b, 4, false, false},
      {&b, 4, true, false}, {&a, 0, true, false},  {&b, 0, true, false},
  };
  for (size_t i = 0; i < std::size(steps); ++i) {
    SCOPED_TRACE(i);
    const auto& k = steps[i];
    file.Answer(*k.list, k.version, k.on, kProxy, k.head, answer);
    EXPECT_EQ(answer, expect(*k.list, k.on, k.head));
  }
  // Script compares and builds for its own list; the version built before
  // is then no longer what is kept.
  file.Answer(a, 5, true, kProxy, false, answer);
  EXPECT_EQ(file.Script(b, true, kProxy), AutoConfigScript(b, true, kProxy));
  file.Answer(a, 5, true, kProxy, false, answer);
  EXPECT_EQ(answer, expect(a, true, false));
  EXPECT_EQ(file.Script(a, true, kProxy), AutoConfigScript(a, true, kProxy));
}

TEST(ProxyAutoConfig, OnlyThisMachinesFileIsAnsweredHere) {
  struct Case {
    const char* url;
    const char* host;
    const char* port;
    const char* path;
    bool answered;
  };
  const std::vector<Case> cases = {
      {"/proxy.pac", "", "80", "/proxy.pac", true},
      {"/wpad.dat", "", "80", "/wpad.dat", true},
      {"/proxy.pac?v=2", "", "80", "/proxy.pac?v=2", true},
      {"/proxy.pacx", "", "80", "/proxy.pacx", false},
      {"/other/proxy.pac", "", "80", "/other/proxy.pac", false},
      {"http://192.168.1.5:1080/proxy.pac", "192.168.1.5", "1080", "/proxy.pac", true},
      {"http://WORKSTATION:1080/wpad.dat", "WORKSTATION", "1080", "/wpad.dat", true},
      // Another port or another machine is an ordinary request, routed.
      {"http://192.168.1.5/proxy.pac", "192.168.1.5", "80", "/proxy.pac", false},
      {"http://192.168.1.6:1080/proxy.pac", "192.168.1.6", "1080", "/proxy.pac", false},
      {"http://example.test:1080/proxy.pac", "example.test", "1080", "/proxy.pac", false},
      // localhost names this machine only for a client on loopback.
      {"http://localhost:1080/proxy.pac", "localhost", "1080", "/proxy.pac", false},
  };
  for (const Case& k : cases) {
    SCOPED_TRACE(k.url);
    EXPECT_EQ(IsAutoConfigRequest(k.url, k.host, k.port, k.path, kProxy, "workstation"),
              k.answered);
  }
  EXPECT_TRUE(IsAutoConfigRequest("http://localhost:1080/proxy.pac", "localhost", "1080",
                                  "/proxy.pac", {"127.0.0.1", 1080}, ""));
}

}  // namespace
}  // namespace vantrel
