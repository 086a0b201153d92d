// The Tunnels page's commands, and the tunnels following the proxy's start
// and stop in the main window.

#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "app/MainWindow.h"
#include "files/DataFolder.h"
#include "model/ProxyTables.h"
#include "tests/support/ScriptedUserInterface.h"
#include "tests/tunnels/TunnelHarness.h"

namespace vantrel::tunneltest {
namespace {

namespace fs = std::filesystem;
using namespace tunnel_fields;

class TunnelWindow : public ::testing::Test {
 protected:
  void SetUp() override {
    char pattern[] = "/tmp/vantrel-tunnels-XXXXXX";
    ASSERT_NE(mkdtemp(pattern), nullptr);
    folder = pattern;
    SetDataFolder(folder);
    window = std::make_unique<TfrmVantrelMain>(ui);
  }
  void TearDown() override {
    window.reset();
    WaitFor([] { return net::EventLoop::Default().PendingTasks() == 0; });
    std::error_code ignored;
    fs::remove_all(folder, ignored);
  }
  std::vector<std::string> Messages() const {
    std::vector<std::string> messages;
    for (const auto& entry : window->memStatus.Entries()) {
      const size_t open = entry.text.find(" [");
      messages.push_back(entry.text.substr(open + 2, entry.text.size() - open - 3));
    }
    return messages;
  }
  void AddThroughDialog(const std::string& name, int localPort, const std::string& host,
                        int remotePort) {
    ui.tunnelScripts.push_back([=](TfrmTunnelProperties& dialog) {
      dialog.dbTunnelName.SetText(name);
      dialog.dbLocalPortNo.SetText(std::to_string(localPort));
      dialog.dbRemoteHost.SetText(host);
      dialog.dbRemotePortNo.SetText(std::to_string(remotePort));
      dialog.Button1.Click();
    });
    window->controls.btnAddTunnel.Click();
  }

