// The system source: this machine's links against the interface list and
// getifaddrs, and a network namespace of the test's own where links are
// created and deleted under a running watcher. Nothing is ever sent.

#include <arpa/inet.h>
#include <fcntl.h>
#include <ifaddrs.h>
#include <net/if.h>
#include <netinet/in.h>
#include <sched.h>
#include <sys/ioctl.h>
#include <sys/mount.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <map>
#include <string>
#include <vector>

#include "adapters/AdapterWatcher.h"
#include "net/EventLoop.h"
#include "tests/adapters/AdapterFixture.h"

namespace vantrel {
namespace {

using namespace std::chrono_literals;

bool IsLoopback(const std::string& name) {
  const int fd = ::socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
  ifreq request{};
  name.copy(request.ifr_name, IFNAMSIZ - 1);
  const bool loopback = fd >= 0 && ::ioctl(fd, SIOCGIFFLAGS, &request) == 0 &&
                        (request.ifr_flags & IFF_LOOPBACK) != 0;
  if (fd >= 0) ::close(fd);
  return loopback;
}

TEST(LinuxAdapterSourceTest, TheMachinesLinksAreListedInIndexOrderWithTheirIPv4Addresses) {
  // What the system says, asked another way: the interface list for the
  // links, getifaddrs for the addresses (a label "x:1" belongs to x).
  std::map<unsigned, std::string> links;
  struct if_nameindex* names = ::if_nameindex();
  ASSERT_NE(names, nullptr);
  for (const struct if_nameindex* n = names; n->if_index != 0; ++n) {
    if (!IsLoopback(n->if_name) && InterfaceDriverName(n->if_name) != "veth") {
      links[n->if_index] = n->if_name;
    }
  }
  ::if_freenameindex(names);
  std::map<std::string, std::vector<std::string>> addresses;
  ifaddrs* all = nullptr;
  ASSERT_EQ(::getifaddrs(&all), 0);
  for (const ifaddrs* a = all; a != nullptr; a = a->ifa_next) {
    if (a->ifa_addr == nullptr || a->ifa_addr->sa_family != AF_INET) continue;
    char text[INET_ADDRSTRLEN];
    ::inet_ntop(AF_INET, &reinterpret_cast<const sockaddr_in*>(a->ifa_addr)->sin_addr, text,
                sizeof text);
    const std::string label = a->ifa_name;
    addresses[label.substr(0, label.find(':'))].push_back(text);
  }
  ::freeifaddrs(all);

  TLinuxAdapterSource source;
  std::vector<AdapterRecord> records;
  ASSERT_EQ(source.GetAdapterInfoList(records), 0);
  ASSERT_EQ(records.size(), links.size());
  auto link = links.begin();
  for (const AdapterRecord& record : records) {
    SCOPED_TRACE(link->second);
    EXPECT_EQ(record.name, "{" + link->second + "}");
    EXPECT_EQ(record.index, static_cast<int>(link->first));
    EXPECT_EQ(record.addresses, addresses[link->second]);
    const std::string alias = InterfaceAlias(link->second);
    EXPECT_EQ(record.description, alias.empty() ? InterfaceDriverName(link->second) : alias);
    ++link;
  }
}

// The body runs in a forked child inside a new network namespace (and a
// mount namespace, so /sys shows that network namespace's links). It
// answers "key=value" lines; exit code 77 means namespaces are refused.
std::map<std::string, std::string> InOwnNetworkNamespace(
    const std::function<void(std::map<std::string, std::string>&)>& body, int& exitCode) {
  int pipeFds[2];
  if (::pipe2(pipeFds, O_CLOEXEC) != 0) {
    exitCode = -1;
    return {};
  }
  const pid_t child = ::fork();
  if (child == 0) {
    ::close(pipeFds[0]);
    if (::unshare(CLONE_NEWNET | CLONE_NEWNS) != 0) ::_exit(77);
    std::map<std::string, std::string> report;
    report["sysfs"] = ::mount(nullptr, "/", nullptr, MS_REC | MS_PRIVATE, nullptr) == 0 &&
                              ::mount("sysfs", "/sys", "sysfs", 0, nullptr) == 0
                          ? "own"
                          : "host";
    if (std::system("ip -V >/dev/null 2>&1") != 0) ::_exit(78);
    body(report);
    std::string text;
    for (const auto& [key, value] : report) text += key + "=" + value + "\n";
    size_t written = 0;
    while (written < text.size()) {
      const ssize_t n = ::write(pipeFds[1], text.data() + written, text.size() - written);
      if (n <= 0) ::_exit(1);
      written += static_cast<size_t>(n);
    }
    ::_exit(0);
  }
  ::close(pipeFds[1]);
  std::string text;
  char buffer[4096];
  for (ssize_t n; (n = ::read(pipeFds[0], buffer, sizeof buffer)) > 0;) {
    text.append(buffer, static_cast<size_t>(n));
  }
  ::close(pipeFds[0]);
  int status = 0;
  ::waitpid(child, &status, 0);
  exitCode = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  std::map<std::string, std::string> report;
  size_t start = 0;
  for (size_t end; (end = text.find('\n', start)) != std::string::npos; start = end + 1) {
    const std::string line = text.substr(start, end - start);
    const size_t equals = line.find('=');
    report[line.substr(0, equals)] = line.substr(equals + 1);
  }
  return report;
}

std::string OneLine(std::string text) {
  for (char& c : text) {
    if (c == '\n') c = '|';
  }
  return text;
}

class AdapterNamespaceTest : public AdapterFixture {};

TEST_F(AdapterNamespaceTest, ABridgeThatComesAndGoesIsSeenAtOnceAndKeepsItsRow) {
  const auto body = [this](std::map<std::string, std::string>& report) {
    net::EventLoop loop;
    TLinuxAdapterSource system;
    TAdapterDiscovery found(system, mtblAdapters, [this] { ++settingsChanged; });
    int runs = 0;
    TAdapterWatcher watcher(loop, [&] {
      ++runs;
      return found.Timer1Timer();
    });
    const auto rows = [this] {
      std::string text;
      for (const auto& [name, description, address] : Rows()) {
        text += name + "," + description + "," + address + ";";
      }
      return text;
    };

    found.StartUp();
    report["start.rows"] = rows();
    watcher.Start();
    report["mode"] = watcher.Mode() == TAdapterWatcher::TMode::Netlink ? "netlink" : "polling";
    // The watcher's first look finds what start-up found: no change.
    loop.RunUntil([&] { return runs == 1; }, 4s);
    report["start.runs"] = std::to_string(runs);

    // One burst: a bridge with an alias and two addresses, the first under
    // a label, and a veth pair. All down, and nothing is sent.
    const bool made = std::system(
                          "ip link add vtbr7 type bridge && "
                          "ip link set dev vtbr7 alias 'Test bridge' && "
                          "ip addr add 10.9.9.1/24 dev vtbr7 label vtbr7:1 && "
                          "ip addr add 10.9.8.1/24 dev vtbr7 && "
                          "ip link add vtv0 type veth peer name vtv1") == 0;
    report["made"] = made ? "yes" : "no";
    if (!made) return;
    // Well within the 5 seconds a poll would take.
    loop.RunUntil([&] { return settingsChanged == 2; }, 4s);
    loop.RunUntil([] { return false; }, 3 * TAdapterWatcher::kSettle);
    report["burst.runs"] = std::to_string(runs - 1);
    report["burst.refreshes"] = std::to_string(settingsChanged - 1);
    report["burst.rows"] = rows();
    report["burst.file"] = OneLine(ReadFile());
    report["burst.timers"] = std::to_string(loop.PendingTimers());

    std::system("ip link del vtbr7");
    loop.RunUntil([&] { return settingsChanged == 3; }, 4s);
    report["gone.refreshes"] = std::to_string(settingsChanged - 1);
    report["gone.rows"] = rows();
    report["gone.file"] = OneLine(ReadFile());
    report["gone.current"] = std::to_string(found.CurrentList().size());
  };
  int exitCode = 0;
  auto report = InOwnNetworkNamespace(body, exitCode);
  if (exitCode == 77) GTEST_SKIP() << "network namespaces are not allowed here";
  if (exitCode == 78) GTEST_SKIP() << "no ip command";
  ASSERT_EQ(exitCode, 0);
  if (report["made"] != "yes") GTEST_SKIP() << "bridges or veth pairs cannot be created here";

  // A fresh namespace holds only its loopback link, which is left out.
  EXPECT_EQ(report["start.rows"], "");
  EXPECT_EQ(report["start.runs"], "1");
  EXPECT_EQ(report["mode"], "netlink");
  // The alias is read from the namespace's own /sys when it could be
  // mounted; otherwise the driver names the bridge.
  const std::string description = report["sysfs"] == "own" ? "Test bridge" : "bridge";
  EXPECT_EQ(report["burst.refreshes"], "1");
  EXPECT_EQ(report["burst.runs"], "1");
  EXPECT_EQ(report["burst.rows"], "{vtbr7}," + description + ",10.9.9.1;");
  EXPECT_EQ(report["burst.file"], "{vtbr7}," + description + "|");
  EXPECT_EQ(report["burst.timers"], "0");

  EXPECT_EQ(report["gone.refreshes"], "2");
  EXPECT_EQ(report["gone.rows"], "{vtbr7}," + description + ",;");
  EXPECT_EQ(report["gone.file"], "{vtbr7}," + description + "|");
  EXPECT_EQ(report["gone.current"], "0");
}

}  // namespace
}  // namespace vantrel
