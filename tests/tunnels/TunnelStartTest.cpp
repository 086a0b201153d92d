// Opening and closing the tunnel listeners from the tunnel records.

#include <unistd.h>

#include <string>
#include <vector>

#include "tests/tunnels/TunnelHarness.h"

namespace vantrel::tunneltest {
namespace {

class TunnelStart : public TunnelTest {
 protected:
  // True when a connection to the port is taken by someone.
  bool Listening(int port) {
    try {
      testsupport::ConnectToLoopback(port);
      return true;
    } catch (const std::exception&) {
      return false;
    }
  }
};

TEST_F(TunnelStart, OneListenerPerEnabledRecordInTableOrder) {
  const int first = AddTunnel("one", "127.0.0.1", 1);
  const int off = AddTunnel("off", "127.0.0.1", 2, false);
  const int third = AddTunnel("three", "127.0.0.1", 3);
  tunnels->StartTunnels();
  EXPECT_EQ(lines, (std::vector<std::string>{"Start listening on port " + std::to_string(first),
                                             "Start listening on port " + std::to_string(third)}));
  ASSERT_EQ(tunnels->TunnelListeners().size(), 2u);
  EXPECT_EQ(tunnels->TunnelListeners()[0]->TunnelName, "one");
  EXPECT_EQ(tunnels->TunnelListeners()[0]->Addr(), "0.0.0.0");
  EXPECT_TRUE(Listening(first));
  EXPECT_FALSE(Listening(off));
  EXPECT_TRUE(Listening(third));

  // Records changed while running change nothing until the next start.
  table.First();
  table.Edit();
  table.SetBoolean(tunnel_fields::Enabled, false);
  table.Post();
  EXPECT_TRUE(Listening(first));

  tunnels->StopTunnels();
  EXPECT_TRUE(tunnels->TunnelListeners().empty());
  EXPECT_FALSE(Listening(first));
  EXPECT_FALSE(Listening(third));
}

TEST_F(TunnelStart, ASecondTunnelOnATakenPortFailsWithTheBindErrorAndTheRestRun) {
  const int port = AddTunnel("first", "127.0.0.1", 1);
  AddTunnel("second", "127.0.0.1", 2, true, port);
  const int other = AddTunnel("other", "127.0.0.1", 3);
  tunnels->StartTunnels();
  const std::string p = std::to_string(port);
  EXPECT_EQ(lines,
            (std::vector<std::string>{"Start listening on port " + p,
                                      "ERROR: Could not create socket for local port " + p +
                                          ":Error 10048 in function Bind\r\nAddress already in use",
                                      "Start listening on port " + std::to_string(other)}));
  EXPECT_EQ(tunnels->TunnelListeners().size(), 2u);
  EXPECT_TRUE(Listening(port));
}

TEST_F(TunnelStart, ATunnelThatForwardsToItselfIsRefused) {
  char hostName[256] = {};
  ASSERT_EQ(gethostname(hostName, sizeof hostName - 1), 0);
  const int looping = FreePort();
  const int other = FreePort();
  // Remote on this machine at an enabled tunnel's port, its own or another's.
  AddTunnel("self", "127.0.0.1", looping, true, looping);
  AddTunnel("to other", "LOCALHOST", other, true);
  AddTunnel("by name", hostName, other, true);
  AddTunnel("other", "127.0.0.1", 9, true, other);
  // This machine, but a port no tunnel listens on: a normal tunnel.
  const int fine = AddTunnel("fine", "127.0.0.1", 22);
  // Another machine on an enabled tunnel's port number: no loop either
  // (starting it connects nowhere).
  const int elsewhere = AddTunnel("elsewhere", "192.0.2.7", other);
  tunnels->StartTunnels();
  EXPECT_EQ(lines[0],
            "ERROR: Tunnel self on local port " + std::to_string(looping) +
                " not started: it forwards to itself (127.0.0.1:" + std::to_string(looping) + ")");
  EXPECT_TRUE(lines[1].starts_with("ERROR: Tunnel to other on local port ")) << Log();
  EXPECT_TRUE(lines[2].starts_with("ERROR: Tunnel by name on local port ")) << Log();
  EXPECT_EQ(lines[3], "Start listening on port " + std::to_string(other));
  EXPECT_EQ(lines[4], "Start listening on port " + std::to_string(fine));
  EXPECT_EQ(lines[5], "Start listening on port " + std::to_string(elsewhere));
  EXPECT_EQ(tunnels->TunnelListeners().size(), 3u);
  EXPECT_FALSE(Listening(looping));
}

// Only this machine at an enabled tunnel's port loops: another machine on
// the same port number is a normal tunnel. (No client connects here, so
// nothing is sent to that documentation address.)
TEST_F(TunnelStart, ATunnelToAnotherMachineOnALocalTunnelsPortStarts) {
  const int local = AddTunnel("local", "127.0.0.1", 9);
  const int remote = AddTunnel("elsewhere", "192.0.2.7", local);
  tunnels->StartTunnels();
  EXPECT_EQ(lines, (std::vector<std::string>{"Start listening on port " + std::to_string(local),
                                             "Start listening on port " + std::to_string(remote)}));
  EXPECT_TRUE(Listening(remote));
}

TEST_F(TunnelStart, StartingAgainReopensTheListenersOnce) {
  const int port = AddTunnel("again", "127.0.0.1", 1);
  tunnels->StartTunnels();
  tunnels->StartTunnels();
  EXPECT_EQ(Logged("Start listening on port " + std::to_string(port)), 2) << Log();
  EXPECT_EQ(tunnels->TunnelListeners().size(), 1u);
  EXPECT_TRUE(Listening(port));
}

}  // namespace
}  // namespace vantrel::tunneltest
