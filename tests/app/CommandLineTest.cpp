#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "app/CommandLine.h"

namespace vantrel {
namespace {

TEST(CommandLine, ReadsEveryOptionInBothSpellings) {
  const auto line = ParseCommandLine({"--headless", "--port", "8080", "--data-dir", "/tmp/x"});
  EXPECT_TRUE(line.headless);
  EXPECT_EQ(line.port, 8080);
  EXPECT_EQ(line.dataDir, "/tmp/x");
  const auto joined = ParseCommandLine({"--port=1", "--data-dir=d"});
  EXPECT_EQ(joined.port, 1);
  EXPECT_EQ(joined.dataDir, "d");
  EXPECT_FALSE(joined.headless);
  EXPECT_TRUE(ParseCommandLine({"--version"}).version);
  EXPECT_TRUE(ParseCommandLine({"--help"}).help);
  EXPECT_TRUE(ParseCommandLine({"--check-config"}).checkConfig);
  EXPECT_EQ(ParseCommandLine({"--send-blocks", "16"}).sendBlocks, 16);
  EXPECT_FALSE(ParseCommandLine({}).sendBlocks.has_value());
  EXPECT_TRUE(ParseCommandLine({}).dnsServers.empty());
  // Repeated, in order, as the resolver takes them.
  EXPECT_EQ(ParseCommandLine({"--dns-server", "127.0.0.1:5353", "--dns-server=010.0.0.1",
                              "--dns-server", "::1", "--dns-server", "[fe80::1]:53"})
                .dnsServers,
            (std::vector<std::string>{"127.0.0.1:5353", "010.0.0.1", "[::1]", "[fe80::1]:53"}));
}

TEST(CommandLine, ImportTakesItsOperandsUpToTheNextOption) {
  const auto line =
      ParseCommandLine({"--import-country", "cidr", "za", "a.txt", "b.txt", "--data-dir", "d"});
  ASSERT_TRUE(line.importCountry.has_value());
  EXPECT_EQ(line.importCountry->format, routing::TImportFormat::Cidr);
  EXPECT_EQ(std::string(line.importCountry->code, 2), "ZA");
  EXPECT_EQ(line.importCountry->files, (std::vector<std::filesystem::path>{"a.txt", "b.txt"}));
  EXPECT_EQ(line.dataDir, "d");
  EXPECT_FALSE(ParseCommandLine({"--headless"}).importCountry.has_value());
}

TEST(CommandLine, RefusesUnknownOptionsAndBadPorts) {
  for (const std::vector<std::string>& args : std::vector<std::vector<std::string>>{
           {"--bogus"},
           {"headless"},
           {"--port"},
           {"--port", "0"},
           {"--port", "65536"},
           {"--port", "-1"},
           {"--port", "80x"},
           {"--port", ""},
           {"--port=99999999999"},
           {"--data-dir"},
           {"--data-dir="},
           {"--send-blocks", "0"},
           {"--send-blocks", "65"},
           {"--dns-server"},
           {"--dns-server", ""},
           {"--dns-server", "resolver.example"},
           {"--dns-server", "127.0.0.1:"},
           {"--dns-server", "127.0.0.1:0"},
           {"--dns-server", "127.0.0.1:65536"},
           {"--dns-server", "127.0.0.1:+53"},
           {"--dns-server", "127.0.0.256"},
           {"--dns-server", "127.0.0.1,127.0.0.2"},
           {"--dns-server", "[::1"},
           {"--dns-server", "[::1]53"},
           {"--dns-server", "[127.0.0.1]:53"},
           {"--import-country"},
           {"--import-country", "tor"},
           {"--import-country", "csv", "f"},
           {"--import-country", "cidr", "f"},
           {"--import-country", "geolite2", "blocks.csv"},
           {"--import-country", "geolite2", "a", "b", "c"},
           {"--import-country", "tor", "f", "--headless"},
           {"--port", "80", "--import-country", "tor", "f"},
       }) {
    EXPECT_THROW(ParseCommandLine(args), EUsageError) << args.front();
  }
  EXPECT_EQ(ParseCommandLine({"--port", "65535"}).port, 65535);
}

}  // namespace
}  // namespace vantrel
