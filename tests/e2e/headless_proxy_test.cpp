// The real `vantrel --headless` binary, driven by curl through its proxy
// port toward a loopback origin.

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "tests/e2e/loopback_services.h"
#include "tests/e2e/origin_server.h"

namespace vantrel::e2e {
namespace {

namespace fs = std::filesystem;

int FreePort() {
  const int fd = ::socket(AF_INET, SOCK_STREAM, 0);
  sockaddr_in sin{};
  sin.sin_family = AF_INET;
  sin.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  ::bind(fd, reinterpret_cast<sockaddr*>(&sin), sizeof sin);
  socklen_t len = sizeof sin;
  getsockname(fd, reinterpret_cast<sockaddr*>(&sin), &len);
  ::close(fd);
  return ntohs(sin.sin_port);
}

// Runs a command and returns its standard output.
std::string Shell(const std::string& command) {
  std::string out;
  FILE* p = ::popen(command.c_str(), "r");
  if (!p) return out;
  char buf[65536];
  size_t n;
  while ((n = std::fread(buf, 1, sizeof buf, p)) > 0) out.append(buf, n);
  ::pclose(p);
  return out;
}

class HeadlessProxy : public ::testing::Test {
 protected:
  void SetUp() override {
    dir_ = fs::temp_directory_path() / ("vantrel-e2e-" + std::to_string(::getpid()));
    fs::create_directories(dir_);
    PrepareDataDir();
    // The port was free a moment ago; another process may take it before
    // the program binds it. The program then says so (10048) and ends, and
    // another port is tried.
    for (int attempt = 0; attempt < 20; ++attempt) {
      Spawn();
      ASSERT_TRUE(WaitForOutput("Proxy Started") || output_.find("Error 10048") != std::string::npos)
          << output_;
      if (output_.find("Error 10048") == std::string::npos) return;
      int status = 0;
      ::waitpid(pid_, &status, 0);
      pid_ = -1;
      ::close(out_);
      out_ = -1;
      output_.clear();
    }
    FAIL() << "no free port in 20 tries";
  }

  void Spawn() {
    port_ = FreePort();
    int out[2];
    ASSERT_EQ(::pipe(out), 0);
    pid_ = ::fork();
    if (pid_ == 0) {
      ::dup2(out[1], 1);
      ::close(out[0]);
      std::vector<std::string> args = {VANTREL_BINARY,        "--headless", "--port",
                                       std::to_string(port_), "--data-dir", dir_.string()};
      args.insert(args.end(), extraArgs_.begin(), extraArgs_.end());
      std::vector<char*> argv;
      for (std::string& a : args) argv.push_back(a.data());
      argv.push_back(nullptr);
      ::execv(VANTREL_BINARY, argv.data());
      ::_exit(127);
    }
    ::close(out[1]);
    out_ = out[0];
  }

  void TearDown() override {
    if (pid_ > 0) {
      ::kill(pid_, SIGTERM);
      int status = 0;
      ::waitpid(pid_, &status, 0);
      EXPECT_TRUE(WIFEXITED(status));
      EXPECT_EQ(WEXITSTATUS(status), 0);
    }
    if (out_ >= 0) ::close(out_);
    fs::remove_all(dir_);
  }

  // Files the program finds at start.
  virtual void PrepareDataDir() {}

  bool WaitForOutput(const std::string& text) {
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(20);
    while (output_.find(text) == std::string::npos) {
      const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
                            deadline - std::chrono::steady_clock::now())
                            .count();
      if (left <= 0) return false;
      pollfd p{out_, POLLIN, 0};
      if (::poll(&p, 1, static_cast<int>(left)) <= 0) return false;
      char buf[4096];
      const ssize_t n = ::read(out_, buf, sizeof buf);
      if (n <= 0) return false;
      output_.append(buf, static_cast<size_t>(n));
    }
    return true;
  }

  std::string Proxy() const { return "http://127.0.0.1:" + std::to_string(port_); }
  std::string ProxyHostPort() const { return "127.0.0.1:" + std::to_string(port_); }
  std::string Url(const std::string& path) const {
    return "http://127.0.0.1:" + std::to_string(origin_.Port()) + path;
  }

  // Sends raw bytes to the proxy port and returns everything it answers.
  std::string RawExchange(const std::string& request) {
    const int fd = ::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in sin{};
    sin.sin_family = AF_INET;
    sin.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    sin.sin_port = htons(static_cast<uint16_t>(port_));
    std::string reply;
    if (::connect(fd, reinterpret_cast<sockaddr*>(&sin), sizeof sin) == 0) {
      ::send(fd, request.data(), request.size(), MSG_NOSIGNAL);
      pollfd p{fd, POLLIN, 0};
      char buf[4096];
      while (::poll(&p, 1, 10000) > 0) {
        const ssize_t n = ::recv(fd, buf, sizeof buf, 0);
        if (n <= 0) break;
        reply.append(buf, static_cast<size_t>(n));
      }
    }
    ::close(fd);
    return reply;
  }

