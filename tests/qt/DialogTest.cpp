// The two record dialogs as Qt windows: fixed size, centred, their fields
// bound to the pending record, Ok refused while a value is wrong, every way
// of closing them other than Ok counted as Cancel.
#include <gtest/gtest.h>

#include <QApplication>
#include <QCheckBox>
#include <QDialog>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QScreen>
#include <QTest>
#include <QTimer>
#include <functional>
#include <memory>

#include "app/qt/PropertiesDialogs.h"
#include "model/ProxyTables.h"
#include "model/RecordDialogs.h"
#include "tests/support/ScriptedUserInterface.h"

namespace vantrel {
namespace {

// Runs the script against the dialog once it is open; the script must close
// it. A dialog still open after it is closed by the test, so a failing
// script cannot hang the run.
void WhenOpen(std::function<void(QDialog&)> script) {
  QTimer::singleShot(0, [script] {
    auto* dialog = qobject_cast<QDialog*>(QApplication::activeModalWidget());
    ASSERT_NE(dialog, nullptr);
    ASSERT_TRUE(QTest::qWaitForWindowExposed(dialog));
    script(*dialog);
    if (dialog->isVisible()) {
      ADD_FAILURE() << "the dialog stayed open";
      dialog->reject();
    }
  });
}

template <class T>
T* Find(QDialog& dialog, const char* name) {
  T* widget = dialog.findChild<T*>(QLatin1String(name));
  EXPECT_NE(widget, nullptr) << name;
  return widget;
}

// A check box takes clicks on its box and caption only.
void ClickBox(QCheckBox* box) {
  QTest::mouseClick(box, Qt::LeftButton, {}, QPoint(8, box->height() / 2));
}

void Type(QDialog& dialog, const char* name, const QString& text) {
  QLineEdit* edit = Find<QLineEdit>(dialog, name);
  edit->selectAll();
  QTest::keyClicks(edit, text);
}

class DialogTest : public ::testing::Test {
 protected:
  void SetUp() override {
    parent.setGeometry(100, 100, 800, 600);
    parent.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&parent));
  }

  QWidget parent;
  TScriptedUserInterface ui;
  TRecordTable proxies = CreateProxyTable();
  TRecordTable tunnels = CreateTunnelTable();
};

TEST_F(DialogTest, ProxyDialogIsFixedCentredAndShowsItsFieldsInTabOrder) {
  proxies.Append();
  TfrmProxyProperties model(proxies, ui);
  QSize size;
  WhenOpen([&](QDialog& dialog) {
    EXPECT_EQ(dialog.windowTitle(), "Proxy Properties");
    EXPECT_EQ(dialog.minimumSize(), dialog.maximumSize());
    size = dialog.size();
    const QPoint offset = dialog.frameGeometry().center() - parent.frameGeometry().center();
    EXPECT_LE(offset.manhattanLength(), 4);
    const char* order[] = {"dbProxyName",     "dbProxyAddress",      "dbProxyPort", "DBCheckBox1",
                           "dbProxyUserName", "dbProxyUserPassword", "Button1",     "Button2"};
    QWidget* at = Find<QWidget>(dialog, order[0]);
    for (size_t i = 1; i < std::size(order); ++i) {
      at = at->nextInFocusChain();
      while (at != nullptr && at->focusPolicy() == Qt::NoFocus) at = at->nextInFocusChain();
      ASSERT_NE(at, nullptr);
      EXPECT_EQ(at->objectName(), order[i]);
    }
    for (const char* caption :
         {"Proxy Name:", "Proxy Address:", "Proxy Port:", "User name:", "Password:"}) {
      bool found = false;
      for (QLabel* label : dialog.findChildren<QLabel*>()) found |= label->text() == caption;
      EXPECT_TRUE(found) << caption;
    }
    EXPECT_EQ(Find<QCheckBox>(dialog, "DBCheckBox1")->text(), "Authentication Required");
    EXPECT_EQ(Find<QPushButton>(dialog, "Button1")->text(), "Ok");
    EXPECT_EQ(Find<QPushButton>(dialog, "Button2")->text(), "Cancel");
    QTest::mouseClick(Find<QPushButton>(dialog, "Button2"), Qt::LeftButton);
  });
  EXPECT_EQ(ExecProxyProperties(model, &parent), TModalResult::Cancel);
  EXPECT_TRUE(size.isValid());
}

