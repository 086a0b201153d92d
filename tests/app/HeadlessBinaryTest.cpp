// Runs the built program as a user would and talks to it through its
// standard output and signals; every wait has a deadline.

#include <gtest/gtest.h>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
#include <regex>
#include <sstream>
#include <string>
#include <vector>

#include "app/CommandLine.h"
#include "net/EventLoop.h"
#include "tests/support/DnsResponder.h"

namespace {

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;

struct Child {
  pid_t pid = -1;
  int out = -1;
};

// A port on 127.0.0.1 held by a listener of the test's own.
int ListenOnFreePort(int& fd) {
  fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  sockaddr_in sin{};
  sin.sin_family = AF_INET;
  sin.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  if (bind(fd, reinterpret_cast<sockaddr*>(&sin), sizeof sin) != 0 || listen(fd, 1) != 0) return 0;
  socklen_t len = sizeof sin;
  getsockname(fd, reinterpret_cast<sockaddr*>(&sin), &len);
  return ntohs(sin.sin_port);
}

// noFileSpace: every write to a regular file fails in the child, as under
// `ulimit -f 0` with SIGXFSZ ignored (an ignored signal stays so across exec).
Child Spawn(const std::vector<std::string>& args, bool noFileSpace = false) {
  int pipeFds[2];
  if (pipe(pipeFds) != 0) return {};
  const pid_t pid = fork();
  if (pid == 0) {
    if (noFileSpace) {
      signal(SIGXFSZ, SIG_IGN);
      rlimit zero{0, 0};
      setrlimit(RLIMIT_FSIZE, &zero);
    }
    dup2(pipeFds[1], STDOUT_FILENO);
    close(pipeFds[0]);
    close(pipeFds[1]);
    std::vector<char*> argv;
    for (const auto& arg : args) argv.push_back(const_cast<char*>(arg.c_str()));
    argv.push_back(nullptr);
    execv(argv[0], argv.data());
    _exit(127);
  }
  close(pipeFds[1]);
  return {pid, pipeFds[0]};
}

// Reads until the predicate holds on what was read, or EOF, or the deadline.
std::string ReadUntil(int fd, Clock::time_point deadline,
                      const std::function<bool(const std::string&)>& done) {
  std::string text;
  while (!done(text)) {
    const auto left =
        std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now());
    if (left.count() <= 0) break;
    pollfd p{fd, POLLIN, 0};
    if (poll(&p, 1, static_cast<int>(left.count())) <= 0) break;
    char buffer[4096];
    const ssize_t n = read(fd, buffer, sizeof buffer);
    if (n <= 0) break;
    text.append(buffer, static_cast<size_t>(n));
  }
  return text;
}

// Waits for the child's exit through a pidfd, which becomes readable when
// the process ends; a child still running at the deadline is killed.
int WaitForExit(Child& child, Clock::time_point deadline) {
  // Drain first: closing the pipe early would kill a late writer by SIGPIPE.
  ReadUntil(child.out, deadline, [](const std::string&) { return false; });
  close(child.out);
  const int pidFd = static_cast<int>(syscall(SYS_pidfd_open, child.pid, 0));
  bool ended = false;
  if (pidFd >= 0) {
    const auto left =
        std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now());
    pollfd p{pidFd, POLLIN, 0};
    ended = poll(&p, 1, static_cast<int>(std::max<int64_t>(left.count(), 0))) == 1;
    close(pidFd);
  }
  int status = 0;
  if (!ended) {
    kill(child.pid, SIGKILL);
    waitpid(child.pid, &status, 0);
    return -1;
  }
  waitpid(child.pid, &status, 0);
  return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

TEST(HeadlessBinary, PrintsTimestampedLinesAndEndsCleanlyOnSigterm) {
  char pattern[] = "/tmp/vantrel-run-XXXXXX";
  ASSERT_NE(mkdtemp(pattern), nullptr);
  const fs::path dataDir = fs::path(pattern) / "data";  // created by the program

  // A free port: whatever may hold the default one must not matter here.
  int holder = -1;
  const int port = ListenOnFreePort(holder);
  ASSERT_GT(port, 0);
  close(holder);
  Child child = Spawn({VANTREL_BINARY, "--headless", "--port", std::to_string(port), "--data-dir",
                       dataDir.string()});
  ASSERT_GT(child.pid, 0);
  const auto deadline = Clock::now() + std::chrono::seconds(20);
  const std::string first = ReadUntil(child.out, deadline, [](const std::string& text) {
    return text.find('\n') != std::string::npos;
  });
  ASSERT_NE(first.find('\n'), std::string::npos) << "no output line before the deadline";
  const std::string line = first.substr(0, first.find('\n'));
  EXPECT_TRUE(std::regex_match(line, std::regex(R"(\d{4}/\d{2}/\d{2} \d{2}:\d{2}:\d{2} \[.*\])")))
      << line;
  EXPECT_TRUE(fs::is_directory(dataDir / "log"));

  ASSERT_EQ(kill(child.pid, SIGTERM), 0);
  EXPECT_EQ(WaitForExit(child, deadline), 0);
  fs::remove_all(pattern);
}

