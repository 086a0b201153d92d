#include <gtest/gtest.h>

#include <functional>
#include <string>
#include <utility>
#include <vector>

#include "model/ChangeTracker.h"
#include "model/CountryTable.h"
#include "model/MainControls.h"
#include "model/ProxyRecords.h"
#include "model/ProxyTables.h"
#include "model/RecordDialogs.h"
#include "tests/support/ScriptedUserInterface.h"

namespace vantrel {
namespace {

using namespace proxy_fields;

class ProxyRecordsTest : public ::testing::Test {
 protected:
  // Adds a proxy through the dialog, as a user would.
  void AddThroughDialog(const std::string& name) {
    ui.proxyScripts.push_back([name](TfrmProxyProperties& dialog) {
      dialog.dbProxyName.SetText(name);
      dialog.dbProxyAddress.SetText(name + ".example");
      dialog.dbProxyPort.SetText("3128");
      dialog.Button1.Click();
    });
    records.btnAddClick(controls.btnAdd);
  }

  TRecordTable table = CreateProxyTable();
  TRecordTable countries = CreateCountryTable();
  TMainControls controls{table, countries};
  TChangeTracker changes{controls};
  TScriptedUserInterface ui;
  TProxyRecords records{controls, table, changes, ui};
};

TEST_F(ProxyRecordsTest, AddWithOkPostsANewRecordAndMarksChanged) {
  ui.proxyScripts.push_back([](TfrmProxyProperties& dialog) {
    EXPECT_EQ(dialog.Caption(), "Proxy Properties");
    EXPECT_EQ(dialog.dbProxyName.Text(), "");
    EXPECT_FALSE(dialog.DBCheckBox1.Checked());
    dialog.dbProxyName.SetText("Office");
    dialog.dbProxyAddress.SetText("10.0.0.1");
    dialog.dbProxyPort.SetText("8080");
    dialog.DBCheckBox1.SetChecked(true);
    dialog.dbProxyUserName.SetText("me");
    dialog.dbProxyUserPassword.SetText("pw");
    dialog.Button1.Click();
  });
  records.btnAddClick(controls.btnAdd);

  ASSERT_EQ(table.RecordCount(), 1);
  EXPECT_EQ(table.State(), TDataSetState::Browse);
  EXPECT_EQ(table.IntegerAt(0, ProxyID), 1);
  EXPECT_EQ(table.StringAt(0, ProxyName), "Office");
  EXPECT_EQ(table.StringAt(0, ProxyAddress), "10.0.0.1");
  EXPECT_EQ(table.IntegerAt(0, ProxyPort), 8080);
  EXPECT_TRUE(table.BooleanAt(0, NeedsAuthentication));
  EXPECT_EQ(table.StringAt(0, ProxyUserName), "me");
  EXPECT_EQ(table.StringAt(0, ProxyPassword), "pw");
  EXPECT_TRUE(changes.IsChanged());
}

TEST_F(ProxyRecordsTest, AddCancelledOrClosedLeavesTableAndFlagAsTheyWere) {
  ui.proxyScripts.push_back([](TfrmProxyProperties& dialog) {
    dialog.dbProxyName.SetText("Gone");
    dialog.Button2.Click();
  });
  ui.proxyScripts.push_back(
      [](TfrmProxyProperties& dialog) { dialog.dbProxyName.SetText("Closed by the frame"); });
  records.btnAddClick(controls.btnAdd);
  records.btnAddClick(controls.btnAdd);
  EXPECT_EQ(ui.dialogsShown, 2);
  EXPECT_EQ(table.RecordCount(), 0);
  EXPECT_EQ(table.State(), TDataSetState::Browse);
  EXPECT_FALSE(changes.IsChanged());
}

// A view closes its window on the dialog's result: it must hear exactly one
// result per showing, the one the table acts on.
TEST_F(ProxyRecordsTest, DialogAnnouncesItsOneFinalResult) {
  struct Case {
    const char* what;
    std::function<void(TfrmProxyProperties&)> clicks;
    TModalResult result;
  };
  const Case cases[] = {
      {"Ok", [](TfrmProxyProperties& d) { d.Button1.Click(); }, TModalResult::Ok},
      {"Cancel", [](TfrmProxyProperties& d) { d.Button2.Click(); }, TModalResult::Cancel},
      {"frame", [](TfrmProxyProperties&) {}, TModalResult::Cancel},
      {"refused Ok, then Cancel",
       [](TfrmProxyProperties& d) {
         d.dbProxyPort.SetText("0");
         d.Button1.Click();
         d.Button2.Click();
       },
       TModalResult::Cancel},
      {"Cancel, then Ok",
       [](TfrmProxyProperties& d) {
         d.Button2.Click();
         d.Button1.Click();
       },
       TModalResult::Cancel},
  };
  for (const Case& c : cases) {
    std::vector<TModalResult> heard;
    ui.proxyScripts.push_back([&](TfrmProxyProperties& dialog) {
      EXPECT_EQ(dialog.dbProxyUserPassword.PasswordChar(), '*');
      EXPECT_EQ(dialog.dbProxyName.PasswordChar(), '\0');
      dialog.OnResult = [&heard](TModalResult result) { heard.push_back(result); };
      dialog.dbProxyName.SetText(c.what);
      dialog.dbProxyPort.SetText("3128");
      c.clicks(dialog);
    });
    const int before = table.RecordCount();
    records.btnAddClick(controls.btnAdd);
    EXPECT_EQ(heard, std::vector<TModalResult>{c.result}) << c.what;
    EXPECT_EQ(table.RecordCount() - before, c.result == TModalResult::Ok ? 1 : 0) << c.what;
  }
}

TEST_F(ProxyRecordsTest, EditOkChangesAndCancelKeepsTheFormerValues) {
  AddThroughDialog("a");
  changes.SetChanged(false);

  ui.proxyScripts.push_back([](TfrmProxyProperties& dialog) {
    EXPECT_EQ(dialog.dbProxyName.Text(), "a");
    dialog.dbProxyAddress.SetText("elsewhere");
    dialog.Button2.Click();
  });
  records.btnEditClick(controls.btnEdit);
  EXPECT_EQ(table.StringAt(0, ProxyAddress), "a.example");
  EXPECT_FALSE(changes.IsChanged());

  ui.proxyScripts.push_back([](TfrmProxyProperties& dialog) {
    dialog.dbProxyAddress.SetText("elsewhere");
    dialog.Button1.Click();
  });
  records.btnEditClick(controls.btnEdit);
  EXPECT_EQ(table.StringAt(0, ProxyAddress), "elsewhere");
  EXPECT_TRUE(changes.IsChanged());
}

TEST_F(ProxyRecordsTest, EditAndDeleteOnAnEmptyTableDoNothing) {
  records.btnEditClick(controls.btnEdit);
  records.btnDeleteClick(controls.btnDelete);
  EXPECT_EQ(ui.dialogsShown, 0);
  EXPECT_TRUE(ui.questions.empty());
  EXPECT_FALSE(changes.IsChanged());
}

TEST_F(ProxyRecordsTest, DeleteAsksWithTheNameAndOnlyYesDeletes) {
  AddThroughDialog("Office");
  changes.SetChanged(false);

  ui.answers.push_back(TAnswer::No);
  records.btnDeleteClick(controls.btnDelete);
  ASSERT_EQ(ui.questions.size(), 1u);
  EXPECT_EQ(ui.questions[0], "Delete proxy \"Office\" - are you sure?");
  EXPECT_EQ(table.RecordCount(), 1);
  EXPECT_FALSE(changes.IsChanged());

  ui.answers.push_back(TAnswer::Yes);
  records.btnDeleteClick(controls.btnDelete);
  EXPECT_EQ(table.RecordCount(), 0);
  EXPECT_TRUE(changes.IsChanged());
}

TEST_F(ProxyRecordsTest, NewIdsStayUnambiguousAfterDeletions) {
  AddThroughDialog("a");
  AddThroughDialog("b");
  AddThroughDialog("c");
  // A selector still names "c" after it is deleted.
  controls.jvdbIntCon.SetValue("3");
  table.First();
  ui.answers.push_back(TAnswer::Yes);
  records.btnDeleteClick(controls.btnDelete);  // deletes "a", id 1
  table.Last();
  ui.answers.push_back(TAnswer::Yes);
  records.btnDeleteClick(controls.btnDelete);  // deletes "c", id 3
  AddThroughDialog("d");
  ASSERT_EQ(table.RecordCount(), 2);
  EXPECT_EQ(table.IntegerAt(0, ProxyID), 2);
  EXPECT_EQ(table.IntegerAt(1, ProxyID), 4);
  EXPECT_EQ(controls.jvdbIntCon.DisplayText(), "");  // still the deleted one, not "d"
}

TEST_F(ProxyRecordsTest, OkRefusesABlankNameABadPortOrControlCharactersAndKeepsTheDialogOpen) {
  ui.proxyScripts.push_back([](TfrmProxyProperties& dialog) {
    dialog.dbProxyPort.SetText("80");
    dialog.Button1.Click();
    EXPECT_EQ(dialog.ModalResult(), TModalResult::None);
    dialog.dbProxyName.SetText("Named");
    dialog.dbProxyPort.SetText("80x");
    dialog.Button1.Click();
    EXPECT_EQ(dialog.ModalResult(), TModalResult::None);
    dialog.dbProxyPort.SetText("81");
    // Values the file would lose or that would end the proxy list there.
    const std::pair<TEdit*, std::string> refused[] = {
        {&dialog.dbProxyName, "   "},
        {&dialog.dbProxyPort, "0"},
        {&dialog.dbProxyPort, "65536"},
        {&dialog.dbProxyName, "a\tb"},
        {&dialog.dbProxyAddress, "host\r\n[x]"},
        {&dialog.dbProxyUserPassword, "pa\x7Fss"},
    };
    for (const auto& [edit, text] : refused) {
      const std::string before = edit->Text();
      edit->SetText(text);
      dialog.Button1.Click();
      EXPECT_EQ(dialog.ModalResult(), TModalResult::None) << edit->Name() << " " << text;
      edit->SetText(before);
    }
    dialog.Button1.Click();
  });
  records.btnAddClick(controls.btnAdd);
  EXPECT_EQ(ui.errors, (std::vector<std::string>{
                           "Please enter a proxy name.",
                           "'80x' is not a valid integer value",
                           "Please enter a proxy name.",
                           "Please enter a proxy port from 1 to 65535.",
                           "Please enter a proxy port from 1 to 65535.",
                           "ProxyName cannot hold control characters (tabs, line breaks).",
                           "ProxyAddress cannot hold control characters (tabs, line breaks).",
                           "ProxyPassword cannot hold control characters (tabs, line breaks).",
                       }));
  ASSERT_EQ(table.RecordCount(), 1);
  EXPECT_EQ(table.StringAt(0, ProxyName), "Named");
  EXPECT_EQ(table.IntegerAt(0, ProxyPort), 81);
}

TEST_F(ProxyRecordsTest, AuthenticationBoxEnablesCredentialFields) {
  ui.proxyScripts.push_back([](TfrmProxyProperties& dialog) {
    auto credentialsEnabled = [&dialog](bool on) {
      EXPECT_EQ(dialog.lbProxyUserName.Enabled(), on);
      EXPECT_EQ(dialog.dbProxyUserName.Enabled(), on);
      EXPECT_EQ(dialog.lbProxyUserPassword.Enabled(), on);
      EXPECT_EQ(dialog.dbProxyUserPassword.Enabled(), on);
    };
    credentialsEnabled(false);  // a new record has no authentication
    dialog.DBCheckBox1.SetChecked(true);
    credentialsEnabled(true);
    dialog.DBCheckBox1.SetChecked(false);
    credentialsEnabled(false);
    dialog.DBCheckBox1.SetChecked(true);
    dialog.dbProxyName.SetText("Auth");
    dialog.dbProxyPort.SetText("8080");
    dialog.Button1.Click();
  });
  records.btnAddClick(controls.btnAdd);

  ui.proxyScripts.push_back([](TfrmProxyProperties& dialog) {
    EXPECT_TRUE(dialog.DBCheckBox1.Checked());
    EXPECT_TRUE(dialog.dbProxyUserName.Enabled());
    dialog.Close();
  });
  records.btnEditClick(controls.btnEdit);
  EXPECT_TRUE(ui.proxyScripts.empty());
}

TEST_F(ProxyRecordsTest, DialogEditsAreCutToTheFieldWidth) {
  ui.proxyScripts.push_back([](TfrmProxyProperties& dialog) {
    dialog.dbProxyName.SetText(std::string(40, 'n'));
    EXPECT_EQ(dialog.dbProxyName.Text().size(), 30u);
    dialog.dbProxyPort.SetText("8080");
    dialog.Button1.Click();
  });
  records.btnAddClick(controls.btnAdd);
  EXPECT_EQ(table.StringAt(0, ProxyName), std::string(30, 'n'));
}

TEST(TunnelPropertiesTest, RefusesABlankNameOrAPortOutsideTheRangeAndPostsTheRest) {
  TRecordTable tunnels = CreateTunnelTable();
  TScriptedUserInterface ui;
  tunnels.Append();
  ui.tunnelScripts.push_back([](TfrmTunnelProperties& dialog) {
    EXPECT_EQ(dialog.Caption(), "Tunnel Properties");
    dialog.dbTunnelName.SetText("mail");
    dialog.dbRemoteHost.SetText("mail.example");
    dialog.dbRemotePortNo.SetText("110");
    dialog.dbEnabled.SetChecked(true);
    dialog.Button1.Click();  // local port still 0
    EXPECT_EQ(dialog.ModalResult(), TModalResult::None);
    dialog.dbLocalPortNo.SetText("70000");
    dialog.Button1.Click();
    dialog.dbLocalPortNo.SetText("1110");
    dialog.dbTunnelName.SetText(" ");
    dialog.Button1.Click();
    dialog.dbTunnelName.SetText("mail");
    dialog.dbRemotePortNo.SetText("0");
    dialog.Button1.Click();
    EXPECT_EQ(dialog.ModalResult(), TModalResult::None);
    dialog.dbRemotePortNo.SetText("110");
    dialog.Button1.Click();
  });
  TfrmTunnelProperties dialog(tunnels, ui);
  ASSERT_EQ(dialog.ShowModal(), TModalResult::Ok);
  tunnels.Post();
  EXPECT_EQ(ui.errors, (std::vector<std::string>{"Please enter a local port from 1 to 65535.",
                                                 "Please enter a local port from 1 to 65535.",
                                                 "Please enter a tunnel name.",
                                                 "Please enter a remote port from 1 to 65535."}));
  EXPECT_EQ(tunnels.StringAt(0, tunnel_fields::TunnelName), "mail");
  EXPECT_EQ(tunnels.IntegerAt(0, tunnel_fields::LocalPortNo), 1110);
  EXPECT_EQ(tunnels.StringAt(0, tunnel_fields::RemoteHost), "mail.example");
  EXPECT_EQ(tunnels.IntegerAt(0, tunnel_fields::RemotePortNo), 110);
  EXPECT_TRUE(tunnels.BooleanAt(0, tunnel_fields::Enabled));
}

}  // namespace
}  // namespace vantrel