  OriginServer origin_;
  // More options for the program, set before SetUp runs.
  std::vector<std::string> extraArgs_;
  fs::path dir_;
  int port_ = 0;
  pid_t pid_ = -1;
  int out_ = -1;
  std::string output_;
};

TEST_F(HeadlessProxy, PlainRequestsAndDownloadsArriveWhole) {
  EXPECT_EQ(Shell("curl -s -x " + Proxy() + " " + Url("/bytes/1000")), Pattern(1000));
  // The origin saw the rewritten request: origin form, the Host line kept.
  const std::string seen = origin_.LastRequestHeader();
  EXPECT_EQ(seen.rfind("GET /bytes/1000 HTTP/1.1\r\n", 0), 0u) << seen;
  EXPECT_NE(seen.find("\r\nHost: 127.0.0.1:"), std::string::npos) << seen;

  const size_t big = 64u << 20;
  const std::string body =
      Shell("curl -s -x " + Proxy() + " " + Url("/bytes/" + std::to_string(big)));
  ASSERT_EQ(body.size(), big);
  EXPECT_EQ(Checksum(body), Checksum(Pattern(big)));
}

TEST_F(HeadlessProxy, UploadsReachTheOriginWhole) {
  const fs::path file = dir_ / "upload.bin";
  const std::string data = Pattern(8u << 20);
  std::ofstream(file, std::ios::binary) << data;
  const std::string expected =
      "len=" + std::to_string(data.size()) + " sum=" + std::to_string(Checksum(data));
  EXPECT_EQ(
      Shell("curl -s -x " + Proxy() + " --data-binary @" + file.string() + " " + Url("/upload")),
      expected);
  // Through a CONNECT tunnel as well.
  EXPECT_EQ(
      Shell("curl -s -p -x " + Proxy() + " --data-binary @" + file.string() + " " + Url("/upload")),
      expected);
}

TEST_F(HeadlessProxy, ConnectTunnelsCarryRequests) {
  EXPECT_EQ(Shell("curl -s -p -x " + Proxy() + " " + Url("/bytes/70000")), Pattern(70000));
  const std::string verbose =
      Shell("curl -s -v -p -x " + Proxy() + " " + Url("/bytes/10") + " 2>&1");
  EXPECT_NE(verbose.find("HTTP/1.0 200 Connection established"), std::string::npos) << verbose;
}

TEST_F(HeadlessProxy, MalformedRequestsGetTheBadRequestText) {
  const std::string reply = RawExchange("GARBAGE\r\n\r\n");
  EXPECT_EQ(reply.rfind("HTTP/1.1 400 Bad request\r\n", 0), 0u) << reply;
  const std::string tunnel = RawExchange("CONNECT nohost HTTP/1.0\r\n\r\n");
  EXPECT_EQ(tunnel, "HTTP/1.0 400 Bad request\r\nConnection: close\r\n\r\n");
  // The proxy is still serving afterwards.
  EXPECT_EQ(Shell("curl -s -x " + Proxy() + " " + Url("/bytes/10")), Pattern(10));
}

}  // namespace
}  // namespace vantrel::e2e