TEST(HeadlessBinary, APortInUseEndsTheProgramWithItsReason) {
  char pattern[] = "/tmp/vantrel-busy-XXXXXX";
  ASSERT_NE(mkdtemp(pattern), nullptr);
  int holder = -1;
  const int port = ListenOnFreePort(holder);
  ASSERT_GT(port, 0);
  const auto deadline = Clock::now() + std::chrono::seconds(20);
  Child child =
      Spawn({VANTREL_BINARY, "--headless", "--port", std::to_string(port), "--data-dir", pattern});
  ASSERT_GT(child.pid, 0);
  const std::string text = ReadUntil(child.out, deadline, [](const std::string& t) {
    return t.find("Address already in use") != std::string::npos;
  });
  EXPECT_NE(text.find("[Error: Error 10048 in function Bind"), std::string::npos) << text;
  EXPECT_NE(text.find("Address already in use]"), std::string::npos) << text;
  EXPECT_EQ(WaitForExit(child, deadline), 1);
  close(holder);
  fs::remove_all(pattern);
}

// The program's lookups go to the name server given, here one of our own on
// loopback; the system's would never see this name.
TEST(HeadlessBinary, LookupsGoToTheNameServerGiven) {
  auto& loop = vantrel::net::EventLoop::Default();
  vantrel::testsupport::DnsResponder dns(loop);
  char pattern[] = "/tmp/vantrel-dns-XXXXXX";
  ASSERT_NE(mkdtemp(pattern), nullptr);
  int holder = -1;
  const int port = ListenOnFreePort(holder);
  ASSERT_GT(port, 0);
  close(holder);
  const auto deadline = Clock::now() + std::chrono::seconds(20);
  Child child = Spawn({VANTREL_BINARY, "--headless", "--port", std::to_string(port), "--data-dir",
                       pattern, "--dns-server", dns.Server()});
  ASSERT_GT(child.pid, 0);
  const std::string started = ReadUntil(child.out, deadline, [](const std::string& t) {
    return t.find("[Proxy Started]") != std::string::npos;
  });
  ASSERT_NE(started.find("[Proxy Started]"), std::string::npos) << started;
  EXPECT_NE(started.find("[Country ZA: no address ranges"), std::string::npos) << started;

  const int client = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  sockaddr_in sin{};
  sin.sin_family = AF_INET;
  sin.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  sin.sin_port = htons(static_cast<uint16_t>(port));
  ASSERT_EQ(connect(client, reinterpret_cast<sockaddr*>(&sin), sizeof sin), 0);
  const std::string request =
      "GET http://dns-check.vantrel.test/ HTTP/1.0\r\nHost: dns-check.vantrel.test\r\n\r\n";
  ASSERT_EQ(write(client, request.data(), request.size()), static_cast<ssize_t>(request.size()));
  EXPECT_TRUE(loop.RunUntil([&] { return dns.QueriesFor("dns-check.vantrel.test") > 0; },
                            std::chrono::seconds(10)));
  close(client);

  ASSERT_EQ(kill(child.pid, SIGTERM), 0);
  EXPECT_EQ(WaitForExit(child, deadline), 0);
  fs::remove_all(pattern);
}

