// The real program with its window: no display means exit code 2 with a
// message, a second launch on one data folder shows the first and ends, and
// SIGTERM (how Wayland sessions and systemd end us) ends it cleanly.

#include <fcntl.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <filesystem>
#include <string>
#include <thread>
#include <vector>

#include "app/FolderLock.h"
#include "tests/support/ScratchFolder.h"

namespace vantrel {
namespace {

using Clock = std::chrono::steady_clock;

struct TChild {
  pid_t pid = -1;
  int err = -1;  // its standard error
};

// Runs the program with exactly the given environment.
TChild Spawn(const std::vector<std::string>& args, const std::vector<std::string>& env) {
  int pipeFds[2];
  if (::pipe(pipeFds) != 0) return {};
  const pid_t pid = ::fork();
  if (pid == 0) {
    ::dup2(pipeFds[1], 2);
    ::close(pipeFds[0]);
    ::close(pipeFds[1]);
    std::vector<char*> argv, envp;
    for (const auto& a : args) argv.push_back(const_cast<char*>(a.c_str()));
    for (const auto& e : env) envp.push_back(const_cast<char*>(e.c_str()));
    argv.push_back(nullptr);
    envp.push_back(nullptr);
    ::execve(argv[0], argv.data(), envp.data());
    ::_exit(127);
  }
  ::close(pipeFds[1]);
  return {pid, pipeFds[0]};
}

// The exit code, 128 + signal when killed, -1 when still running at the
// deadline (then it is killed).
int WaitForExit(TChild& child, Clock::time_point deadline) {
  int status = 0;
  while (Clock::now() < deadline) {
    if (::waitpid(child.pid, &status, WNOHANG) == child.pid) {
      ::close(child.err);
      return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
  ::kill(child.pid, SIGKILL);
  ::waitpid(child.pid, &status, 0);
  ::close(child.err);
  return -1;
}

std::string ReadAll(int fd) {
  std::string text;
  char buffer[4096];
  ssize_t n;
  while ((n = ::read(fd, buffer, sizeof buffer)) > 0) text.append(buffer, static_cast<size_t>(n));
  return text;
}

// A virtual X server of the test's own, where Qt starts the threads of a
// real display connection; -1 when there is no Xvfb.
struct TXvfb {
  pid_t pid = -1;
  int display = -1;
  TXvfb() {
    if (::access("/usr/bin/Xvfb", X_OK) != 0) return;
    int fds[2];
    if (::pipe(fds) != 0) return;
    pid = ::fork();
    if (pid == 0) {
      ::dup2(fds[1], 3);
      const int null = ::open("/dev/null", O_WRONLY);
      ::dup2(null, 1);
      ::dup2(null, 2);
      ::execl("/usr/bin/Xvfb", "Xvfb", "-displayfd", "3", "-nolisten", "tcp", "-screen", "0",
              "800x600x24", static_cast<char*>(nullptr));
      ::_exit(127);
    }
    ::close(fds[1]);
    std::string number;
    char c;
    while (::read(fds[0], &c, 1) == 1 && c != '\n') number += c;
    ::close(fds[0]);
    if (!number.empty()) display = std::stoi(number);
  }
  ~TXvfb() {
    if (pid <= 0) return;
    ::kill(pid, SIGTERM);
    ::waitpid(pid, nullptr, 0);
  }
};

// No locale variable (the country is ZA) and no Tor country file to import.
std::vector<std::string> BaseEnvironment(const std::string& runtime) {
  return {"PATH=/usr/bin:/bin", "HOME=" + runtime, "XDG_RUNTIME_DIR=" + runtime,
          "XDG_CONFIG_HOME=" + runtime + "/config", "VANTREL_TOR_GEOIP="};
}

// A socket file in /tmp/.X11-unix that nobody listens on, as a crashed X
// server leaves it; removed with the object. Its display number is -1 when
// none could be made.
struct TStaleXSocket {
  int display = -1;
  std::string path;
  TStaleXSocket() {
    ::mkdir("/tmp/.X11-unix", 01777);
    for (int number = 900; number < 1000 && display < 0; ++number) {
      std::string candidate = "/tmp/.X11-unix/X";
      candidate += std::to_string(number);
      if (::access(candidate.c_str(), F_OK) == 0) continue;
      const int fd = ::socket(AF_UNIX, SOCK_STREAM, 0);
      sockaddr_un address{};
      address.sun_family = AF_UNIX;
      std::snprintf(address.sun_path, sizeof address.sun_path, "%s", candidate.c_str());
      if (fd >= 0 && ::bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0) {
        display = number;
        path = candidate;
      }
      if (fd >= 0) ::close(fd);
    }
  }
  ~TStaleXSocket() {
    if (!path.empty()) ::unlink(path.c_str());
  }
};

TEST(DesktopBinaryTest, WithoutAReachableDisplayItSaysSoAndExitsWithTwo) {
  TStaleXSocket stale;
  struct Case {
    const char* name;
    std::string display;  // empty: no DISPLAY at all
  };
  std::vector<Case> cases = {{"no display", ""}, {"no server on the port", "127.0.0.1:55"}};
  if (stale.display >= 0) {
    std::string display = ":";  // appended: g++ 12 at -O3 warns falsely about ":" + ...
    display += std::to_string(stale.display);
    cases.push_back({"a stale socket", display});
  }
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    testsupport::ScratchFolder folder("vantrel-nodisplay");
    const std::string data = (folder.Path() / "data").string();
    std::vector<std::string> env = BaseEnvironment(folder.Path());
    if (!c.display.empty()) {
      env.push_back("DISPLAY=" + c.display);
      env.push_back("QT_QPA_PLATFORM=xcb");
    }
    TChild child = Spawn({VANTREL_BINARY, "--data-dir", data}, env);
    ASSERT_GT(child.pid, 0);
    const int err = child.err;
    child.err = ::dup(err);
    EXPECT_EQ(WaitForExit(child, Clock::now() + std::chrono::seconds(20)), 2);
    const std::string message = ReadAll(err);
    ::close(err);
    EXPECT_NE(message.find("no display to open the window on"), std::string::npos) << message;
    EXPECT_NE(message.find("--headless"), std::string::npos) << message;
    EXPECT_FALSE(std::filesystem::exists(data)) << "nothing is created before the display check";
  }
}

TEST(DesktopBinaryTest, ASecondLaunchShowsTheFirstAndSigtermEndsItCleanly) {
  testsupport::ScratchFolder folder("vantrel-twice");
  const std::string data = (folder.Path() / "data").string();
  std::vector<std::string> env = BaseEnvironment(folder.Path());
  env.push_back("QT_QPA_PLATFORM=offscreen");
  TChild first = Spawn({VANTREL_BINARY, "--data-dir", data}, env);
  ASSERT_GT(first.pid, 0);
  // Up once it holds the data folder's lock.
  const auto deadline = Clock::now() + std::chrono::seconds(20);
  const auto lock = std::filesystem::path(data) / ".vantrel.lock";
  while (!std::filesystem::exists(lock) && Clock::now() < deadline) {
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
  }
  ASSERT_TRUE(std::filesystem::exists(lock));

  TChild second = Spawn({VANTREL_BINARY, "--data-dir", data}, env);
  ASSERT_GT(second.pid, 0);
  const int secondErr = second.err;
  second.err = ::dup(secondErr);
  EXPECT_EQ(WaitForExit(second, deadline), 0);
  const std::string said = ReadAll(secondErr);
  ::close(secondErr);
  EXPECT_NE(said.find("already running"), std::string::npos) << said;

  ::kill(first.pid, SIGTERM);
  EXPECT_EQ(WaitForExit(first, deadline), 0) << "SIGTERM must come through the loop";
  EXPECT_FALSE(std::filesystem::exists(lock)) << "the lock goes with the program";
}

// The headless program takes the same lock, held here by the test itself:
// the window does not start on a folder in use and names who uses it.
TEST(DesktopBinaryTest, AFolderInUseByAnotherProgramIsNamedWithItsPid) {
  testsupport::ScratchFolder folder("vantrel-held");
  const auto data = folder.Path() / "data";
  std::filesystem::create_directory(data);
  TFolderLock held(data);
  ASSERT_TRUE(held.Acquire());
  std::vector<std::string> env = BaseEnvironment(folder.Path());
  env.push_back("QT_QPA_PLATFORM=offscreen");
  TChild child = Spawn({VANTREL_BINARY, "--data-dir", data.string()}, env);
  ASSERT_GT(child.pid, 0);
  const int err = child.err;
  child.err = ::dup(err);
  EXPECT_EQ(WaitForExit(child, Clock::now() + std::chrono::seconds(20)), 1);
  const std::string said = ReadAll(err);
  ::close(err);
  EXPECT_NE(said.find("Another Vantrel is using " + std::filesystem::canonical(data).string() +
                      " (pid " + std::to_string(::getpid()) + ")\n"),
            std::string::npos)
      << said;
}

// On a real display connection Qt runs threads of its own: SIGTERM must
// still reach the loop (blocked before they start), not end the process.
TEST(DesktopBinaryTest, SigtermOnAnXDisplayEndsThroughTheLoop) {
  TXvfb xvfb;
  if (xvfb.display < 0) GTEST_SKIP() << "no Xvfb";
  testsupport::ScratchFolder folder("vantrel-x11");
  const std::string data = (folder.Path() / "data").string();
  std::vector<std::string> env = BaseEnvironment(folder.Path());
  env.push_back("DISPLAY=:" + std::to_string(xvfb.display));
  // Under the sanitizers: the system's D-Bus library, which Qt loads on a
  // real display, keeps a buffer to the end; that is not ours to report.
  folder.Write("lsan.supp", "leak:libdbus-1.so\n");
  env.push_back("LSAN_OPTIONS=suppressions=" + (folder.Path() / "lsan.supp").string());
  TChild child = Spawn({VANTREL_BINARY, "--data-dir", data}, env);
  ASSERT_GT(child.pid, 0);
  const auto deadline = Clock::now() + std::chrono::seconds(20);
  const auto lock = std::filesystem::path(data) / ".vantrel.lock";
  while (!std::filesystem::exists(lock) && Clock::now() < deadline) {
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
  }
  if (!std::filesystem::exists(lock)) {
    // Ended or stuck before it took its folder: say what it said.
    ::kill(child.pid, SIGKILL);
    int status = 0;
    ::waitpid(child.pid, &status, 0);
    FAIL() << "no lock; status " << status << "; it said: " << ReadAll(child.err);
  }
  std::this_thread::sleep_for(std::chrono::milliseconds(500));  // the window is up
  ::kill(child.pid, SIGTERM);
  EXPECT_EQ(WaitForExit(child, deadline), 0);
}

}  // namespace
}  // namespace vantrel
