// Linked into the test executables that start the program or load its
// settings, and so into every copy of the program they run: a first start
// takes its country from the locale and imports the system's Tor country
// file, so both are fixed here, whatever the machine has. A test that wants
// another value sets it itself.

#include <stdlib.h>

namespace {

const bool pinned = [] {
  // Empty counts as unset, as for the C library.
  ::setenv("LC_ALL", "", 1);
  ::setenv("LC_MESSAGES", "", 1);
  ::setenv("LANG", "C.UTF-8", 1);
  ::setenv("VANTREL_TOR_GEOIP", "", 1);
  return true;
}();

}  // namespace
