#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "config/Controls.h"
#include "config/ProxyTables.h"

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

TEST(ControlEvents, EditWithMaxLengthCutsAndFiresOnlyForTheCutValue) {
  TEdit edit("edTest");
  edit.SetMaxLength(4);
  int changes = 0;
  edit.OnChange = [&](TControl&) { ++changes; };
  edit.SetText("abcdef");
  EXPECT_EQ(edit.Text(), "abcd");
  edit.SetText("abcdxyz");  // cuts to the same text: no change
  EXPECT_EQ(changes, 1);
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