  fs::path folder;
  TScriptedUserInterface ui;
  std::unique_ptr<TfrmVantrelMain> window;
};

TEST_F(TunnelWindow, AddEditAndDeleteWorkOnTheTunnelTable) {
  TRecordTable& table = window->mtblTunnels;
  ui.tunnelScripts.push_back([](TfrmTunnelProperties& dialog) {
    EXPECT_EQ(dialog.Caption(), "Tunnel Properties");
    EXPECT_TRUE(dialog.dbEnabled.Checked());  // a new tunnel is enabled
    dialog.Button2.Click();
  });
  window->controls.btnAddTunnel.Click();
  EXPECT_EQ(table.RecordCount(), 0);
  EXPECT_FALSE(window->changes.IsChanged());

  AddThroughDialog("mail", 1110, "mail.example", 110);
  AddThroughDialog("ssh", 2222, "shell.example", 22);
  ASSERT_EQ(table.RecordCount(), 2);
  EXPECT_EQ(table.IntegerAt(0, TunnelID), 1);
  EXPECT_EQ(table.IntegerAt(1, TunnelID), 2);
  EXPECT_TRUE(table.BooleanAt(1, Enabled));
  EXPECT_EQ(table.StringAt(1, RemoteHost), "shell.example");
  EXPECT_TRUE(window->changes.IsChanged());

  // A double click on the grid edits the current record, as "Edit" does.
  window->changes.SetChanged(false);
  table.First();
  ui.tunnelScripts.push_back([](TfrmTunnelProperties& dialog) {
    EXPECT_EQ(dialog.dbTunnelName.Text(), "mail");
    dialog.dbRemotePortNo.SetText("995");
    dialog.Button1.Click();
  });
  window->controls.DBGrid2.DblClick();
  EXPECT_EQ(table.IntegerAt(0, RemotePortNo), 995);
  EXPECT_TRUE(window->changes.IsChanged());
  window->changes.SetChanged(false);
  ui.tunnelScripts.push_back([](TfrmTunnelProperties& dialog) {
    dialog.dbRemotePortNo.SetText("1");
    dialog.Button2.Click();
  });
  window->controls.btnEditTunnel.Click();
  EXPECT_EQ(table.IntegerAt(0, RemotePortNo), 995);
  EXPECT_FALSE(window->changes.IsChanged());

  // Delete asks with the remote host and port, not the name.
  ui.answers.push_back(TAnswer::No);
  window->controls.btnDeleteTunnel.Click();
  EXPECT_EQ(ui.questions.back(), "Delete Tunnel \"mail.example:995\" - are you sure?");
  EXPECT_EQ(table.RecordCount(), 2);
  EXPECT_FALSE(window->changes.IsChanged());
  ui.answers.push_back(TAnswer::Yes);
  window->controls.btnDeleteTunnel.Click();
  ASSERT_EQ(table.RecordCount(), 1);
  EXPECT_EQ(table.StringAt(0, TunnelName), "ssh");
  EXPECT_TRUE(window->changes.IsChanged());

  // A new id is the highest in use plus one: 3 here, where the count plus
  // one would be 2, still in use.
  AddThroughDialog("web", 8081, "web.example", 80);
  EXPECT_EQ(table.IntegerAt(1, TunnelID), 3);

  // On an empty table Edit and Delete do nothing.
  table.EmptyTable();
  const size_t questions = ui.questions.size();
  const int dialogs = ui.dialogsShown;
  window->controls.btnEditTunnel.Click();
  window->controls.DBGrid2.DblClick();
  window->controls.btnDeleteTunnel.Click();
  EXPECT_EQ(ui.questions.size(), questions);
  EXPECT_EQ(ui.dialogsShown, dialogs);
}

TEST_F(TunnelWindow, TunnelsOpenAfterTheProxyStartsAndCloseWhenItStops) {
  PeerServer origin;
  ASSERT_TRUE(window->FormCreate());
  // The allowed-connections switch off: tunnels still obey the list.
  window->controls.cbAllowedConnections.SetChecked(false);
  AddThroughDialog("web", FreePort(), "127.0.0.1", origin.Port());
  // Both ports were free a moment ago; another process may take one before
  // it is bound (10048): then both are chosen again.
  int tunnelPort = 0;
  for (int attempt = 0; attempt < 20; ++attempt) {
    tunnelPort = FreePort();
    window->controls.edProxyPort.SetText(std::to_string(FreePort()));
    window->mtblTunnels.First();
    window->mtblTunnels.Edit();
    window->mtblTunnels.SetInteger(tunnel_fields::LocalPortNo, tunnelPort);
    window->mtblTunnels.Post();
    window->controls.btnStart.Click();
    const std::vector<std::string> messages = Messages();
    if (messages.empty() || messages.back().find("10048") == std::string::npos) break;
    if (window->lifecycle.Running()) window->controls.btnStart.Click();
  }
  const std::vector<std::string> started = Messages();
  ASSERT_GE(started.size(), 2u);
  EXPECT_EQ(started[started.size() - 2], "Proxy Started");
  EXPECT_EQ(started.back(), "Start listening on port " + std::to_string(tunnelPort));

  auto client = ConnectTo(tunnelPort);
  ASSERT_TRUE(WaitFor([&] { return origin.Count() == 1; }));
  client->Send("hello");
  ASSERT_TRUE(WaitFor([&] { return origin.At(0).In() == "hello"; }));
  origin.At(0).Send("world");
  ASSERT_TRUE(WaitFor([&] { return client->In() == "world"; }));
  // The switch is off, yet a client outside the allowed list is cut off.
  auto stranger = ConnectFrom("127.0.0.5", tunnelPort);
  ASSERT_TRUE(WaitFor([&] { return stranger->Eof() || stranger->WasReset(); }));
  EXPECT_EQ(Messages().back(), "client 127.0.0.5 connection rejected (not in allowed IP list)");
  EXPECT_EQ(origin.Count(), 1u);

  window->controls.btnStart.Click();
  EXPECT_EQ(Messages().back(), "Proxy Stopped");
  EXPECT_TRUE(window->tunnels.TunnelListeners().empty());
  EXPECT_THROW(testsupport::ConnectToLoopback(tunnelPort), std::exception);
  // The running connection ends with the proxy's sessions.
  EXPECT_TRUE(WaitFor([&] { return client->Eof() || client->WasReset(); }));
}

}  // namespace
}  // namespace vantrel::tunneltest