TEST_F(DialogTest, ProxyDialogFillsTheRecordAndOkPostsOnlyValidValues) {
  proxies.Append();
  TfrmProxyProperties model(proxies, ui);
  WhenOpen([&](QDialog& dialog) {
    auto* user = Find<QLineEdit>(dialog, "dbProxyUserName");
    auto* password = Find<QLineEdit>(dialog, "dbProxyUserPassword");
    EXPECT_FALSE(user->isEnabled());
    EXPECT_FALSE(password->isEnabled());
    ClickBox(Find<QCheckBox>(dialog, "DBCheckBox1"));
    EXPECT_TRUE(user->isEnabled());
    EXPECT_TRUE(password->isEnabled());
    Type(dialog, "dbProxyAddress", "proxy.example");
    Type(dialog, "dbProxyPort", "3128");
    Type(dialog, "dbProxyUserName", "me");
    Type(dialog, "dbProxyUserPassword", "pw");
    EXPECT_EQ(password->displayText(), "**");

    // No name yet: Ok says why and the dialog stays.
    QTest::mouseClick(Find<QPushButton>(dialog, "Button1"), Qt::LeftButton);
    EXPECT_TRUE(dialog.isVisible());
    ASSERT_EQ(ui.errors.size(), 1u);
    EXPECT_EQ(ui.errors[0], "Please enter a proxy name.");

    Type(dialog, "dbProxyName", "Upstream");
    Type(dialog, "dbProxyPort", "0");
    QTest::mouseClick(Find<QPushButton>(dialog, "Button1"), Qt::LeftButton);
    EXPECT_TRUE(dialog.isVisible());
    EXPECT_EQ(ui.errors.back(), "Please enter a proxy port from 1 to 65535.");

    Type(dialog, "dbProxyPort", "8080");
    QTest::keyClick(&dialog, Qt::Key_Return);  // Ok is the default button
  });
  ASSERT_EQ(ExecProxyProperties(model, &parent), TModalResult::Ok);
  proxies.Post();
  EXPECT_EQ(proxies.AsString(proxy_fields::ProxyName), "Upstream");
  EXPECT_EQ(proxies.AsString(proxy_fields::ProxyAddress), "proxy.example");
  EXPECT_EQ(proxies.AsInteger(proxy_fields::ProxyPort), 8080);
  EXPECT_TRUE(proxies.AsBoolean(proxy_fields::NeedsAuthentication));
  EXPECT_EQ(proxies.AsString(proxy_fields::ProxyUserName), "me");
  EXPECT_EQ(proxies.AsString(proxy_fields::ProxyPassword), "pw");
}

TEST_F(DialogTest, EscapeAndTheCloseBoxCountAsCancel) {
  for (bool escape : {true, false}) {
    SCOPED_TRACE(escape ? "Escape" : "close box");
    proxies.Append();
    TfrmProxyProperties model(proxies, ui);
    WhenOpen([&](QDialog& dialog) {
      Type(dialog, "dbProxyName", "Not kept");
      if (escape) {
        QTest::keyClick(&dialog, Qt::Key_Escape);
      } else {
        dialog.close();
      }
    });
    EXPECT_EQ(ExecProxyProperties(model, &parent), TModalResult::Cancel);
    EXPECT_EQ(model.ModalResult(), TModalResult::Cancel);
    proxies.Cancel();
    EXPECT_EQ(proxies.RecordCount(), 0);
  }
}