// A data folder of the test's own with files written into it.
class HeadlessConfigTest : public ::testing::Test {
 protected:
  void SetUp() override {
    char pattern[] = "/tmp/vantrel-conf-XXXXXX";
    ASSERT_NE(mkdtemp(pattern), nullptr);
    folder = pattern;
  }
  void TearDown() override {
    for (int fd : holders) close(fd);
    std::error_code ignored;
    fs::remove_all(folder, ignored);
  }
  void Write(const std::string& name, const std::string& text) {
    std::ofstream(folder / name, std::ios::binary) << text;
  }
  std::string Read(const std::string& name) const {
    std::ifstream in(folder / name, std::ios::binary);
    std::ostringstream text;
    text << in.rdbuf();
    return text.str();
  }
  ino_t Inode(const std::string& name) const {
    struct stat info {};
    return stat((folder / name).c_str(), &info) == 0 ? info.st_ino : 0;
  }
  // A free port; held by a listener of ours when hold is set.
  int Port(bool hold) {
    int fd = -1;
    const int port = ListenOnFreePort(fd);
    if (hold) {
      holders.push_back(fd);
    } else {
      close(fd);
    }
    return port;
  }
  static bool Connects(int port) {
    const int fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in sin{};
    sin.sin_family = AF_INET;
    sin.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    sin.sin_port = htons(static_cast<uint16_t>(port));
    const bool connected = connect(fd, reinterpret_cast<sockaddr*>(&sin), sizeof sin) == 0;
    close(fd);
    return connected;
  }
  Child Start(std::vector<std::string> extra, bool noFileSpace = false) {
    std::vector<std::string> args{VANTREL_BINARY, "--headless", "--data-dir", folder.string()};
    args.insert(args.end(), extra.begin(), extra.end());
    return Spawn(args, noFileSpace);
  }
  static std::string WaitFor(Child& child, const std::string& text, Clock::time_point deadline) {
    return ReadUntil(child.out, deadline,
                     [&text](const std::string& t) { return t.find(text) != std::string::npos; });
  }

  fs::path folder;
  std::vector<int> holders;
};

TEST_F(HeadlessConfigTest, ListensOnThePortOfTheFileAndSavesNothingUnchanged) {
  const int port = Port(false);
  const std::string ini = "; mine\n[CONFIG]\nProxyPort=" + std::to_string(port) + "\n";
  Write("proxy.ini", ini);
  const ino_t inode = Inode("proxy.ini");
  const auto deadline = Clock::now() + std::chrono::seconds(20);
  Child child = Start({});
  ASSERT_GT(child.pid, 0);
  const std::string text = WaitFor(child, "[Proxy Started]", deadline);
  ASSERT_NE(text.find("[Proxy Started]"), std::string::npos) << text;
  EXPECT_TRUE(Connects(port));
  ASSERT_EQ(kill(child.pid, SIGTERM), 0);
  EXPECT_EQ(WaitForExit(child, deadline), 0);
  EXPECT_EQ(Read("proxy.ini"), ini);
  EXPECT_EQ(Inode("proxy.ini"), inode);
}

// StartAutomatically with --port: the file's port (held by us here) is never
// tried. A log folder that is a file turns "Log to Disk" off, a change that
// the session's end saves, without the --port value.
TEST_F(HeadlessConfigTest, PortOverrideWithAutomaticStartAndTheSaveAtTheEnd) {
  for (const bool noFileSpace : {false, true}) {
    SCOPED_TRACE(noFileSpace ? "the final save fails" : "the final save works");
    const int filePort = Port(true);
    const int port = Port(false);
    const std::string ini =
        "[CONFIG]\nProxyPort=" + std::to_string(filePort) + "\nStartAutomatically=1\nWriteLog=1\n";
    Write("proxy.ini", ini);
    fs::remove_all(folder / "log");
    Write("log", "not a folder");
    const auto deadline = Clock::now() + std::chrono::seconds(20);
    Child child = Start({"--port", std::to_string(port)}, noFileSpace);
    ASSERT_GT(child.pid, 0);
    // The failed log write (not shown: "Log to Screen" is off) came before.
    const std::string text = WaitFor(child, "[Headless mode", deadline);
    EXPECT_NE(text.find("[Proxy Started]"), std::string::npos) << text;
    EXPECT_EQ(text.find("Error"), std::string::npos) << text;
    EXPECT_TRUE(Connects(port));
    ASSERT_EQ(kill(child.pid, SIGTERM), 0);
    EXPECT_EQ(WaitForExit(child, deadline), noFileSpace ? 1 : 0);
    if (noFileSpace) {
      EXPECT_EQ(Read("proxy.ini"), ini);
      continue;
    }
    const std::string saved = Read("proxy.ini");
    EXPECT_NE(saved.find("ProxyPort=" + std::to_string(filePort) + "\n"), std::string::npos)
        << saved;
    EXPECT_NE(saved.find("WriteLog=0\n"), std::string::npos) << saved;
    struct stat info {};
    ASSERT_EQ(stat((folder / "proxy.ini").c_str(), &info), 0);
    EXPECT_EQ(info.st_mode & 0777, 0600u);
  }
}

