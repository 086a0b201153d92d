// Widgets bound to model controls: the model's value and state show in the
// widget, the user's input reaches the model and its handler once, and a
// binding ends with its widget.
#include <gtest/gtest.h>

#include <QAbstractItemView>
#include <QCheckBox>
#include <QComboBox>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QStandardItemModel>
#include <QTest>
#include <QTextBlock>
#include <QVBoxLayout>
#include <functional>
#include <memory>

#include "app/qt/ControlBinding.h"
#include "model/Controls.h"
#include "model/CountryTable.h"
#include "model/ProxyTables.h"

namespace vantrel {
namespace {

// A shown top-level window that the bound widgets live in.
class BindingTest : public ::testing::Test {
 protected:
  void SetUp() override {
    host_ = std::make_unique<QWidget>();
    new QVBoxLayout(host_.get());
    host_->resize(400, 300);
    host_->show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(host_.get()));
  }

  template <class Widget>
  Widget* Add() {
    auto* widget = new Widget(host_.get());
    host_->layout()->addWidget(widget);
    return widget;
  }

  std::unique_ptr<QWidget> host_;
};

// A check box takes clicks on its box and caption only, not on the empty
// width a layout gives it.
void ClickBox(QCheckBox* box) {
  QTest::mouseClick(box, Qt::LeftButton, {}, QPoint(8, box->height() / 2));
}

TEST_F(BindingTest, CheckBoxFollowsTheModelAndAClickRunsTheHandlerOnce) {
  TCheckBox control{"cbLogging", "Log to Screen"};
  int clicks = 0;
  control.OnClick = [&](TControl& sender) {
    EXPECT_EQ(&sender, &control);
    ++clicks;
  };
  auto* box = Add<QCheckBox>();
  Bind(box, control);
  EXPECT_EQ(box->objectName(), "cbLogging");
  EXPECT_EQ(box->text(), "Log to Screen");
  EXPECT_FALSE(box->isChecked());

  ClickBox(box);
  EXPECT_TRUE(control.Checked());
  EXPECT_EQ(clicks, 1);

  // A change from code shows, and runs the handler once: the widget does not
  // echo it back.
  control.SetChecked(false);
  EXPECT_FALSE(box->isChecked());
  EXPECT_EQ(clicks, 2);

  control.SetEnabled(false);
  control.SetHint("why");
  control.SetCaption("A & B");
  EXPECT_FALSE(box->isEnabled());
  EXPECT_EQ(box->toolTip(), "why");
  EXPECT_EQ(box->text(), "A && B");  // shown as "A & B", no mnemonic
  control.SetVisible(false);
  EXPECT_TRUE(box->isHidden());
  control.SetVisible(true);
  EXPECT_FALSE(box->isHidden());
}

TEST_F(BindingTest, CheckBoxShowsWhatTheHandlerMadeOfTheClick) {
  TCheckBox control{"cbDebug", "Debug Mode"};
  // A handler that refuses the change, as a disabled dependency would.
  control.OnClick = [&](TControl&) { control.SetChecked(false); };
  auto* box = Add<QCheckBox>();
  Bind(box, control);
  ClickBox(box);
  EXPECT_FALSE(control.Checked());
  EXPECT_FALSE(box->isChecked());
}

TEST_F(BindingTest, EditTakesTypingAndShowsTheTextCutToItsWidth) {
  TEdit control{"dbProxyName", "Proxy Name:"};
  control.SetMaxLength(5);
  int changes = 0;
  control.OnChange = [&](TControl&) { ++changes; };
  auto* edit = Add<QLineEdit>();
  Bind(edit, control);
  EXPECT_EQ(edit->objectName(), "dbProxyName");
  EXPECT_EQ(edit->maxLength(), 5);

  QTest::keyClicks(edit, "abc");
  EXPECT_EQ(control.Text(), "abc");
  EXPECT_EQ(changes, 3);

  control.SetText("xy");
  EXPECT_EQ(edit->text(), "xy");
  EXPECT_EQ(changes, 4);

  // The widget counts characters, the model bytes: "ééé" is six bytes and
  // the model keeps two characters; the widget must show that, not its own.
  edit->clear();
  control.SetText("");
  for (int i = 0; i < 3; ++i) {
    QTest::sendKeyEvent(QTest::Click, edit, Qt::Key_Eacute, QString::fromUtf8("\xC3\xA9"),
                        Qt::NoModifier);
  }
  EXPECT_EQ(control.Text(), "\xC3\xA9\xC3\xA9");
  EXPECT_EQ(edit->text(), QString::fromUtf8("\xC3\xA9\xC3\xA9"));
}

TEST_F(BindingTest, EditShowsPasswordCharactersAndReadOnlyState) {
  TEdit control{"dbProxyUserPassword"};
  auto* edit = Add<QLineEdit>();
  Bind(edit, control);
  EXPECT_EQ(edit->echoMode(), QLineEdit::Normal);
  control.SetPasswordChar('*');
  EXPECT_EQ(edit->echoMode(), QLineEdit::Password);
  EXPECT_TRUE(edit->styleSheet().contains("lineedit-password-character: 42"));
  control.SetText("secret");
  EXPECT_EQ(edit->text(), "secret");
  EXPECT_EQ(edit->displayText(), "******");
  control.SetPasswordChar('\0');
  EXPECT_EQ(edit->echoMode(), QLineEdit::Normal);

  control.SetReadOnly(true);
  EXPECT_TRUE(edit->isReadOnly());
  QTest::keyClicks(edit, "zz");
  EXPECT_EQ(control.Text(), "secret");
}

TEST_F(BindingTest, LabelShowsMarkupAsPlainText) {
  TLabel control{"lblProxyStatus", "<b>INACTIVE</b>"};
  auto* label = Add<QLabel>();
  Bind(label, control);
  EXPECT_EQ(label->objectName(), "lblProxyStatus");
  EXPECT_EQ(label->textFormat(), Qt::PlainText);
  EXPECT_EQ(label->text(), "<b>INACTIVE</b>");
  control.SetCaption("ACTIVE");
  EXPECT_EQ(label->text(), "ACTIVE");
}

TEST_F(BindingTest, ButtonClickRunsTheHandlerOnlyWhileEnabled) {
  TButton control{"btnClearLog", "Clear Log"};
  int clicks = 0;
  control.OnClick = [&](TControl&) { ++clicks; };
  auto* button = Add<QPushButton>();
  Bind(button, control);
  EXPECT_EQ(button->text(), "Clear Log");
  QTest::mouseClick(button, Qt::LeftButton);
  EXPECT_EQ(clicks, 1);
  control.SetEnabled(false);
  EXPECT_FALSE(button->isEnabled());
  QTest::mouseClick(button, Qt::LeftButton);
  EXPECT_EQ(clicks, 1);
}

TEST_F(BindingTest, MemoLinesGoBothWays) {
  TMemo control{"memIncoming"};
  int changes = 0;
  control.OnChange = [&](TControl&) { ++changes; };
  control.SetLines({"127.0.0.1", "10.0.0.0-10.255.255.255"});
  changes = 0;
  auto* memo = Add<QPlainTextEdit>();
  Bind(memo, control);
  EXPECT_EQ(memo->objectName(), "memIncoming");
  EXPECT_EQ(memo->toPlainText(), "127.0.0.1\n10.0.0.0-10.255.255.255");
  EXPECT_EQ(changes, 0);

  memo->moveCursor(QTextCursor::End);
  QTest::keyClick(memo, Qt::Key_Return);
  // A final line break opens no line of its own.
  EXPECT_EQ(control.Lines().size(), 2u);
  QTest::keyClicks(memo, "1.2.3.4");
  EXPECT_EQ(control.Lines(),
            (std::vector<std::string>{"127.0.0.1", "10.0.0.0-10.255.255.255", "1.2.3.4"}));
  EXPECT_GT(changes, 0);
  // The user's text stays as typed, cursor included.
  EXPECT_EQ(memo->textCursor().position(), memo->toPlainText().size());

  control.SetLines({});
  EXPECT_EQ(memo->toPlainText(), "");
}

// What a memo's text means as lines: a final line break opens no line.
std::vector<std::string> LinesOfText(const QString& text) {
  std::vector<std::string> lines;
  if (text.isEmpty()) return lines;
  for (const QString& line : text.split('\n')) lines.push_back(line.toStdString());
  if (text.endsWith('\n')) lines.pop_back();
  return lines;
}

TEST_F(BindingTest, MemoKeepsTheModelEqualToTheTextThroughEveryKindOfEdit) {
  TMemo control{"memBlockedHosts"};
  control.SetLines({"one.example", "two.example", "three.example", "four.example"});
  auto* memo = Add<QPlainTextEdit>();
  Bind(memo, control);
  memo->setFocus();
  auto cursorAt = [&](int block, int column) {
    QTextCursor cursor(memo->document()->findBlockByNumber(block));
    cursor.movePosition(QTextCursor::Right, QTextCursor::MoveAnchor, column);
    memo->setTextCursor(cursor);
  };
  struct Edit {
    const char* what;
    std::function<void()> run;
  };
  const Edit edits[] = {
      {"type in a line",
       [&] {
         cursorAt(1, 3);
         QTest::keyClicks(memo, "ZZ");
       }},
      {"split a line",
       [&] {
         cursorAt(2, 2);
         QTest::keyClick(memo, Qt::Key_Return);
       }},
      {"join two lines",
       [&] {
         cursorAt(1, 0);
         QTest::keyClick(memo, Qt::Key_Backspace);
       }},
      {"delete across lines",
       [&] {
         cursorAt(0, 2);
         QTextCursor cursor = memo->textCursor();
         cursor.movePosition(QTextCursor::Down, QTextCursor::KeepAnchor, 2);
         memo->setTextCursor(cursor);
         QTest::keyClick(memo, Qt::Key_Delete);
       }},
      {"paste several lines",
       [&] {
         cursorAt(0, 1);
         memo->insertPlainText("a\nb\nc\n");
       }},
      {"undo", [&] { memo->undo(); }},
      {"redo", [&] { memo->redo(); }},
      {"break at the end",
       [&] {
         memo->moveCursor(QTextCursor::End);
         QTest::keyClick(memo, Qt::Key_Return);
         QTest::keyClick(memo, Qt::Key_Return);
       }},
      {"erase everything",
       [&] {
         memo->selectAll();
         QTest::keyClick(memo, Qt::Key_Delete);
       }},
      {"type into the empty memo", [&] { QTest::keyClicks(memo, "new.example"); }},
  };
  for (const Edit& edit : edits) {
    SCOPED_TRACE(edit.what);
    edit.run();
    EXPECT_EQ(control.Lines(), LinesOfText(memo->toPlainText()));
  }
  // And back: the model's lines replace the text.
  control.SetLines({"x", "y"});
  EXPECT_EQ(memo->toPlainText(), "x\ny");
  QTest::keyClicks(memo, "1");
  EXPECT_EQ(control.Lines(), LinesOfText(memo->toPlainText()));
}

TEST_F(BindingTest, ListBoxShowsItsSortedItemsAndFollowsAddsAndClears) {
  TListBox control{"lbLocal", "Local Hosts"};
  control.Add("b.example");
  auto* list = Add<QListWidget>();
  Bind(list, control);
  auto texts = [&] {
    QStringList out;
    for (int i = 0; i < list->count(); ++i) out << list->item(i)->text();
    return out;
  };
  EXPECT_EQ(texts(), QStringList{"b.example"});
  control.Add("a.example");
  control.Add("c.example");
  control.Add("B.example");  // already there, ignoring case
  EXPECT_EQ(texts(), (QStringList{"a.example", "b.example", "c.example"}));
  control.Remove("b.example");
  EXPECT_EQ(texts(), (QStringList{"a.example", "c.example"}));
  control.SetItems({"z", "y"});
  EXPECT_EQ(texts(), (QStringList{"y", "z"}));
  control.SetVisible(false);
  EXPECT_TRUE(list->isHidden());
  control.Clear();
  EXPECT_EQ(list->count(), 0);
}

// The proxy table with two records, as the selectors see it.
class SelectorTest : public BindingTest {
 protected:
  void SetUp() override {
    BindingTest::SetUp();
    AddProxy(1, "First");
    AddProxy(2, "Second");
  }
  void AddProxy(int id, const std::string& name) {
    table.Append();
    table.SetInteger(proxy_fields::ProxyID, id);
    table.SetString(proxy_fields::ProxyName, name);
    table.Post();
  }
  static QStringList Items(QComboBox* combo) {
    QStringList out;
    for (int i = 0; i < combo->count(); ++i) out << combo->itemText(i);
    return out;
  }

