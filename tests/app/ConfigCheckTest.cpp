// --check-config over hostile files: every value the program would ignore,
// cut or change is named with its file and line, and the exit code says
// whether there was any.

#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <vector>

#include "app/CommandLine.h"
#include "app/HeadlessFrontEnd.h"
#include "tests/support/ScratchFolder.h"

namespace vantrel {
namespace {

namespace fs = std::filesystem;

struct THostileFile {
  const char* name;
  const char* file;
  std::string text;
  std::vector<std::string> lines;  // after "<path>"
};

TEST(ConfigCheckTest, HostileFilesAreNamedLineByLine) {
  const std::string password(81, 'p');
  const THostileFile cases[] = {
      {"a clean file", "proxy.ini", "[CONFIG]\nProxyPort=8080\n", {}},
      {"a port out of range",
       "proxy.ini",
       "[CONFIG]\nProxyPort=99999\n",
       {":2: ProxyPort 99999 is not a port from 1 to 65535; the proxy listens on 1080"}},
      {"a leading zero",
       "proxy.ini",
       "[PROXY]\nProxyName1=a\nProxyName01=b\n",
       {":3: ignored: ProxyName01 has a leading zero in its number; the next save erases it"}},
      {"an address without a name",
       "proxy.ini",
       "[PROXY]\nProxyName1=\nProxyAddress1=up.example\n",
       {":3: ignored: ProxyAddress1 belongs to group 1, whose ProxyName is missing or empty and "
        "ends the list"}},
      {"a password past 80 characters",
       "proxy.ini",
       "[PROXY]\nProxyName1=a\nProxyUserPassword1=" + password + "\n",
       {":3: ProxyUserPassword1 is longer than the 80 characters kept; the rest is cut off"}},
      {"a next hop that names no proxy",
       "proxy.ini",
       "[CONFIG]\nIntCon=7\n[PROXY]\nProxyName1=a\nProxyID1=3\n",
       {":2: IntCon=7 names no proxy (no ProxyID 7); the next hop is direct"}},
      {"a country that is no code",
       "proxy.ini",
       "[CONFIG]\nLocalCountryCode=South Africa\n",
       {":2: LocalCountryCode \"South Africa\" is not a two-letter country code; every host "
        "counts as international"}},
      {"tunnel ports out of range",
       "proxy.ini",
       "[Tunnel]\nTunnelLocalPort1=70000\nTunnelLocalPort2=25\nTunnelRemotePort2=-5\n",
       {":2: TunnelLocalPort1 70000 is not a port from 1 to 65535; the tunnel does not start",
        ":4: TunnelRemotePort2 -5 is not a port from 1 to 65535; the tunnel does not start"}},
      {"CR-only line ends",
       "proxy.ini",
       "[CONFIG]\rProxyPort=8080\rStartMinimized\r",
       {": the lines end with CR only; they are read as lines", ":3: ignored: no '=' in the line"}},
      {"a stray CR in a value",
       "proxy.ini",
       "[CONFIG]\nLocalCountryCode=U\rS\n",
       {":2: the value of LocalCountryCode holds a CR; LocalCountryCode is ignored"}},
      {"UTF-16",
       "proxy.ini",
       std::string("\xFF\xFE[\0C\0", 6),
       {": cannot be read: UTF-16 is not supported; save the file as UTF-8"}},
      {"an inverted range",
       "allowedip.dat",
       "10.0.0.9-10.0.0.1\n127.0.0.1\n",
       {":1: the range's first address is above its last; it matches no address"}},
      {"a CR-only list",
       "bypassip.dat",
       "10.0.0.1\r10.0.0.2\r",
       {": the lines end with CR only; they are read as lines"}},
  };
  for (const THostileFile& c : cases) {
    SCOPED_TRACE(c.name);
    testsupport::ScratchFolder scratch("vantrel-check");
    scratch.Write(c.file, c.text);
    TCommandLine line;
    line.dataDir = scratch.Path();
    testing::internal::CaptureStdout();
    const int code = RunCheckConfig(line);
    const std::string printed = testing::internal::GetCapturedStdout();
    std::string expected;
    for (const std::string& reason : c.lines) {
      expected += (scratch.Path() / c.file).string() + reason + "\n";
    }
    EXPECT_EQ(printed, expected);
    EXPECT_EQ(code, c.lines.empty() ? 0 : 1);
    // It only looks.
    EXPECT_EQ(scratch.Read(c.file), c.text);
  }
}

TEST(ConfigCheckTest, AMissingDataFolderIsReportedAndNotMade) {
  testsupport::ScratchFolder scratch("vantrel-check");
  TCommandLine line;
  line.dataDir = scratch.Path() / "missing";
  testing::internal::CaptureStdout();
  const int code = RunCheckConfig(line);
  EXPECT_EQ(testing::internal::GetCapturedStdout(),
            (scratch.Path() / "missing").string() +
                ": the data folder does not exist; the program would start with the defaults\n");
  EXPECT_EQ(code, 1);
  EXPECT_FALSE(fs::exists(scratch.Path() / "missing"));
}

}  // namespace
}  // namespace vantrel