namespace vantrel::e2e {
namespace {

std::string Grouped(size_t value) {
  const std::string digits = std::to_string(value);
  std::string grouped;
  for (size_t i = 0; i < digits.size(); ++i) {
    if (i > 0 && (digits.size() - i) % 3 == 0) grouped += ',';
    grouped += digits[i];
  }
  return grouped;
}

// Routing with the screen log on; origins on 127.0.0.2, which is on no
// bypass list, so its traffic is international and counted.
class HeadlessRouting : public HeadlessProxy {
 protected:
  void PrepareDataDir() override {
    std::ofstream(dir_ / "proxy.ini") << "[CONFIG]\r\nEnableLogging=1\r\n";
  }
  std::string FarUrl(const std::string& path) const {
    return "http://127.0.0.2:" + std::to_string(far_.Port()) + path;
  }
  OriginServer far_{"127.0.0.2"};
};

TEST_F(HeadlessRouting, CurlThroughHttpSocks4AndSocks4aIsRoutedAndLogged) {
  EXPECT_EQ(Shell("curl -s -x " + Proxy() + " " + FarUrl("/bytes/3000")), Pattern(3000));
  EXPECT_EQ(Shell("curl -s --socks4 " + ProxyHostPort() + " " + FarUrl("/bytes/3001")),
            Pattern(3001));
  EXPECT_EQ(
      Shell("curl -s --socks4 " + ProxyHostPort() + " --proxy-user bob: " + FarUrl("/bytes/3002")),
      Pattern(3002));
  EXPECT_EQ(Shell("curl -s --socks4a " + ProxyHostPort() + " " + FarUrl("/bytes/3003")),
            Pattern(3003));
  ASSERT_TRUE(WaitForOutput("Client 127.0.0.1 requests " + FarUrl("/bytes/3000") + "]")) << output_;
  // A SOCKS5 client that offers no method without authentication hears that
  // none is acceptable.
  EXPECT_EQ(RawExchange(std::string("\x05\x01\x02", 3)), std::string("\x05\xff", 2));
}

// SOCKS5 with curl: the program resolves names itself, through a name
// server of the test's own.
class HeadlessSocks5 : public HeadlessRouting {
 protected:
  void SetUp() override {
    extraArgs_ = {"--dns-server", names_.Server()};
    HeadlessRouting::SetUp();
  }
  std::string FarNameUrl(const std::string& path) const {
    return "http://far.test:" + std::to_string(far_.Port()) + path;
  }
  NameServerThread names_{{{"far.test", "127.0.0.2"}}};
};

TEST_F(HeadlessSocks5, CurlSocks5AndSocks5HostnameReachTheOrigin) {
  EXPECT_EQ(Shell("curl -s --socks5 " + ProxyHostPort() + " " + FarUrl("/bytes/3000")),
            Pattern(3000));
  EXPECT_EQ(
      Shell("curl -s --socks5-hostname " + ProxyHostPort() + " " + FarNameUrl("/bytes/70001")),
      Pattern(70001));
  const fs::path file = dir_ / "upload.bin";
  const std::string data = Pattern(3u << 20);
  std::ofstream(file, std::ios::binary) << data;
  EXPECT_EQ(Shell("curl -s --socks5-hostname " + ProxyHostPort() + " --data-binary @" +
                  file.string() + " " + FarNameUrl("/upload")),
            "len=" + std::to_string(data.size()) + " sum=" + std::to_string(Checksum(data)));
  EXPECT_TRUE(WaitForOutput("Converted to SOCKS5 connect")) << output_;
  // A name nobody knows: curl hears reply 4, host unreachable.
  const std::string verbose = Shell("curl -s -v --socks5-hostname " + ProxyHostPort() +
                                    " http://nowhere.test:81/ 2>&1");
  EXPECT_NE(verbose.find("SOCKS5 connection to nowhere.test. (4)"), std::string::npos) << verbose;
}

// The same through a next hop for international "other" traffic, which
// records the CONNECT requests it gets.
class HeadlessSocks5ViaHop : public HeadlessSocks5 {
 protected:
  void PrepareDataDir() override {
    std::ofstream(dir_ / "proxy.ini")
        << "[PROXY]\r\nProxyName1=hop\r\nProxyID1=1\r\nProxyAddress1=127.0.0.1\r\nProxyPort1="
        << hop_.Port()
        << "\r\n[CONFIG]\r\nEnableLogging=1\r\nIntConOTHER=1\r\nIntConOTHERProxy=1\r\n";
  }
  RecordingHop hop_{{{"far.test", "127.0.0.2"}}};
};

TEST_F(HeadlessSocks5ViaHop, CurlSocks5GoesThroughTheNextHop) {
  EXPECT_EQ(Shell("curl -s --socks5 " + ProxyHostPort() + " " + FarUrl("/bytes/5000")),
            Pattern(5000));
  EXPECT_EQ(
      Shell("curl -s --socks5-hostname " + ProxyHostPort() + " " + FarNameUrl("/bytes/5001")),
      Pattern(5001));
  const std::string port = std::to_string(far_.Port());
  EXPECT_EQ(hop_.Requests(), (std::vector<std::string>{"CONNECT 127.0.0.2:" + port + " HTTP/1.0",
                                                       "CONNECT far.test:" + port + " HTTP/1.0"}));
}

TEST_F(HeadlessRouting, SigUsr1PrintsTheTrafficTotals) {
  const std::string request =
      "GET " + FarUrl("/bytes/2000") + " HTTP/1.1\r\nHost: 127.0.0.2\r\nConnection: close\r\n\r\n";
  const std::string reply = RawExchange(request);
  ASSERT_GT(reply.size(), 2000u);
  ASSERT_EQ(::kill(pid_, SIGUSR1), 0);
  const std::string expected =
      "Local Internet: Bytes Received 0; Bytes Sent 0; Total Bytes 0\n"
      "International Internet: Bytes Received " +
      Grouped(reply.size()) + "; Bytes Sent " + Grouped(request.size()) + "; Total Bytes " +
      Grouped(reply.size() + request.size()) +
      "\nTraffic by class (HTTP SSL OTHER): local received 0 0 0 sent 0 0 0; international "
      "received 0 0 " +
      std::to_string(reply.size()) + " sent 0 0 " + std::to_string(request.size()) + "\n" +
      "Top local hosts: none\nTop international hosts: 127.0.0.2 " +
      Grouped(reply.size() + request.size()) + "\n";
  ASSERT_TRUE(WaitForOutput(expected)) << output_;
  // Not a line of the activity log: no timestamp in front of it.
  EXPECT_NE(output_.find("\n" + expected), std::string::npos) << output_;
}

}  // namespace
}  // namespace vantrel::e2e

