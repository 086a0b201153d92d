// Runs the built program as a user would and talks to it through its
// standard output and signals; every wait has a deadline.

#include <gtest/gtest.h>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <functional>
#include <regex>
#include <string>
#include <vector>

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

Child Spawn(const std::vector<std::string>& args) {
  int pipeFds[2];
  if (pipe(pipeFds) != 0) return {};
  const pid_t pid = fork();
  if (pid == 0) {
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
  EXPECT_EQ(text, "vantrel 0.1.0\n");
  EXPECT_EQ(WaitForExit(version, deadline), 0);
}

}  // namespace
