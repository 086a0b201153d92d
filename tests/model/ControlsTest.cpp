#include <gtest/gtest.h>

#include <functional>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "model/Controls.h"
#include "model/ProxyTables.h"

namespace vantrel {
namespace {

// Setting from code must behave like a user's change, and fire only when the
// value actually changes: the configuration load relies on both.
TEST(ControlEvents, FireOncePerRealChange) {
  TCheckBox box("cbTest");
  TEdit edit("edTest");
  TMemo memo("memTest");
  std::vector<std::string> fired;
  box.OnClick = [&](TControl& sender) { fired.push_back(sender.Name()); };
  edit.OnChange = [&](TControl& sender) { fired.push_back(sender.Name()); };
  memo.OnChange = [&](TControl& sender) { fired.push_back(sender.Name()); };

  box.SetChecked(false);  // already false
  edit.SetText("");
  memo.SetLines({});
  EXPECT_TRUE(fired.empty());

  box.SetChecked(true);
  box.SetChecked(true);
  edit.SetText("8080");
  edit.SetText("8080");
  memo.SetLines({"127.0.0.1"});
  memo.SetLines({"127.0.0.1"});
  EXPECT_EQ(fired, (std::vector<std::string>{"cbTest", "edTest", "memTest"}));

  // The handler sees the new value, not the old one.
  bool seen = false;
  box.OnClick = [&](TControl&) { seen = box.Checked(); };
  box.SetChecked(false);
  box.SetChecked(true);
  EXPECT_TRUE(seen);
}

TEST(ControlEvents, ViewsHearStateChangesButHandlersDoNot) {
  TCheckBox box("cbTest", "Caption");
  int handler = 0;
  int views = 0;
  box.OnClick = [&](TControl&) { ++handler; };
  const int token = box.Views().Subscribe([&] { ++views; });

  box.SetEnabled(false);
  box.SetEnabled(false);
  box.SetCaption("Other");
  box.SetChecked(true);
  EXPECT_EQ(handler, 1);
  EXPECT_EQ(views, 3);

  box.Views().Unsubscribe(token);
  box.SetVisible(false);
  EXPECT_EQ(views, 3);
}

// The attributes a view shows: each change, and only a change, redraws it;
// none of them is a user's change of value.
TEST(ControlEvents, HintPasswordCharAndReadOnlyRedrawViews) {
  TEdit edit("edTest");
  int handler = 0;
  int views = 0;
  edit.OnChange = [&](TControl&) { ++handler; };
  TSubscription watch = edit.Views().Watch([&] { ++views; });
  const std::vector<std::function<void()>> steps = {
      [&] { edit.SetHint("Port the proxy listens on"); },
      [&] { edit.SetPasswordChar('*'); },
      [&] { edit.SetReadOnly(true); },
  };
  for (const auto& step : steps) {
    const int before = views;
    step();
    EXPECT_EQ(views, before + 1);
    step();
    EXPECT_EQ(views, before + 1);
  }
  EXPECT_EQ(edit.Hint(), "Port the proxy listens on");
  EXPECT_EQ(edit.PasswordChar(), '*');
  EXPECT_TRUE(edit.ReadOnly());
  EXPECT_EQ(handler, 0);
}

// A subscription ends with its holder, may end inside a notification and
// may outlive what it watches.
TEST(ControlEvents, SubscriptionsEndThemselves) {
  int first = 0;
  int second = 0;
  auto box = std::make_unique<TCheckBox>("cbTest");
  {
    TSubscription watch = box->Views().Watch([&] { ++first; });
    box->SetCaption("one");
    EXPECT_EQ(first, 1);
  }
  box->SetCaption("two");
  EXPECT_EQ(first, 1);

  // The first listener ends the second's subscription: the second is not
  // called with a dangling capture, not even for this event.
  TSubscription later;
  TSubscription earlier = box->Views().Watch([&] { later.Reset(); });
  later = box->Views().Watch([&] { ++second; });
  box->SetCaption("three");
  EXPECT_EQ(second, 0);
  EXPECT_FALSE(later.Active());

  // Moving keeps one live subscription; the control may go first.
  TSubscription moved = box->Views().Watch([&] { ++first; });
  TSubscription target = std::move(moved);
  EXPECT_FALSE(moved.Active());
  box->SetCaption("four");
  EXPECT_EQ(first, 2);
  box.reset();
  target.Reset();
  earlier.Reset();
}

TEST(ControlEvents, EditWithMaxLengthCutsAndFiresOnlyForTheCutValue) {
  TEdit edit("edTest");
  edit.SetMaxLength(4);
  int changes = 0;
  edit.OnChange = [&](TControl&) { ++changes; };
  edit.SetText("abcdef");
  EXPECT_EQ(edit.Text(), "abcd");
  int views = 0;
  TSubscription watch = edit.Views().Watch([&] { ++views; });
  edit.SetText("abcdxyz");  // cuts to the same text: no change
  EXPECT_EQ(changes, 1);
  // ...but a view showing the longer input must take the cut text back.
  EXPECT_EQ(views, 1);
  edit.SetText("abcd");
  EXPECT_EQ(views, 1);
  edit.SetText("abc\xc3\xa9");  // never half a character
  EXPECT_EQ(edit.Text(), "abc");
}

// Host lists are lookup tables: whole names, case ignored, each name once.
TEST(ListBox, MembershipOrderAndDuplicatesIgnoreCase) {
  TListBox list("lbLocal");
  int views = 0;
  list.Views().Subscribe([&] { ++views; });
  EXPECT_TRUE(list.Add("b.example"));
  EXPECT_TRUE(list.Add("A.example"));
  EXPECT_TRUE(list.Add("c.example"));
  EXPECT_FALSE(list.Add("B.EXAMPLE"));
  EXPECT_EQ(list.Items(), (std::vector<std::string>{"A.example", "b.example", "c.example"}));
  EXPECT_TRUE(list.Contains("a.example"));
  EXPECT_TRUE(list.Contains("C.Example"));
  EXPECT_FALSE(list.Contains("example"));
  EXPECT_FALSE(list.Contains("a.example."));
  EXPECT_EQ(views, 3);

  EXPECT_TRUE(list.Remove("B.example"));
  EXPECT_FALSE(list.Remove("b.example"));
  EXPECT_FALSE(list.Contains("b.example"));
  EXPECT_EQ(views, 4);

  list.SetItems({"z.example", "", "Y.example", "y.example", "x.example"});
  EXPECT_EQ(list.Items(), (std::vector<std::string>{"x.example", "Y.example", "z.example"}));
  EXPECT_EQ(views, 5);
  list.SetItems({"x.example", "z.example", "Y.example"});  // the same list: no change
  EXPECT_EQ(views, 5);
  list.Clear();
  list.Clear();
  EXPECT_EQ(list.Count(), 0);
  EXPECT_EQ(views, 6);
}

class LookupComboTest : public ::testing::Test {
 protected:
  void AddProxy(int32_t id, const std::string& name) {
    table.Append();
    table.SetInteger(proxy_fields::ProxyID, id);
    table.SetString(proxy_fields::ProxyName, name);
    table.Post();
  }
  TRecordTable table = CreateProxyTable();
  TLookupCombo combo{"jvdbIntCon", table, proxy_fields::ProxyID, proxy_fields::ProxyName,
                     "<direct>"};
};

TEST_F(LookupComboTest, ShowsDirectNameOrNothing) {
  AddProxy(1, "Office");
  AddProxy(7, "Upstream");
  EXPECT_EQ(combo.DisplayText(), "<direct>");
  combo.SetValue("7");
  EXPECT_EQ(combo.DisplayText(), "Upstream");
  combo.SetValue("3");  // an id no record has, e.g. a deleted proxy
  EXPECT_EQ(combo.DisplayText(), "");
  combo.SetValue("x");
  EXPECT_EQ(combo.DisplayText(), "");

  const auto items = combo.Items();
  ASSERT_EQ(items.size(), 3u);
  EXPECT_EQ(items[0], (std::pair<std::string, std::string>{"", "<direct>"}));
  EXPECT_EQ(items[2], (std::pair<std::string, std::string>{"7", "Upstream"}));
}

// A selector's views rebuild when its list changes, so an edited or deleted
// proxy never keeps showing its old name; cursor moves and pending edits
// are no news for them.
TEST_F(LookupComboTest, ViewsHearEveryCommittedChangeOfTheList) {
  AddProxy(1, "Office");
  AddProxy(2, "Upstream");
  combo.SetValue("2");
  int views = 0;
  TSubscription watch = combo.Views().Watch([&] { ++views; });
  const std::vector<std::pair<std::function<void()>, int>> steps = {
      {[&] { table.First(); }, 0},
      {[&] { table.Last(); }, 0},
      {[&] { table.Edit(); }, 0},
      {[&] { table.SetString(proxy_fields::ProxyName, "Renamed"); }, 0},
      {[&] { table.Post(); }, 1},
      {[&] { AddProxy(3, "Third"); }, 1},
      {[&] {
         table.Locate(proxy_fields::ProxyID, TFieldValue(int32_t{2}));
         table.Delete();
       },
       1},
      {[&] { table.EmptyTable(); }, 1},
  };
  for (size_t i = 0; i < steps.size(); ++i) {
    const int before = views;
    steps[i].first();
    EXPECT_EQ(views - before, steps[i].second) << "step " << i;
    if (i == 4) {
      EXPECT_EQ(combo.DisplayText(), "Renamed");
    }
  }
  EXPECT_EQ(combo.DisplayText(), "");
  EXPECT_EQ(combo.Items().size(), 1u);
}

TEST_F(LookupComboTest, LookingUpDoesNotMoveTheTableCursor) {
  AddProxy(1, "Office");
  AddProxy(2, "Upstream");
  table.First();
  combo.SetValue("2");
  EXPECT_EQ(combo.DisplayText(), "Upstream");
  EXPECT_EQ(table.RecNo(), 0);
}

}  // namespace
}  // namespace vantrel