TEST_F(DialogTest, ProxyDialogShowsTheRecordBeingEdited) {
  proxies.Append();
  proxies.SetString(proxy_fields::ProxyName, "Existing");
  proxies.SetInteger(proxy_fields::ProxyPort, 3128);
  proxies.SetBoolean(proxy_fields::NeedsAuthentication, true);
  proxies.SetString(proxy_fields::ProxyPassword, "secret");
  proxies.Post();
  proxies.Edit();
  TfrmProxyProperties model(proxies, ui);
  WhenOpen([&](QDialog& dialog) {
    EXPECT_EQ(Find<QLineEdit>(dialog, "dbProxyName")->text(), "Existing");
    EXPECT_EQ(Find<QLineEdit>(dialog, "dbProxyPort")->text(), "3128");
    EXPECT_TRUE(Find<QCheckBox>(dialog, "DBCheckBox1")->isChecked());
    auto* password = Find<QLineEdit>(dialog, "dbProxyUserPassword");
    EXPECT_TRUE(password->isEnabled());
    EXPECT_EQ(password->echoMode(), QLineEdit::Password);
    EXPECT_EQ(password->displayText(), "******");
    QTest::mouseClick(Find<QPushButton>(dialog, "Button1"), Qt::LeftButton);
  });
  EXPECT_EQ(ExecProxyProperties(model, &parent), TModalResult::Ok);
}

TEST_F(DialogTest, TunnelDialogChecksBothPortsAndFillsTheRecord) {
  tunnels.Append();
  TfrmTunnelProperties model(tunnels, ui);
  WhenOpen([&](QDialog& dialog) {
    EXPECT_EQ(dialog.windowTitle(), "Tunnel Properties");
    EXPECT_EQ(dialog.minimumSize(), dialog.maximumSize());
    EXPECT_EQ(Find<QCheckBox>(dialog, "dbEnabled")->text(), "Tunnel Enabled");
    for (const char* caption :
         {"Tunnel Name:", "Local Port No:", "Remote Host:", "Remote Port No:"}) {
      bool found = false;
      for (QLabel* label : dialog.findChildren<QLabel*>()) found |= label->text() == caption;
      EXPECT_TRUE(found) << caption;
    }
    Type(dialog, "dbTunnelName", "Mail");
    Type(dialog, "dbLocalPortNo", "70000");
    Type(dialog, "dbRemoteHost", "mail.example");
    Type(dialog, "dbRemotePortNo", "993");
    QTest::mouseClick(Find<QPushButton>(dialog, "Button1"), Qt::LeftButton);
    EXPECT_TRUE(dialog.isVisible());
    EXPECT_EQ(ui.errors.back(), "Please enter a local port from 1 to 65535.");
    Type(dialog, "dbLocalPortNo", "1993");
    Type(dialog, "dbRemotePortNo", "x");
    QTest::mouseClick(Find<QPushButton>(dialog, "Button1"), Qt::LeftButton);
    EXPECT_TRUE(dialog.isVisible());
    EXPECT_EQ(ui.errors.back(), "'x' is not a valid integer value");
    Type(dialog, "dbRemotePortNo", "993");
    ClickBox(Find<QCheckBox>(dialog, "dbEnabled"));
    QTest::mouseClick(Find<QPushButton>(dialog, "Button1"), Qt::LeftButton);
  });
  ASSERT_EQ(ExecTunnelProperties(model, &parent), TModalResult::Ok);
  tunnels.Post();
  EXPECT_EQ(tunnels.AsString(tunnel_fields::TunnelName), "Mail");
  EXPECT_EQ(tunnels.AsInteger(tunnel_fields::LocalPortNo), 1993);
  EXPECT_EQ(tunnels.AsString(tunnel_fields::RemoteHost), "mail.example");
  EXPECT_EQ(tunnels.AsInteger(tunnel_fields::RemotePortNo), 993);
  EXPECT_TRUE(tunnels.AsBoolean(tunnel_fields::Enabled));
}