namespace vantrel::e2e {
namespace {

// A real browser loads a page whose script and image come from two other
// loopback origins, all through the proxy.
std::string FindBrowser() {
  std::string browser = Shell("command -v chromium chromium-browser 2>/dev/null | head -n 1");
  while (!browser.empty() && (browser.back() == '\n' || browser.back() == ' ')) browser.pop_back();
  return browser;
}

// Headless, quiet, and with none of the browser's own services.
std::string BrowserFlags(const fs::path& profile) {
  return " --headless --no-sandbox --disable-gpu --disable-dev-shm-usage --no-first-run"
         " --disable-background-networking --disable-component-update --disable-sync"
         " --disable-default-apps --disable-extensions --metrics-recording-only"
         " --no-default-browser-check --disable-domain-reliability "
         "--disable-client-side-phishing-detection"
         " --disable-features=OptimizationHints,MediaRouter,Translate,DialMediaRouteProvider,"
         "NetworkTimeServiceQuerying,CertificateTransparencyComponentUpdater,"
         "AutofillServerCommunication"
         " --disable-field-trial-config --disable-breakpad --no-pings "
         "--google-base-url=http://127.0.0.1:9"
         " --user-data-dir=" +
         profile.string();
}

class BrowserThroughProxy : public HeadlessRouting {
 protected:
  void SetUp() override {
    browser_ = FindBrowser();
    if (browser_.empty()) GTEST_SKIP() << "no chromium here: the browser test is skipped";
    // Any name the browser might still ask for goes to a loopback port
    // where nobody answers, never to the system's resolver.
    extraArgs_ = {"--dns-server", "127.0.0.1:9"};
    HeadlessRouting::SetUp();
  }
  std::string browser_;
  OriginServer third_{"127.0.0.3"};
};

TEST_F(BrowserThroughProxy, PageScriptsAndImagesArriveFromThreeOrigins) {
  const std::string gif(
      "GIF89a\x01\x00\x01\x00\x80\x00\x00\x00\x00\x00\xff\xff\xff\x21\xf9\x04\x01\x00\x00"
      "\x00\x00\x2c\x00\x00\x00\x00\x01\x00\x01\x00\x00\x02\x02\x44\x01\x00\x3b",
      43);
  const std::string second = "http://127.0.0.2:" + std::to_string(far_.Port());
  const std::string third = "http://127.0.0.3:" + std::to_string(third_.Port());
  far_.AddPage("/a.js", "text/javascript", "done('a');");
  third_.AddPage("/c.js", "text/javascript", "done('c');");
  third_.AddPage("/b.gif", "image/gif", gif);
  origin_.AddPage("/page.html", "text/html",
                  "<!DOCTYPE html><html><body><div id=\"r\">waiting</div><script>var got={};"
                  "function done(k){got[k]=1;document.getElementById('r').textContent="
                  "Object.keys(got).sort().join(',');}</script>"
                  "<script src=\"" +
                      second +
                      "/a.js\"></script>"
                      "<img src=\"" +
                      third +
                      "/b.gif\" onload=\"done('img')\">"
                      "<script src=\"" +
                      third + "/c.js\"></script></body></html>");
  const fs::path profile = dir_ / "browser-profile";
  const std::string dom =
      Shell("timeout 60 " + browser_ + BrowserFlags(profile) +
            " --proxy-server=" + ProxyHostPort() +
            " '--proxy-bypass-list=<-loopback>' --virtual-time-budget=10000 --dump-dom " +
            Url("/page.html") + " 2>/dev/null");
  EXPECT_NE(dom.find("<div id=\"r\">a,c,img</div>"), std::string::npos) << dom;
  // Each resource came through the proxy and was logged as a request.
  for (const std::string& url :
       {Url("/page.html"), second + "/a.js", third + "/b.gif", third + "/c.js"})
    EXPECT_TRUE(WaitForOutput("requests " + url + "]")) << url << "\n" << output_;
  // The page's origin is on the default bypass list; the other two are
  // international and counted.
  ASSERT_EQ(::kill(pid_, SIGUSR1), 0);
  ASSERT_TRUE(WaitForOutput("Traffic by class")) << output_;
  const size_t at = output_.find("International Internet: Bytes Received ");
  ASSERT_NE(at, std::string::npos);
  EXPECT_EQ(output_.find("International Internet: Bytes Received 0;", at), std::string::npos)
      << output_.substr(at);
  // Whatever else the browser asks for (its own services) goes nowhere:
  // the program's name server is a loopback port where nobody answers.
  for (size_t p = output_.find("requests http://"); p != std::string::npos;
       p = output_.find("requests http://", p + 1)) {
    const size_t start = p + 16;
    const std::string host = output_.substr(start, output_.find_first_of(":/]", start) - start);
    if (host.rfind("127.0.0.", 0) != 0) {
      EXPECT_NE(output_.find(" " + host + "]"), std::string::npos) << host << " was looked up";
    }
  }
}

}  // namespace
}  // namespace vantrel::e2e

