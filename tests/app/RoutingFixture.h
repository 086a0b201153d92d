#pragma once
// The window's routing on a real engine: its proxy port open on loopback,
// loopback origins and a next hop that record what they get, and name
// lookups answered by a responder of the test's own.

#include <gtest/gtest.h>
#include <unistd.h>

#include <filesystem>
#include <memory>
#include <string>

#include "app/MainWindow.h"
#include "files/DataFolder.h"
#include "net/Resolver.h"
#include "tests/engine/proxy_harness.h"
#include "tests/support/ScriptedUserInterface.h"

namespace vantrel::apptest {

class TRoutingFixture : public ::testing::Test {
 protected:
  void SetUp() override {
    folder_ = std::filesystem::temp_directory_path() /
              ("vantrel-routing-" + std::to_string(::getpid()));
    std::filesystem::create_directories(folder_);
    SetDataFolder(folder_);
    net::Resolver::Default().SetServers(dns.Server());
    net::Resolver::Default().SetTimeouts(500, 2);
    dns.SetAddresses("near.test", {"127.0.0.1"});
    window = std::make_unique<TfrmVantrelMain>(ui);
    w().routing.LookupWait = std::chrono::milliseconds(400);
    c().cbAllowedConnections.SetChecked(false);
    c().cbBypass.SetChecked(false);
    w().Proxy1.SetLocalAddress("127.0.0.1");
    w().Proxy1.SetPort(0);
    auto connect = w().Proxy1.OnClientConnect;
    w().Proxy1.OnClientConnect = [this, connect](engine::TKwGenericProxy* sender,
                                                 engine::TKwProxyClient* client) {
      ++connects;
      connect(sender, client);
    };
    std::string error;
    w().Proxy1.Open(error);
    ASSERT_EQ(error, "");
    hopInfo.Address = "127.0.0.1";
    hopInfo.Port = hop.Port();
  }

  void TearDown() override {
    window.reset();
    std::error_code ec;
    std::filesystem::remove_all(folder_, ec);
  }

  TfrmVantrelMain& w() { return *window; }
  TMainControls& c() { return w().controls; }
  int ProxyPortNumber() { return w().Proxy1.Server().BoundPort(); }

  std::string ScreenText() {
    std::string all;
    for (const auto& e : w().memStatus.Entries()) all += e.text + "\n";
    return all;
  }
  int64_t SentTotal() { return w().counters.Sent(false) + w().counters.Sent(true); }
  int64_t ReceivedTotal() { return w().counters.Received(false) + w().counters.Received(true); }

  std::filesystem::path folder_;
  TScriptedUserInterface ui;
  testsupport::DnsResponder dns;
  engine::proxytest::PeerServer origin;
  engine::proxytest::PeerServer hop;
  TProxyInfo hopInfo;
  int connects = 0;
  std::unique_ptr<TfrmVantrelMain> window;
};

}  // namespace vantrel::apptest
