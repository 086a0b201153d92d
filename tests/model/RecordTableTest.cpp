#include <gtest/gtest.h>

#include <functional>
#include <string>
#include <tuple>
#include <utility>
#include <vector>

#include "model/ProxyTables.h"
#include "model/RecordTable.h"

namespace vantrel {
namespace {

using namespace proxy_fields;

class RecordTableTest : public ::testing::Test {
 protected:
  void Add(int32_t id, const std::string& name) {
    table.Append();
    table.SetInteger(ProxyID, id);
    table.SetString(ProxyName, name);
    table.Post();
  }
  std::vector<std::string> Names() const {
    std::vector<std::string> names;
    for (int row = 0; row < table.RecordCount(); ++row)
      names.push_back(table.StringAt(row, ProxyName));
    return names;
  }
  TRecordTable table = CreateProxyTable();
};

TEST_F(RecordTableTest, InsertCountsOnlyWhenPostedAndCancelRestoresCursor) {
  Add(1, "a");
  Add(2, "b");
  table.First();
  table.Append();
  EXPECT_EQ(table.State(), TDataSetState::Insert);
  EXPECT_EQ(table.RecordCount(), 2);
  EXPECT_EQ(table.RecNo(), 2);
  // A new record starts empty, whatever was current.
  EXPECT_EQ(table.AsString(ProxyName), "");
  EXPECT_EQ(table.AsInteger(ProxyID), 0);
  table.SetString(ProxyName, "c");
  table.Cancel();
  EXPECT_EQ(table.State(), TDataSetState::Browse);
  EXPECT_EQ(Names(), (std::vector<std::string>{"a", "b"}));
  EXPECT_EQ(table.RecNo(), 0);

  table.Append();
  table.SetString(ProxyName, "c");
  table.Post();
  EXPECT_EQ(Names(), (std::vector<std::string>{"a", "b", "c"}));
  EXPECT_EQ(table.RecNo(), 2);
}

TEST_F(RecordTableTest, EditCancelKeepsFormerValuesAndPostCommits) {
  Add(1, "a");
  Add(2, "b");
  table.First();
  ASSERT_TRUE(table.Edit());
  table.SetString(ProxyName, "changed");
  EXPECT_EQ(table.AsString(ProxyName), "changed");
  EXPECT_EQ(table.StringAt(0, ProxyName), "a");  // not committed yet
  table.Cancel();
  EXPECT_EQ(table.AsString(ProxyName), "a");

  ASSERT_TRUE(table.Edit());
  table.SetString(ProxyName, "changed");
  table.Post();
  EXPECT_EQ(Names(), (std::vector<std::string>{"changed", "b"}));
}

TEST_F(RecordTableTest, MovingTheCursorPostsAPendingEdit) {
  Add(1, "a");
  Add(2, "b");
  table.First();
  table.Edit();
  table.SetString(ProxyName, "x");
  table.Next();
  EXPECT_EQ(table.State(), TDataSetState::Browse);
  EXPECT_EQ(Names(), (std::vector<std::string>{"x", "b"}));
  EXPECT_EQ(table.RecNo(), 1);
}

TEST_F(RecordTableTest, DeleteKeepsCursorOnARemainingRecord) {
  Add(1, "a");
  Add(2, "b");
  Add(3, "c");
  table.MoveTo(1);
  table.Delete();
  EXPECT_EQ(Names(), (std::vector<std::string>{"a", "c"}));
  EXPECT_EQ(table.AsString(ProxyName), "c");
  table.Delete();  // the last one: cursor steps back
  EXPECT_EQ(table.AsString(ProxyName), "a");
  table.Delete();
  EXPECT_TRUE(table.IsEmpty());
  EXPECT_EQ(table.RecNo(), -1);
  table.Delete();  // nothing to delete
  EXPECT_EQ(table.AsString(ProxyName), "");
  EXPECT_FALSE(table.Edit());
}

TEST_F(RecordTableTest, DeleteWhileInsertingDropsOnlyTheNewRecord) {
  Add(1, "a");
  table.Append();
  table.SetString(ProxyName, "new");
  table.Delete();
  EXPECT_EQ(Names(), (std::vector<std::string>{"a"}));
}

TEST_F(RecordTableTest, LocateFindsTheFirstMatch) {
  Add(5, "a");
  Add(6, "b");
  Add(5, "c");
  table.Last();
  EXPECT_TRUE(table.Locate(ProxyID, int32_t{5}));
  EXPECT_EQ(table.AsString(ProxyName), "a");
  EXPECT_FALSE(table.Locate(ProxyID, int32_t{9}));
  EXPECT_EQ(table.RecNo(), 0);  // unchanged by a failed search
}

TEST_F(RecordTableTest, TextIsCutToTheFieldWidth) {
  table.Append();
  table.SetString(ProxyName, std::string(31, 'n'));
  table.SetString(ProxyAddress, std::string(200, 'a'));
  table.SetString(ProxyUserName, std::string(80, 'u'));
  table.Post();
  EXPECT_EQ(table.StringAt(0, ProxyName), std::string(30, 'n'));
  EXPECT_EQ(table.StringAt(0, ProxyAddress), std::string(80, 'a'));
  EXPECT_EQ(table.StringAt(0, ProxyUserName), std::string(80, 'u'));

  TRecordTable tunnels = CreateTunnelTable();
  tunnels.Append();
  tunnels.SetString(tunnel_fields::RemoteHost, std::string(101, 'h'));
  tunnels.Post();
  EXPECT_EQ(tunnels.StringAt(0, tunnel_fields::RemoteHost), std::string(100, 'h'));

  // A character that would straddle the width is left out whole.
  const struct {
    std::string value, kept;
  } cases[] = {
      {std::string(28, 'n') + "\xc3\xa9", std::string(28, 'n') + "\xc3\xa9"},  // fits exactly
      {std::string(28, 'n') + "\xc3\xa9x", std::string(28, 'n') + "\xc3\xa9"},
      {std::string(29, 'n') + "\xc3\xa9", std::string(29, 'n')},
      {std::string(28, 'n') + "\xe2\x82\xac", std::string(28, 'n')},
      {std::string(27, 'n') + "\xf0\x9f\x98\x80", std::string(27, 'n')},
      {std::string(26, 'n') + "\xf0\x9f\x98\x80x", std::string(26, 'n') + "\xf0\x9f\x98\x80"},
      // Not UTF-8 (Latin-1 bytes): cut as bytes.
      {std::string(29, 'n') + "\xe9\xe9", std::string(29, 'n') + "\xe9"},
      {std::string(29, 'n') + "\x80\x80", std::string(29, 'n') + "\x80"},
  };
  for (const auto& c : cases) {
    table.Append();
    table.SetString(ProxyName, c.value);
    table.Post();
    EXPECT_EQ(table.AsString(ProxyName), c.kept) << c.value;
  }
}

TEST_F(RecordTableTest, RefusesWritesOutsideEditAndWrongFields) {
  Add(1, "a");
  EXPECT_THROW(table.SetString(ProxyName, "x"), ETableError);
  table.Edit();
  EXPECT_THROW(table.SetString("NoSuchField", "x"), ETableError);
  EXPECT_THROW(table.SetString(ProxyID, "x"), ETableError);
  table.Cancel();
  EXPECT_EQ(table.StringAt(0, ProxyName), "a");
}

TEST_F(RecordTableTest, SuspendedViewsGetOneResetAfterwards) {
  Add(1, "a");
  Add(2, "b");
  std::vector<std::pair<TTableChange, int>> seen;
  table.Subscribe([&](TTableChange change, int row) { seen.emplace_back(change, row); });
  table.Cancel();  // nothing to cancel in browse state: views hear nothing
  EXPECT_TRUE(seen.empty());
  table.DisableControls();
  table.Last();
  table.First();
  table.DisableControls();  // nested: still one announcement, one reset
  Add(3, "c");
  table.EnableControls();
  table.First();
  table.Delete();
  ASSERT_EQ(seen.size(), 1u);
  EXPECT_EQ(seen[0].first, TTableChange::AboutToReset);
  table.EnableControls();
  ASSERT_EQ(seen.size(), 2u);
  EXPECT_EQ(seen[1].first, TTableChange::Reset);
  EXPECT_EQ(Names(), (std::vector<std::string>{"b", "c"}));

  seen.clear();
  table.Delete();
  ASSERT_GE(seen.size(), 2u);
  EXPECT_EQ(seen[1], (std::pair<TTableChange, int>{TTableChange::RowRemoved, 0}));
}

// A view mirrors the rows: it must hear of each structural change while the
// rows are still the old ones, then again once they are the new ones.
TEST_F(RecordTableTest, RowChangesAreAnnouncedBeforeTheyHappen) {
  using Seen = std::vector<std::tuple<TTableChange, int, int>>;  // change, row, count then
  Add(1, "a");
  Add(2, "b");
  Seen seen;
  TSubscription watch = table.Watch([&](TTableChange change, int row) {
    if (change != TTableChange::StateChanged) seen.emplace_back(change, row, table.RecordCount());
  });
  const std::vector<std::pair<std::function<void()>, Seen>> steps = {
      {[&] { Add(3, "c"); },
       {{TTableChange::RowAboutToBeInserted, 2, 2}, {TTableChange::RowInserted, 2, 3}}},
      {[&] {
         table.Append();
         table.Cancel();
       },
       {}},
      {[&] {
         table.First();
         table.Delete();
       },
       {{TTableChange::CursorMoved, 0, 3},
        {TTableChange::RowAboutToBeRemoved, 0, 3},
        {TTableChange::RowRemoved, 0, 2},
        {TTableChange::CursorMoved, 0, 2}}},
      {[&] {
         table.Edit();
         table.SetString(ProxyName, "B");
         table.Post();
       },
       {{TTableChange::RowChanged, 0, 2}}},
      {[&] { table.EmptyTable(); },
       {{TTableChange::AboutToReset, -1, 2}, {TTableChange::Reset, -1, 0}}},
  };
  for (size_t i = 0; i < steps.size(); ++i) {
    seen.clear();
    steps[i].first();
    EXPECT_EQ(seen, steps[i].second) << "step " << i;
  }
}

TEST(NextRecordIdTest, StaysAboveEveryIdInUse) {
  TRecordTable table = CreateProxyTable();
  EXPECT_EQ(NextRecordId(table, ProxyID), 1);
  for (int32_t id : {1, 2, 3}) {
    table.Append();
    table.SetInteger(ProxyID, id);
    table.Post();
  }
  table.First();
  table.Delete();  // ids 2 and 3 remain: "count + 1" would give 3 again
  EXPECT_EQ(NextRecordId(table, ProxyID), 4);
  EXPECT_EQ(NextRecordId(table, ProxyID, {0, 9}), 10);

  table.Last();
  table.Edit();
  table.SetInteger(ProxyID, INT32_MAX);
  table.Post();
  EXPECT_EQ(NextRecordId(table, ProxyID, {1}), 3);  // lowest free, never negative
}

}  // namespace
}  // namespace vantrel
