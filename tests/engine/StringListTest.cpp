#include "engine/StringList.h"

#include <gtest/gtest.h>

#include <stdexcept>

namespace vantrel::engine {
namespace {

class StringListTest : public ::testing::Test {
 protected:
  void SetUp() override {
    list.OnChange = [this](TStringList* sender) {
      ASSERT_EQ(sender, &list);
      ++changes;
    };
  }
  TStringList list;
  int changes = 0;
};

TEST_F(StringListTest, EachChangeFiresOnceAndTextFollows) {
  list.Add("a");
  list.Add("");
  EXPECT_EQ(changes, 2);
  EXPECT_EQ(list.Text(), "a\r\n\r\n");
  list.Insert(0, "z");
  EXPECT_EQ(list.Text(), "z\r\na\r\n\r\n");
  list.Delete(1);
  EXPECT_EQ(list.Text(), "z\r\n\r\n");
  EXPECT_EQ(changes, 4);
  list.Assign(TStringList{"x", "y", "z"});
  EXPECT_EQ(changes, 5);  // one notification for the whole assignment
  EXPECT_EQ(list.Text(), "x\r\ny\r\nz\r\n");
  list.Clear();
  EXPECT_EQ(list.Text(), "");
  list.Clear();  // nothing to clear, nothing to report
  EXPECT_EQ(changes, 6);
}

TEST_F(StringListTest, BadIndexesThrowAndChangeNothing) {
  list.Add("a");
  EXPECT_THROW(list.Delete(1), std::out_of_range);
  EXPECT_THROW(list.Insert(2, "b"), std::out_of_range);
  EXPECT_THROW((void)list[1], std::out_of_range);
  EXPECT_EQ(list.Text(), "a\r\n");
  EXPECT_EQ(changes, 1);
}

TEST_F(StringListTest, SetTextSplitsAtEveryLineBreakKind) {
  list.SetText("a\r\nb\nc\rd");
  EXPECT_EQ(list.Lines(), (std::vector<std::string>{"a", "b", "c", "d"}));
  list.SetText("a\r\n\r\nb\r\n");
  EXPECT_EQ(list.Lines(), (std::vector<std::string>{"a", "", "b"}));
  list.SetText("");
  EXPECT_TRUE(list.Empty());
  list.SetText("\r\n");
  EXPECT_EQ(list.Lines(), (std::vector<std::string>{""}));
  EXPECT_EQ(changes, 4);
}

TEST_F(StringListTest, PauseSilencesAndRestoresEvenOnThrow) {
  {
    TStringList::NotifyPause pause(list);
    list.Add("quiet");
  }
  EXPECT_EQ(changes, 0);
  try {
    TStringList::NotifyPause pause(list);
    throw std::runtime_error("x");
  } catch (const std::runtime_error&) {
  }
  list.Add("loud");
  EXPECT_EQ(changes, 1);
  EXPECT_EQ(list.Text(), "quiet\r\nloud\r\n");
}

TEST_F(StringListTest, CopiesTakeLinesButNotTheHandler) {
  list.Add("a");
  TStringList copy(list);
  copy.Add("b");
  EXPECT_EQ(changes, 1);  // the copy does not report to list's handler
  list = copy;
  EXPECT_EQ(changes, 2);  // assignment is a change of list
  EXPECT_EQ(list.Text(), "a\r\nb\r\n");
  list.Assign(list);  // from itself: nothing happens
  EXPECT_EQ(changes, 2);
}

TEST_F(StringListTest, HandlerMayReplaceItselfWhileRunning) {
  int second = 0;
  list.OnChange = [&](TStringList* sender) {
    sender->OnChange = [&](TStringList*) { ++second; };
    ++changes;
  };
  list.Add("a");
  list.Add("b");
  EXPECT_EQ(changes, 1);
  EXPECT_EQ(second, 1);
}

}  // namespace
}  // namespace vantrel::engine
