#include <cstdio>
#include <string>
#include <vector>

#include "app/CommandLine.h"
#include "app/HeadlessFrontEnd.h"

int main(int argc, char** argv) {
  using namespace vantrel;
  TCommandLine line;
  try {
    line = ParseCommandLine(std::vector<std::string>(argv + 1, argv + argc));
  } catch (const EUsageError& error) {
    std::fprintf(stderr, "vantrel: %s\nTry 'vantrel --help' for more information.\n",
                 error.what());
    return 2;
  }
  if (line.help) {
    std::fputs(UsageText().c_str(), stdout);
    return 0;
  }
  if (line.version) {
    std::puts("vantrel " VANTREL_VERSION);
    return 0;
  }
  // Until the desktop window is built in, every run is headless.
  return RunHeadless(line);
}