// A filled record, then Shift+Tab from the first field to Cancel and Enter:
// the focused button is pressed, not the default one.
TEST_F(DialogTest, EnterOnAFocusedCancelCancels) {
  for (bool tunnel : {false, true}) {
    SCOPED_TRACE(tunnel ? "tunnel" : "proxy");
    TRecordTable& table = tunnel ? tunnels : proxies;
    table.Append();
    TfrmProxyProperties proxyModel(proxies, ui);
    TfrmTunnelProperties tunnelModel(tunnels, ui);
    WhenOpen([&](QDialog& dialog) {
      if (tunnel) {
        Type(dialog, "dbTunnelName", "XX");
        Type(dialog, "dbLocalPortNo", "1993");
        Type(dialog, "dbRemoteHost", "mail.example");
        Type(dialog, "dbRemotePortNo", "993");
      } else {
        Type(dialog, "dbProxyName", "XX");
        Type(dialog, "dbProxyAddress", "proxy.example");
        Type(dialog, "dbProxyPort", "3128");
      }
      QWidget* first = Find<QWidget>(dialog, tunnel ? "dbTunnelName" : "dbProxyName");
      first->setFocus();
      QTest::keyClick(first, Qt::Key_Backtab);
      QWidget* focused = QApplication::focusWidget();
      ASSERT_NE(focused, nullptr);
      EXPECT_EQ(focused->objectName(), "Button2");
      QTest::keyClick(focused, Qt::Key_Return);
    });
    const TModalResult result = tunnel ? ExecTunnelProperties(tunnelModel, &parent)
                                       : ExecProxyProperties(proxyModel, &parent);
    EXPECT_EQ(result, TModalResult::Cancel);
    table.Cancel();
  }
}

// A new record's number fields are empty, so typing gives the number typed.
TEST_F(DialogTest, ANewRecordsNumberFieldsAreEmpty) {
  proxies.Append();
  tunnels.Append();
  TfrmProxyProperties proxyModel(proxies, ui);
  TfrmTunnelProperties tunnelModel(tunnels, ui);
  auto typeInto = [](QDialog& dialog, const char* name) {
    auto* edit = Find<QLineEdit>(dialog, name);
    EXPECT_EQ(edit->text(), "") << name;
    QTest::mouseClick(edit, Qt::LeftButton);
    QTest::keyClicks(edit, "3128");
    EXPECT_EQ(edit->text(), "3128") << name;
  };
  WhenOpen([&](QDialog& dialog) {
    typeInto(dialog, "dbProxyPort");
    dialog.reject();
  });
  ExecProxyProperties(proxyModel, &parent);
  WhenOpen([&](QDialog& dialog) {
    typeInto(dialog, "dbLocalPortNo");
    typeInto(dialog, "dbRemotePortNo");
    // Left empty, Ok names the missing port.
    auto* local = Find<QLineEdit>(dialog, "dbLocalPortNo");
    local->selectAll();
    QTest::keyClick(local, Qt::Key_Backspace);
    Type(dialog, "dbTunnelName", "Mail");
    QTest::mouseClick(Find<QPushButton>(dialog, "Button1"), Qt::LeftButton);
    EXPECT_EQ(ui.errors.back(), "Please enter a local port from 1 to 65535.");
    dialog.reject();
  });
  ExecTunnelProperties(tunnelModel, &parent);
}

TEST_F(DialogTest, WithoutAVisibleParentTheDialogIsCentredOnTheScreen) {
  tunnels.Append();
  TfrmTunnelProperties model(tunnels, ui);
  WhenOpen([&](QDialog& dialog) {
    const QRect screen = dialog.screen()->availableGeometry();
    const QPoint offset = dialog.frameGeometry().center() - screen.center();
    EXPECT_LE(offset.manhattanLength(), 4);
    QTest::mouseClick(Find<QPushButton>(dialog, "Button2"), Qt::LeftButton);
  });
  EXPECT_EQ(ExecTunnelProperties(model, nullptr), TModalResult::Cancel);
}

}  // namespace
}  // namespace vantrel
