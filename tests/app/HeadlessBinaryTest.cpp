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
// withStderr: standard error goes to the same pipe as standard output.
Child Spawn(const std::vector<std::string>& args, bool noFileSpace = false,
            bool withStderr = false) {
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
    if (withStderr) dup2(pipeFds[1], STDERR_FILENO);
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
  if (child.out >= 0) {
    ReadUntil(child.out, deadline, [](const std::string&) { return false; });
    close(child.out);
    child.out = -1;
  }
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

// Starts the program on a port that was free a moment ago; args(port) is
// its command line. Another process may take the port in between: the
// program then reports error 10048 and ends, and another port is tried.
// output holds what it printed up to "[Proxy Started]".
Child SpawnOnFreePort(const std::function<std::vector<std::string>(int port)>& args, int& port,
                      std::string& output, Clock::time_point deadline, bool noFileSpace = false) {
  for (int attempt = 0; attempt < 20; ++attempt) {
    int fd = -1;
    port = ListenOnFreePort(fd);
    close(fd);
    Child child = Spawn(args(port), noFileSpace);
    if (child.pid <= 0) return child;
    output = ReadUntil(child.out, deadline, [](const std::string& text) {
      return text.find("[Proxy Started]") != std::string::npos ||
             text.find("Error 10048") != std::string::npos;
    });
    if (output.find("Error 10048") == std::string::npos) return child;
    WaitForExit(child, deadline);
  }
  return {};
}

TEST(HeadlessBinary, PrintsTimestampedLinesAndEndsCleanlyOnSigterm) {
  char pattern[] = "/tmp/vantrel-run-XXXXXX";
  ASSERT_NE(mkdtemp(pattern), nullptr);
  const fs::path dataDir = fs::path(pattern) / "data";  // created by the program

  // A free port: whatever may hold the default one must not matter here.
  const auto deadline = Clock::now() + std::chrono::seconds(20);
  int port = 0;
  std::string first;
  Child child = SpawnOnFreePort(
      [&](int p) {
        return std::vector<std::string>{VANTREL_BINARY, "--headless", "--port",
                                        std::to_string(p), "--data-dir", dataDir.string()};
      },
      port, first, deadline);
  ASSERT_GT(child.pid, 0);
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
  const auto deadline = Clock::now() + std::chrono::seconds(20);
  int port = 0;
  std::string started;
  Child child = SpawnOnFreePort(
      [&](int p) {
        return std::vector<std::string>{VANTREL_BINARY, "--headless", "--port", std::to_string(p),
                                        "--data-dir", pattern, "--dns-server", dns.Server()};
      },
      port, started, deadline);
  ASSERT_GT(child.pid, 0);
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
  Child Start(std::vector<std::string> extra, bool noFileSpace = false, bool withStderr = false) {
    std::vector<std::string> args{VANTREL_BINARY, "--headless", "--data-dir", folder.string()};
    args.insert(args.end(), extra.begin(), extra.end());
    return Spawn(args, noFileSpace, withStderr);
  }
  // Start with the port given by extra(port), retried on another port
  // when the one chosen was taken meanwhile.
  Child StartOnFreePort(const std::function<std::vector<std::string>(int port)>& extra, int& port,
                        std::string& output, Clock::time_point deadline, bool noFileSpace = false) {
    return SpawnOnFreePort(
        [&](int p) {
          std::vector<std::string> args{VANTREL_BINARY, "--headless", "--data-dir",
                                        folder.string()};
          const std::vector<std::string> more = extra(p);
          args.insert(args.end(), more.begin(), more.end());
          return args;
        },
        port, output, deadline, noFileSpace);
  }
  static std::vector<std::string> PortArgs(int port) { return {"--port", std::to_string(port)}; }
  static std::string WaitFor(Child& child, const std::string& text, Clock::time_point deadline) {
    return ReadUntil(child.out, deadline,
                     [&text](const std::string& t) { return t.find(text) != std::string::npos; });
  }

  fs::path folder;
  std::vector<int> holders;
};

TEST_F(HeadlessConfigTest, ListensOnThePortOfTheFileAndSavesNothingUnchanged) {
  std::string ini;
  int port = 0;
  std::string text;
  const auto deadline = Clock::now() + std::chrono::seconds(20);
  Child child = StartOnFreePort(
      [&](int p) {
        ini = "; mine\n[CONFIG]\nProxyPort=" + std::to_string(p) + "\n";
        Write("proxy.ini", ini);
        return std::vector<std::string>{};
      },
      port, text, deadline);
  const ino_t inode = Inode("proxy.ini");
  ASSERT_GT(child.pid, 0);
  ASSERT_NE(text.find("[Proxy Started]"), std::string::npos) << text;
  EXPECT_TRUE(Connects(port));
  ASSERT_EQ(kill(child.pid, SIGTERM), 0);
  EXPECT_EQ(WaitForExit(child, deadline), 0);
  EXPECT_EQ(Read("proxy.ini"), ini);
  EXPECT_EQ(Inode("proxy.ini"), inode);
}

// StartAutomatically with --port: the file's port (held by us here) is never
// tried. A log folder that is a file turns "Log to Disk" off for this run
// only: that is no change of the user's, so the end saves nothing, and
// neither the --port value nor WriteLog=0 reaches the file.
TEST_F(HeadlessConfigTest, PortOverrideWithAutomaticStartAndAFailedLogWriteSaveNothing) {
  const int filePort = Port(true);
  const std::string ini =
      "[CONFIG]\nProxyPort=" + std::to_string(filePort) + "\nStartAutomatically=1\nWriteLog=1\n";
  int port = 0;
  std::string text;
  const auto deadline = Clock::now() + std::chrono::seconds(20);
  Child child = StartOnFreePort(
      [&](int p) {
        Write("proxy.ini", ini);
        fs::remove_all(folder / "log");
        Write("log", "not a folder");
        return PortArgs(p);
      },
      port, text, deadline);
  ASSERT_GT(child.pid, 0);
  const ino_t inode = Inode("proxy.ini");
  // The failed log write (not shown: "Log to Screen" is off) came before.
  text += ReadUntil(child.out, deadline, [&text](const std::string& more) {
    return (text + more).find("[Headless mode") != std::string::npos;
  });
  EXPECT_NE(text.find("[Proxy Started]"), std::string::npos) << text;
  EXPECT_EQ(text.find("Error"), std::string::npos) << text;
  EXPECT_TRUE(Connects(port));
  ASSERT_EQ(kill(child.pid, SIGTERM), 0);
  EXPECT_EQ(WaitForExit(child, deadline), 0);
  EXPECT_EQ(Read("proxy.ini"), ini);
  EXPECT_EQ(Inode("proxy.ini"), inode);
}

// The second program on a folder, desktop or headless, ends at once.
TEST_F(HeadlessConfigTest, ASecondProgramOnTheSameFolderEndsWithTheFirstsPid) {
  const auto deadline = Clock::now() + std::chrono::seconds(20);
  int port = 0;
  std::string text;
  Child first = StartOnFreePort(PortArgs, port, text, deadline);
  ASSERT_GT(first.pid, 0);
  ASSERT_NE(text.find("[Proxy Started]"), std::string::npos) << text;
  // It ends before it would listen: the port does not matter.
  Child second = Start({"--port", std::to_string(Port(false))}, false, true);
  ASSERT_GT(second.pid, 0);
  const std::string said =
      ReadUntil(second.out, deadline, [](const std::string&) { return false; });
  EXPECT_EQ(said, "Another Vantrel is using " + fs::canonical(folder).string() + " (pid " +
                      std::to_string(first.pid) + ")\n");
  EXPECT_EQ(WaitForExit(second, deadline), 1);
  ASSERT_EQ(kill(first.pid, SIGTERM), 0);
  EXPECT_EQ(WaitForExit(first, deadline), 0);
  // Once the first has ended, the folder is free again.
  Child next = StartOnFreePort(PortArgs, port, text, deadline);
  ASSERT_GT(next.pid, 0);
  EXPECT_NE(text.find("[Proxy Started]"), std::string::npos) << text;
  ASSERT_EQ(kill(next.pid, SIGTERM), 0);
  EXPECT_EQ(WaitForExit(next, deadline), 0);
}

// A reload that cannot read a file changes nothing and says so; the end
// then saves nothing over the files.
TEST_F(HeadlessConfigTest, AFailedReloadKeepsTheSettingsAndTheEndSavesNothing) {
  const std::string ini = "[CONFIG]\nBlockHosts=1\n";
  Write("proxy.ini", ini);
  const auto deadline = Clock::now() + std::chrono::seconds(20);
  int port = 0;
  std::string started;
  Child child = StartOnFreePort(PortArgs, port, started, deadline);
  ASSERT_GT(child.pid, 0);
  ASSERT_NE(started.find("[Proxy Started]"), std::string::npos) << started;
  fs::create_directory(folder / "allowedip.dat");
  ASSERT_EQ(kill(child.pid, SIGHUP), 0);
  const std::string text = WaitFor(child, "kept]", deadline);
  EXPECT_NE(text.find("[Cannot read " + (folder / "allowedip.dat").string() + ": Is a directory]"),
            std::string::npos)
      << text;
  EXPECT_NE(text.find("[Configuration not reloaded; the settings in use are kept]"),
            std::string::npos)
      << text;
  EXPECT_EQ(text.find("[Configuration reloaded]"), std::string::npos) << text;
  fs::remove(folder / "allowedip.dat");
  ASSERT_EQ(kill(child.pid, SIGTERM), 0);
  EXPECT_EQ(WaitForExit(child, deadline), 0);
  EXPECT_EQ(Read("proxy.ini"), ini);
  EXPECT_FALSE(fs::exists(folder / "allowedip.dat"));
}

TEST_F(HeadlessConfigTest, AUtf16ConfigurationEndsTheProgramWithItsReason) {
  Write("proxy.ini", std::string("\xFF\xFE[\0C\0O\0N\0F\0I\0G\0]\0", 18));
  const auto deadline = Clock::now() + std::chrono::seconds(20);
  Child child = Start({"--port", std::to_string(Port(false))}, false, true);
  ASSERT_GT(child.pid, 0);
  const std::string text = ReadUntil(child.out, deadline, [](const std::string&) { return false; });
  EXPECT_NE(text.find("Cannot read " + (folder / "proxy.ini").string() +
                      ": UTF-16 is not supported; save the file as UTF-8"),
            std::string::npos)
      << text;
  EXPECT_EQ(text.find("[Proxy Started]"), std::string::npos) << text;
  EXPECT_EQ(WaitForExit(child, deadline), 1);
}

TEST_F(HeadlessConfigTest, SighupReloadsTheFilesAndKeepsServing) {
  int port = 0;
  std::string started;
  const auto deadline = Clock::now() + std::chrono::seconds(20);
  Child child = StartOnFreePort(PortArgs, port, started, deadline);
  ASSERT_GT(child.pid, 0);
  ASSERT_NE(started.find("[Proxy Started]"), std::string::npos) << started;
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

// The file's HeaderTimeout reaches the proxy: a client that connects and
// says nothing is closed by it (the default would wait half a minute).
TEST_F(HeadlessConfigTest, TheFilesHeaderTimeoutClosesASilentClient) {
  Write("proxy.ini", "[CONFIG]\nHeaderTimeout=1\n");
  int port = 0;
  std::string started;
  const auto deadline = Clock::now() + std::chrono::seconds(20);
  Child child = StartOnFreePort(PortArgs, port, started, deadline);
  ASSERT_GT(child.pid, 0);
  ASSERT_NE(started.find("[Proxy Started]"), std::string::npos) << started;
  const int fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  sockaddr_in sin{};
  sin.sin_family = AF_INET;
  sin.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  sin.sin_port = htons(static_cast<uint16_t>(port));
  ASSERT_EQ(connect(fd, reinterpret_cast<sockaddr*>(&sin), sizeof sin), 0);
  pollfd p{fd, POLLIN, 0};
  const int waitMs = static_cast<int>(
      std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()).count());
  ASSERT_EQ(poll(&p, 1, std::max(waitMs, 0)), 1);
  char byte;
  EXPECT_EQ(recv(fd, &byte, 1, 0), 0);  // an orderly end from the proxy
  close(fd);
  ASSERT_EQ(kill(child.pid, SIGTERM), 0);
  EXPECT_EQ(WaitForExit(child, deadline), 0);
}

// Unreadable or too large (a sparse 8 GB file): the program neither runs on
// defaults nor takes the file into memory, and the file stays as it was.
TEST_F(HeadlessConfigTest, AnUnreadableConfigurationEndsTheProgram) {
  const std::string ini = (folder / "proxy.ini").string();
  struct Case {
    const char* name;
    std::function<void()> make;
    std::string line;
  };
  const Case cases[] = {
      {"a folder", [&] { fs::create_directory(ini); }, "[Cannot read " + ini + ": Is a directory]"},
      {"8 GB", [&] { Write("proxy.ini", ""); fs::resize_file(ini, uintmax_t{8} << 30); },
       "[" + ini + ": file too large]"},
  };
  for (const Case& t : cases) {
    SCOPED_TRACE(t.name);
    fs::remove_all(ini);
    t.make();
    const auto deadline = Clock::now() + std::chrono::seconds(20);
    // The port is never listened on: it need not stay free.
    Child child = Start({"--port", std::to_string(Port(false))}, false);
    ASSERT_GT(child.pid, 0);
    const std::string text =
        ReadUntil(child.out, deadline, [](const std::string&) { return false; });
    EXPECT_NE(text.find(t.line), std::string::npos) << text;
    EXPECT_EQ(text.find("[Proxy Started]"), std::string::npos) << text;
    EXPECT_EQ(WaitForExit(child, deadline), 1);
    Child check = Spawn({VANTREL_BINARY, "--check-config", "--data-dir", folder.string()});
    ASSERT_GT(check.pid, 0);
    EXPECT_NE(ReadUntil(check.out, deadline, [](const std::string&) { return false; }), "");
    EXPECT_EQ(WaitForExit(check, deadline), 1);
  }
  EXPECT_EQ(fs::file_size(ini), uintmax_t{8} << 30);
  Child check = Spawn({VANTREL_BINARY, "--check-config", "--data-dir", folder.string()});
  ASSERT_GT(check.pid, 0);
  const auto deadline = Clock::now() + std::chrono::seconds(20);
  EXPECT_EQ(ReadUntil(check.out, deadline, [](const std::string&) { return false; }),
            ini + ": file too large\n");
  EXPECT_EQ(WaitForExit(check, deadline), 1);
}

// An endless input is refused at the bound, with a message, not an abort.
TEST_F(HeadlessConfigTest, AnImportFromAnEndlessFileEndsWithFileTooLarge) {
  const auto deadline = Clock::now() + std::chrono::seconds(60);
  Child child = Spawn({VANTREL_BINARY, "--import-country", "tor", "/dev/zero", "--data-dir",
                       folder.string()},
                      false, true);
  ASSERT_GT(child.pid, 0);
  const std::string text = ReadUntil(child.out, deadline, [](const std::string&) { return false; });
  EXPECT_EQ(text, "vantrel: /dev/zero: file too large\n");
  EXPECT_EQ(WaitForExit(child, deadline), 1);
  EXPECT_FALSE(fs::exists(folder / "GeoIPCountryWhoIs.csv"));
}

// `vantrel --headless | head -n 2`: a reader gone ends the printing; the
// program goes on and ends as ever ("Log to Disk", turned off for the run by
// a log folder that is a file, is no change to save).
TEST_F(HeadlessConfigTest, AClosedStandardOutputStopsThePrintingNotTheProgram) {
  int port = 0;
  std::string started;
  const auto deadline = Clock::now() + std::chrono::seconds(20);
  Child child = StartOnFreePort(
      [&](int p) {
        Write("proxy.ini", "[CONFIG]\nWriteLog=1\n");
        fs::remove_all(folder / "log");
        Write("log", "not a folder");
        return PortArgs(p);
      },
      port, started, deadline);
  ASSERT_GT(child.pid, 0);
  ASSERT_NE(started.find("[Proxy Started]"), std::string::npos) << started;
  close(child.out);
  child.out = -1;
  // The reload cleans this file; once it has, its log line was printed.
  Write("blockedhosts.dat", "B.example\n");
  ASSERT_EQ(kill(child.pid, SIGHUP), 0);
  while (Read("blockedhosts.dat") != "b.example\n" && Clock::now() < deadline) {
    poll(nullptr, 0, 10);
  }
  ASSERT_EQ(Read("blockedhosts.dat"), "b.example\n");
  EXPECT_TRUE(Connects(port));
  ASSERT_EQ(kill(child.pid, SIGTERM), 0);
  EXPECT_EQ(WaitForExit(child, deadline), 0);
  EXPECT_EQ(Read("proxy.ini"), "[CONFIG]\nWriteLog=1\n");
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
