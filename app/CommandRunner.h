#pragma once
// Runs a desktop's own command-line tool (gsettings, kwriteconfig5) and
// collects what it printed. Bounded in time: a tool that hangs is killed.

#include <chrono>
#include <functional>
#include <string>
#include <vector>

namespace vantrel {

struct TCommandResult {
  bool started = false;  // false: not found or not runnable
  int status = -1;       // the exit code; -1 when killed or not started
  std::string output;    // standard output
  std::string error;     // standard error, or why it did not start
  bool Ok() const { return started && status == 0; }
};

using TCommandRunner = std::function<TCommandResult(const std::vector<std::string>& argv)>;

// argv[0] is looked up in PATH. extraEnvironment ("NAME=value") is added to
// this process's environment for the child only.
TCommandResult RunCommand(const std::vector<std::string>& argv,
                          const std::vector<std::string>& extraEnvironment = {},
                          std::chrono::milliseconds limit = std::chrono::seconds(10));

// Whether PATH holds an executable of this name.
bool CommandExists(const std::string& name);

}  // namespace vantrel