TEST_F(HeadlessConfigTest, SighupReloadsTheFilesAndKeepsServing) {
  const int port = Port(false);
  const auto deadline = Clock::now() + std::chrono::seconds(20);
  Child child = Start({"--port", std::to_string(port)});
  ASSERT_GT(child.pid, 0);
  ASSERT_NE(WaitFor(child, "[Proxy Started]", deadline).find("[Proxy Started]"), std::string::npos);
  // Read again, the blocked-host list is cleaned and written back.
  Write("blockedhosts.dat", "0.0.0.0 B.example a.example # mine\n");
  ASSERT_EQ(kill(child.pid, SIGHUP), 0);
  const std::string text = WaitFor(child, "[Configuration reloaded]", deadline);
  EXPECT_NE(text.find("[Configuration reloaded]"), std::string::npos) << text;
  EXPECT_EQ(Read("blockedhosts.dat"), "a.example\nb.example\n");
  EXPECT_TRUE(Connects(port));
  ASSERT_EQ(kill(child.pid, SIGINT), 0);
  EXPECT_EQ(WaitForExit(child, deadline), 0);
  EXPECT_FALSE(fs::exists(folder / "proxy.ini"));  // nothing changed, nothing saved
}

TEST_F(HeadlessConfigTest, AnUnreadableConfigurationEndsTheProgram) {
  fs::create_directory(folder / "proxy.ini");
  const auto deadline = Clock::now() + std::chrono::seconds(20);
  Child child = Start({"--port", std::to_string(Port(false))});
  ASSERT_GT(child.pid, 0);
  const std::string text = ReadUntil(child.out, deadline, [](const std::string&) { return false; });
  EXPECT_NE(text.find("[Cannot read " + (folder / "proxy.ini").string() + ": Is a directory]"),
            std::string::npos)
      << text;
  EXPECT_EQ(text.find("[Proxy Started]"), std::string::npos) << text;
  EXPECT_EQ(WaitForExit(child, deadline), 1);
  EXPECT_TRUE(fs::is_directory(folder / "proxy.ini"));
}

TEST_F(HeadlessConfigTest, CheckConfigListsIgnoredLinesAndChangesNothing) {
  const auto deadline = Clock::now() + std::chrono::seconds(20);
  Write("proxy.ini", "[CONFIG]\nProxyPort=1080\n");
  Write("allowedip.dat", "127.0.0.1\n10.0.0.0-10.255.255.255\n");
  Write("blockedhosts.dat", "Ads.example\n");
  Child clean = Spawn({VANTREL_BINARY, "--check-config", "--data-dir", folder.string()});
  ASSERT_GT(clean.pid, 0);
  EXPECT_EQ(ReadUntil(clean.out, deadline, [](const std::string&) { return false; }), "");
  EXPECT_EQ(WaitForExit(clean, deadline), 0);

  Write("proxy.ini", "[CONFIG]\nProxyPort=1080 ; mine\nStartMinimized\n");
  Write("allowedip.dat", "127.0.0.1\nlan.example\n");
  Child bad = Spawn({VANTREL_BINARY, "--check-config", "--data-dir", folder.string()});
  ASSERT_GT(bad.pid, 0);
  const std::string ini = (folder / "proxy.ini").string();
  const std::string allowed = (folder / "allowedip.dat").string();
  EXPECT_EQ(ReadUntil(bad.out, deadline, [](const std::string&) { return false; }),
            ini + ":3: ignored: no '=' in the line\n" + ini +
                ":2: ProxyPort is not a number; the default is used\n" + allowed +
                ":2: not an address or an address range; blanked\n");
  EXPECT_EQ(WaitForExit(bad, deadline), 1);
  EXPECT_EQ(Read("blockedhosts.dat"), "Ads.example\n");
  EXPECT_EQ(Read("allowedip.dat"), "127.0.0.1\nlan.example\n");
  EXPECT_FALSE(fs::exists(folder / "log"));
}

TEST(HeadlessBinary, UsageErrorsExitWithTwoAndVersionPrints) {
  const auto deadline = Clock::now() + std::chrono::seconds(20);
  Child bad = Spawn({VANTREL_BINARY, "--port", "none"});
  ASSERT_GT(bad.pid, 0);
  EXPECT_EQ(WaitForExit(bad, deadline), 2);

  Child version = Spawn({VANTREL_BINARY, "--version"});
  ASSERT_GT(version.pid, 0);
  const std::string text = ReadUntil(version.out, deadline, [](const std::string& t) {
    return t.find('\n') != std::string::npos;
  });
  EXPECT_EQ(text, vantrel::VersionText());
  EXPECT_EQ(WaitForExit(version, deadline), 0);
}

}  // namespace
