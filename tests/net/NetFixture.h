#pragma once
// One real loop on loopback for every socket test. The resolver is pointed at
// a responder of our own, so no lookup ever leaves the machine, and each test
// must leave the loop empty: no posted task, no timer, no pending lookup.

#include <gtest/gtest.h>

#include <chrono>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "net/EventLoop.h"
#include "net/Resolver.h"
#include "net/WSocket.h"
#include "tests/support/DnsResponder.h"
#include "tests/support/LoopbackPeer.h"
#include "tests/support/TestPattern.h"

namespace vantrel::net {

using namespace std::chrono_literals;
using testsupport::Fd;

class NetTest : public ::testing::Test {
 protected:
  void SetUp() override {
    Resolver::Default().SetTimeouts(150, 1);
    ASSERT_TRUE(Resolver::Default().SetServers(dns.Server()));
    loop.OnUnhandledException = [](const std::string& message) {
      ADD_FAILURE() << "exception reached the loop: " << message;
    };
  }

  void TearDown() override {
    loop.RunUntil([&] { return loop.PendingTasks() == 0 && loop.PendingTimers() == 0; }, 3s);
    EXPECT_EQ(loop.PendingTasks(), 0u);
    EXPECT_EQ(loop.PendingTimers(), 0u);
    EXPECT_EQ(Resolver::Default().Pending(), 0u);
    loop.OnUnhandledException = nullptr;
  }

  bool Pump(const std::function<bool()>& done, std::chrono::milliseconds limit = 10s) {
    return loop.RunUntil(done, limit);
  }

  // Runs the loop a little so that an event that should not come would show.
  void Settle() {
    loop.RunUntil([] { return false; }, 20ms);
  }

  // A plain TWSocket listening on 127.0.0.1 with an ephemeral port.
  std::unique_ptr<TWSocket> Listener() {
    auto s = std::make_unique<TWSocket>();
    s->SetAddr("127.0.0.1");
    s->SetPort("0");
    s->Listen();
    return s;
  }

  // Starts a connect to 127.0.0.1:port; the caller pumps.
  std::unique_ptr<TWSocket> Connecting(int port) {
    auto s = std::make_unique<TWSocket>();
    s->SetAddr("127.0.0.1");
    s->SetPort(std::to_string(port));
    s->Connect();
    return s;
  }

  // Our socket connected to a plain peer that we hold.
  struct Link {
    std::unique_ptr<TWSocket> sock;
    Fd peer;
  };
  Link Connected(Fd& listenFd, int port) {
    Link link;
    bool up = false;
    link.sock = Connecting(port);
    link.sock->OnSessionConnected = [&up](TWSocket*, uint16_t err) { up = err == 0; };
    EXPECT_TRUE(Pump([&] { return up; }));
    link.sock->OnSessionConnected = nullptr;
    link.peer = testsupport::AcceptWaiting(listenFd.Get());
    EXPECT_TRUE(link.peer.Valid());
    return link;
  }

  // A handler that must never run.
  static TSocketEvent Never(const char* what) {
    return [what](TWSocket*, uint16_t err) { ADD_FAILURE() << what << " raised, code " << err; };
  }

  EventLoop& loop = EventLoop::Default();
  testsupport::DnsResponder dns;
};

}  // namespace vantrel::net