namespace vantrel::e2e {
namespace {

// A browser set up only by the proxy's auto-config file: a page whose name
// only the proxy can resolve comes through it; a script from a dotless host
// (mapped by the browser itself) comes directly.
class BrowserWithAutoConfig : public HeadlessRouting {
 protected:
  void SetUp() override {
    browser_ = FindBrowser();
    if (browser_.empty()) GTEST_SKIP() << "no chromium here: the browser test is skipped";
    extraArgs_ = {"--dns-server", names_.Server()};
    HeadlessRouting::SetUp();
  }
  std::string browser_;
  OriginServer third_{"127.0.0.3"};
  NameServerThread names_{{{"page.test", "127.0.0.2"}}};
};

TEST_F(BrowserWithAutoConfig, PageComesThroughTheProxyAndDotlessHostsDirectly) {
  const std::string page = "http://page.test:" + std::to_string(far_.Port());
  const std::string scripts = "http://scripts:" + std::to_string(third_.Port());
  far_.AddPage("/a.js", "text/javascript", "done('a');");
  third_.AddPage("/c.js", "text/javascript", "done('c');");
  far_.AddPage("/pac.html", "text/html",
               "<!DOCTYPE html><html><body><div id=\"r\">waiting</div><script>var got={};"
               "function done(k){got[k]=1;document.getElementById('r').textContent="
               "Object.keys(got).sort().join(',');}</script>"
               "<script src=\"" +
                   page + "/a.js\"></script><script src=\"" + scripts +
                   "/c.js\"></script></body></html>");
  // The browser's own lookups go to a loopback address where nobody
  // answers: its resolver file is replaced in a mount namespace of its own.
  const fs::path resolv = dir_ / "resolv.conf";
  std::ofstream(resolv) << "nameserver 127.0.0.1\n";
  const fs::path script = dir_ / "browser.sh";
  std::ofstream(script) << "mount --bind " << resolv.string() << " /etc/resolv.conf || exit 1\n"
                        << "exec timeout 60 " << browser_ << BrowserFlags(dir_ / "browser-profile")
                        << " --proxy-pac-url=" << Proxy() << "/proxy.pac"
                        << " '--host-resolver-rules=MAP scripts 127.0.0.3'"
                        << " --virtual-time-budget=10000 --dump-dom " << page << "/pac.html\n";
  const std::string dom = Shell("unshare -m sh " + script.string() + " 2>/dev/null");
  EXPECT_NE(dom.find("<div id=\"r\">a,c</div>"), std::string::npos) << dom;
  EXPECT_TRUE(WaitForOutput("gets the proxy auto-config file /proxy.pac]")) << output_;
  EXPECT_TRUE(WaitForOutput("requests " + page + "/pac.html]")) << output_;
  EXPECT_TRUE(WaitForOutput("requests " + page + "/a.js]")) << output_;
  EXPECT_EQ(output_.find("requests http://scripts"), std::string::npos) << output_;
  EXPECT_EQ(third_.LastRequestHeader().rfind("GET /c.js HTTP/1.1\r\n", 0), 0u)
      << third_.LastRequestHeader();
}

}  // namespace
}  // namespace vantrel::e2e