  TRecordTable table = CreateProxyTable();
  TLookupCombo combo{"jvdbIntCon", table, proxy_fields::ProxyID, proxy_fields::ProxyName,
                     "<direct>"};
};

TEST_F(SelectorTest, ListsDirectFirstAndAChoiceReachesTheModel) {
  int changes = 0;
  combo.OnChange = [&](TControl&) { ++changes; };
  auto* widget = Add<QComboBox>();
  Bind(widget, combo);
  EXPECT_EQ(widget->objectName(), "jvdbIntCon");
  EXPECT_EQ(Items(widget), (QStringList{"<direct>", "First", "Second"}));
  EXPECT_EQ(widget->currentText(), "<direct>");

  // The user picks "Second" with the keyboard: the activated signal.
  widget->setFocus();
  QTest::keyClick(widget, Qt::Key_Down);
  QTest::keyClick(widget, Qt::Key_Down);
  EXPECT_EQ(combo.Value(), "2");
  EXPECT_EQ(changes, 2);

  combo.SetValue("1");
  EXPECT_EQ(widget->currentText(), "First");
  EXPECT_EQ(changes, 3);
  combo.SetValue("");
  EXPECT_EQ(widget->currentText(), "<direct>");
}

TEST_F(SelectorTest, FollowsARenamedProxyAndShowsNothingForADeletedOne) {
  auto* widget = Add<QComboBox>();
  Bind(widget, combo);
  combo.SetValue("2");
  ASSERT_EQ(widget->currentText(), "Second");

  ASSERT_TRUE(table.Locate(proxy_fields::ProxyID, 2));
  table.Edit();
  table.SetString(proxy_fields::ProxyName, "Renamed");
  table.Post();
  EXPECT_EQ(Items(widget), (QStringList{"<direct>", "First", "Renamed"}));
  EXPECT_EQ(widget->currentText(), "Renamed");

  ASSERT_TRUE(table.Locate(proxy_fields::ProxyID, 2));
  table.Delete();
  EXPECT_EQ(Items(widget), (QStringList{"<direct>", "First"}));
  // The value still names the deleted proxy, and nothing of it shows.
  EXPECT_EQ(combo.Value(), "2");
  EXPECT_EQ(widget->currentIndex(), -1);
  EXPECT_EQ(widget->currentText(), "");

  table.EmptyTable();
  EXPECT_EQ(Items(widget), QStringList{"<direct>"});
}

TEST_F(BindingTest, CountrySelectorShowsNameAndCodeAsColumns) {
  TRecordTable countries = CreateCountryTable();
  for (auto [code, name] : {std::pair{"ZA", "South Africa"}, std::pair{"US", "United States"}}) {
    countries.Append();
    countries.SetString(country_fields::CountryCode, code);
    countries.SetString(country_fields::CountryName, name);
    countries.Post();
  }
  TLookupCombo country{"jvdbCountry", countries, country_fields::CountryCode,
                       std::string(country_fields::CountryName) + ";" + country_fields::CountryCode,
                       "<none>"};
  auto* widget = Add<QComboBox>();
  Bind(widget, country);
  ASSERT_EQ(widget->model()->columnCount(), 2);
  EXPECT_EQ(widget->model()->index(2, 0).data().toString(), "United States");
  EXPECT_EQ(widget->model()->index(2, 1).data().toString(), "US");
  country.SetValue("ZA");
  EXPECT_EQ(widget->currentText(), "South Africa");
  EXPECT_EQ(widget->itemText(0), "<none>");
}

TEST_F(BindingTest, BindingEndsWithItsWidget) {
  TCheckBox box{"cbBlock", "Block"};
  TEdit edit{"edProxyPort"};
  TMemo memo{"memBlockedHosts"};
  TRecordTable table = CreateProxyTable();
  TLookupCombo combo{"jvdbLocalCon", table, proxy_fields::ProxyID, proxy_fields::ProxyName,
                     "<direct>"};
  const size_t before =
      box.Views().Count() + edit.Views().Count() + memo.Views().Count() + combo.Views().Count();
  {
    auto* a = Add<QCheckBox>();
    auto* b = Add<QLineEdit>();
    auto* c = Add<QPlainTextEdit>();
    auto* d = Add<QComboBox>();
    Bind(a, box);
    Bind(b, edit);
    Bind(c, memo);
    Bind(d, combo);
    EXPECT_EQ(
        box.Views().Count() + edit.Views().Count() + memo.Views().Count() + combo.Views().Count(),
        before + 4);
    delete a;
    delete b;
    delete c;
    delete d;
  }
  EXPECT_EQ(
      box.Views().Count() + edit.Views().Count() + memo.Views().Count() + combo.Views().Count(),
      before);
  // Changes after the widgets went touch nothing of them.
  box.SetChecked(true);
  edit.SetText("1");
  memo.SetLines({"x"});
  combo.SetValue("3");
}

}  // namespace
}  // namespace vantrel
