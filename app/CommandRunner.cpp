#include "app/CommandRunner.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>

extern char** environ;

namespace vantrel {

namespace {

void CloseBoth(int fds[2]) {
  for (int i = 0; i < 2; ++i) {
    if (fds[i] >= 0) ::close(fds[i]);
    fds[i] = -1;
  }
}

}  // namespace

bool CommandExists(const std::string& name) {
  if (name.find('/') != std::string::npos) return ::access(name.c_str(), X_OK) == 0;
  const char* path = std::getenv("PATH");
  std::string folders = path != nullptr ? path : "/usr/bin:/bin";
  size_t start = 0;
  while (start <= folders.size()) {
    const size_t end = std::min(folders.find(':', start), folders.size());
    const std::string folder = folders.substr(start, end - start);
    if (!folder.empty() && ::access((folder + "/" + name).c_str(), X_OK) == 0) return true;
    start = end + 1;
  }
  return false;
}

TCommandResult RunCommand(const std::vector<std::string>& argv,
                          const std::vector<std::string>& extraEnvironment,
                          std::chrono::milliseconds limit) {
  TCommandResult result;
  if (argv.empty()) return result;
  int out[2] = {-1, -1};
  int err[2] = {-1, -1};
  if (::pipe2(out, O_CLOEXEC) != 0 || ::pipe2(err, O_CLOEXEC) != 0) {
    result.error = std::strerror(errno);
    CloseBoth(out);
    CloseBoth(err);
    return result;
  }
  std::vector<char*> args;
  for (const std::string& arg : argv) args.push_back(const_cast<char*>(arg.c_str()));
  args.push_back(nullptr);
  // The child's environment: ours, with the extra names replaced.
  std::vector<std::string> keep;
  for (char** at = environ; *at != nullptr; ++at) {
    const std::string entry = *at;
    const std::string name = entry.substr(0, entry.find('='));
    bool replaced = false;
    for (const std::string& extra : extraEnvironment) {
      replaced |= extra.substr(0, extra.find('=')) == name;
    }
    if (!replaced) keep.push_back(entry);
  }
  keep.insert(keep.end(), extraEnvironment.begin(), extraEnvironment.end());
  std::vector<char*> env;
  for (const std::string& entry : keep) env.push_back(const_cast<char*>(entry.c_str()));
  env.push_back(nullptr);

  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
  posix_spawn_file_actions_adddup2(&actions, out[1], 1);
  posix_spawn_file_actions_adddup2(&actions, err[1], 2);
  pid_t pid = -1;
  const int spawned = ::posix_spawnp(&pid, args[0], &actions, nullptr, args.data(), env.data());
  posix_spawn_file_actions_destroy(&actions);
  ::close(out[1]);
  ::close(err[1]);
  if (spawned != 0) {
    result.error = argv[0] + ": " + std::strerror(spawned);
    ::close(out[0]);
    ::close(err[0]);
    return result;
  }
  result.started = true;

  // Both pipes until they close, or until the limit: then the tool is ended.
  const auto deadline = std::chrono::steady_clock::now() + limit;
  pollfd fds[2] = {{out[0], POLLIN, 0}, {err[0], POLLIN, 0}};
  std::string* sinks[2] = {&result.output, &result.error};
  int open = 2;
  bool killed = false;
  while (open > 0) {
    const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
        deadline - std::chrono::steady_clock::now());
    if (left.count() <= 0) {
      ::kill(pid, SIGKILL);
      killed = true;
      break;
    }
    if (::poll(fds, 2, static_cast<int>(left.count())) < 0 && errno != EINTR) break;
    for (int i = 0; i < 2; ++i) {
      if (fds[i].fd < 0 || fds[i].revents == 0) continue;
      char buffer[4096];
      const ssize_t n = ::read(fds[i].fd, buffer, sizeof buffer);
      if (n > 0) {
        // A tool's answer is a line or two; more is not kept.
        if (sinks[i]->size() < 65536) sinks[i]->append(buffer, static_cast<size_t>(n));
      } else if (n == 0 || errno != EINTR) {
        ::close(fds[i].fd);
        fds[i].fd = -1;
        --open;
      }
    }
  }
  for (pollfd& fd : fds) {
    if (fd.fd >= 0) ::close(fd.fd);
  }
  int status = 0;
  while (::waitpid(pid, &status, 0) < 0 && errno == EINTR) {
  }
  if (killed) {
    result.error += argv[0] + " did not answer in time";
  } else if (WIFEXITED(status)) {
    result.status = WEXITSTATUS(status);
  }
  return result;
}

}  // namespace vantrel
