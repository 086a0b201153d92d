#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "model/ChangeTracker.h"
#include "model/CountryTable.h"
#include "model/MainControls.h"
#include "model/NextHopRecords.h"
#include "model/ProxyTables.h"

namespace vantrel {
namespace {

using namespace proxy_fields;

class NextHopRecordsTest : public ::testing::Test {
 protected:
  void AddProxy(int32_t id, const std::string& address, int32_t port, bool auth = false) {
    table.Append();
    table.SetInteger(ProxyID, id);
    table.SetString(ProxyName, "proxy" + std::to_string(id));
    table.SetString(ProxyAddress, address);
    table.SetInteger(ProxyPort, port);
    table.SetBoolean(NeedsAuthentication, auth);
    table.SetString(ProxyUserName, auth ? "user" : "");
    table.SetString(ProxyPassword, auth ? "secret" : "");
    table.Post();
  }

  TRecordTable table = CreateProxyTable();
  TRecordTable countries = CreateCountryTable();
  TMainControls controls{table, countries};
  TChangeTracker changes{controls};
  TNextHopRecords hops{controls, table, changes};
};

TEST_F(NextHopRecordsTest, GetProxyInfoCopiesTheRowAndMakesItCurrent) {
  AddProxy(1, "one.example", 3128);
  AddProxy(2, "two.example", 8080, true);
  table.First();
  std::vector<TTableChange> seen;
  table.Subscribe([&](TTableChange change, int) { seen.push_back(change); });
  TProxyInfo info;
  hops.GetProxyInfo("2", info);
  EXPECT_EQ(info, (TProxyInfo{"two.example", 8080, true, "user", "secret"}));
  EXPECT_EQ(table.RecNo(), 1);
  // The grid hears one cursor move, not a reset that would lose its
  // selection; a lookup of the current record is no news at all.
  EXPECT_EQ(seen, std::vector<TTableChange>{TTableChange::CursorMoved});
  seen.clear();
  hops.GetProxyInfo("2", info);
  hops.LoadNextHopRecords();  // six lookups of "<direct>"
  EXPECT_TRUE(seen.empty());
}

TEST_F(NextHopRecordsTest, GetProxyInfoClearsForEmptyMissingOrDeletedIds) {
  AddProxy(1, "one.example", 3128, true);
  AddProxy(2, "two.example", 8080);
  const TProxyInfo stale{"stale", 1, true, "u", "p"};

  TProxyInfo info = stale;
  hops.GetProxyInfo("", info);
  EXPECT_EQ(info, TProxyInfo());
  info = stale;
  hops.GetProxyInfo("5", info);
  EXPECT_EQ(info, TProxyInfo());
  info = stale;
  hops.GetProxyInfo("not a number", info);
  EXPECT_EQ(info, TProxyInfo());

  table.First();
  table.Delete();
  table.First();
  info = stale;
  hops.GetProxyInfo("1", info);
  EXPECT_EQ(info, TProxyInfo());
  EXPECT_EQ(table.RecNo(), 0);
}

TEST_F(NextHopRecordsTest, GetProxyInfoNeverPostsAnOpenEdit) {
  AddProxy(1, "one.example", 3128);
  AddProxy(2, "two.example", 8080);
  table.First();
  table.Edit();
  table.SetString(ProxyAddress, "half typed");
  TProxyInfo info;
  hops.GetProxyInfo("2", info);
  EXPECT_EQ(info.Address, "two.example");
  EXPECT_EQ(table.State(), TDataSetState::Edit);
  table.Cancel();
  EXPECT_EQ(table.StringAt(0, ProxyAddress), "one.example");
}

TEST_F(NextHopRecordsTest, CbIntConClickEnablesSelectorsRefreshesAndMarksChanged) {
  AddProxy(1, "one.example", 3128);
  AddProxy(2, "two.example", 8080);
  changes.SetChanged(false);
  controls.cbIntConSSL.SetChecked(true);
  controls.cbLocalConOTHER.SetChecked(true);
  controls.jvdbIntCon.SetValue("1");
  controls.jvdbIntConSSL.SetValue("2");
  controls.jvdbLocalConOTHER.SetValue("1");
  controls.jvdbLocalCon.SetValue("9");
  EXPECT_EQ(hops.IntConSSLInfo, TProxyInfo());  // a copy, refreshed only on demand

  hops.cbIntConClick(controls.cbIntConSSL);

  EXPECT_FALSE(controls.jvdbIntCon.Enabled());
  EXPECT_TRUE(controls.jvdbIntConSSL.Enabled());
  EXPECT_FALSE(controls.jvdbIntConOTHER.Enabled());
  EXPECT_FALSE(controls.jvdbLocalCon.Enabled());
  EXPECT_FALSE(controls.jvdbLocalConSSL.Enabled());
  EXPECT_TRUE(controls.jvdbLocalConOTHER.Enabled());
  // Records follow the selectors whether or not their switch is on.
  EXPECT_EQ(hops.IntConInfo.Address, "one.example");
  EXPECT_EQ(hops.IntConSSLInfo.Address, "two.example");
  EXPECT_EQ(hops.IntConOTHERInfo, TProxyInfo());
  EXPECT_EQ(hops.LocalConInfo, TProxyInfo());
  EXPECT_EQ(hops.LocalConOTHERInfo.Address, "one.example");
  EXPECT_TRUE(changes.IsChanged());
  EXPECT_TRUE(controls.btnSave.Enabled());
  EXPECT_TRUE(controls.btnCancel.Enabled());
  // The last lookup, local "all others", leaves its row current.
  EXPECT_EQ(table.RecNo(), 0);
}

TEST_F(NextHopRecordsTest, EditsReachTheRecordsOnlyAtTheNextRefresh) {
  AddProxy(1, "one.example", 3128);
  controls.jvdbIntCon.SetValue("1");
  hops.LoadNextHopRecords();
  table.First();
  table.Edit();
  table.SetString(ProxyAddress, "moved.example");
  table.Post();
  EXPECT_EQ(hops.IntConInfo.Address, "one.example");
  hops.LoadNextHopRecords();
  EXPECT_EQ(hops.IntConInfo.Address, "moved.example");
  table.Delete();
  EXPECT_EQ(hops.IntConInfo.Address, "moved.example");
  hops.LoadNextHopRecords();
  EXPECT_EQ(hops.IntConInfo, TProxyInfo());
}

}  // namespace
}  // namespace vantrel
