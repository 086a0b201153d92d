// The window from the keyboard: Alt and a caption's underlined letter, Ctrl+S,
// a harmless Escape, and Tab from the top down, left to right.

#include <gtest/gtest.h>

#include <QAbstractButton>
#include <QApplication>
#include <QMessageBox>
#include <QRegularExpression>
#include <QTabBar>
#include <QTabWidget>
#include <QTest>
#include <QTimer>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "app/qt/DesktopFrontEnd.h"
#include "app/qt/TrayIcon.h"
#include "tests/support/LoopbackPeer.h"
#include "tests/support/ScratchFolder.h"

namespace vantrel {
namespace {

class KeyboardTest : public testing::Test {
 protected:
  void SetUp() override {
    int port = 0;
    { testsupport::Fd fd = testsupport::BindWithoutListening(port); }
    folder.Write("proxy.ini", "[CONFIG]\nProxyPort=" + std::to_string(port) + "\n");
    // No box is expected here; one that opens anyway fails the test instead
    // of waiting for an answer.
    boxGuard.setInterval(20);
    QObject::connect(&boxGuard, &QTimer::timeout, [] {
      if (auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget())) {
        ADD_FAILURE() << "unexpected box: " << box->text().toStdString();
        box->reject();
      }
    });
    boxGuard.start();
    desktop = std::make_unique<TDesktop>(net::EventLoop::Default());
    desktop->ui.Tray().HostAvailable = [] { return false; };
    desktop->Start(std::nullopt);
    Form().show();
    Form().activateWindow();
    ASSERT_TRUE(QTest::qWaitForWindowActive(&Form()));
  }
  void TearDown() override {
    desktop->Finish();
    desktop.reset();
    // Terminate ends Qt's loops until the application's own runs again.
    QTimer::singleShot(0, QCoreApplication::instance(), [] { QCoreApplication::exit(0); });
    QCoreApplication::exec();
    net::EventLoop::Default().RunUntil([] { return false; }, std::chrono::milliseconds(20));
  }

  TMainForm& Form() { return desktop->form; }
  TMainControls& Controls() { return desktop->window.controls; }
  QString Page(const char* tabs) {
    auto* widget = Form().findChild<QTabWidget*>(QLatin1String(tabs));
    return widget != nullptr && widget->currentWidget() != nullptr
               ? widget->currentWidget()->objectName()
               : QString();
  }

  testsupport::ScratchFolder folder{"vantrel-keyboard"};
  QTimer boxGuard;
  std::unique_ptr<TDesktop> desktop;
};

TEST_F(KeyboardTest, EveryKeyReachesItsCommand) {
  struct Case {
    const char* name;
    Qt::Key key;
    Qt::KeyboardModifiers modifiers;
    std::function<bool()> done;
  };
  TMainControls& c = Controls();
  // A box's key flips it, whatever it started as.
  const bool showLocal = c.cbShowLocalHosts.Checked();
  const bool showInt = c.cbShowIntHosts.Checked();
  const bool logging = c.cbLogging.Checked();
  const bool block = c.cbBlock.Checked();
  const bool automatic = c.cbStartAutomatically.Checked();
  const bool intHttp = c.cbIntCon.Checked();
  const bool localSsl = c.cbLocalConSSL.Checked();
  const std::vector<Case> cases = {
      {"Alt+T: Traffic", Qt::Key_T, Qt::AltModifier, [&] { return Page("pgMain") == "tsTraffic"; }},
      {"Alt+H: Show Local Internet Hosts", Qt::Key_H, Qt::AltModifier,
       [&] { return c.cbShowLocalHosts.Checked() != showLocal; }},
      {"Alt+I: Show International Internet Hosts", Qt::Key_I, Qt::AltModifier,
       [&] { return c.cbShowIntHosts.Checked() != showInt; }},
      {"Alt+L: Logging", Qt::Key_L, Qt::AltModifier, [&] { return Page("pgMain") == "tsLogging"; }},
      {"Alt+R: Log to Screen", Qt::Key_R, Qt::AltModifier,
       [&] { return c.cbLogging.Checked() != logging; }},
      {"Alt+A: About", Qt::Key_A, Qt::AltModifier, [&] { return Page("pgMain") == "tsAbout"; }},
      {"Alt+C: Configuration", Qt::Key_C, Qt::AltModifier,
       [&] { return Page("pgMain") == "pgConfiguration"; }},
      {"Alt+K: Blocked Hosts", Qt::Key_K, Qt::AltModifier,
       [&] { return Page("pgConfiguration") == "tsBlockedHosts"; }},
      {"Alt+H: Block Connections", Qt::Key_H, Qt::AltModifier, [&] { return c.cbBlock.Checked() != block; }},
      {"Alt+P: Proxy", Qt::Key_P, Qt::AltModifier,
       [&] { return Page("pgConfiguration") == "tsProxy"; }},
      {"Alt+M: Start Proxy Automatically", Qt::Key_M, Qt::AltModifier,
       [&] { return c.cbStartAutomatically.Checked() != automatic; }},
      {"Alt+8: international HTTP", Qt::Key_8, Qt::AltModifier, [&] { return c.cbIntCon.Checked() != intHttp; }},
      {"Alt+3: local Secure", Qt::Key_3, Qt::AltModifier,
       [&] { return c.cbLocalConSSL.Checked() != localSsl; }},
      {"Ctrl+S: Save Changes", Qt::Key_S, Qt::ControlModifier,
       [&] {
         return !c.btnSave.Enabled() &&
                folder.Read("proxy.ini").find(automatic ? "StartAutomatically=0"
                                                        : "StartAutomatically=1") !=
                    std::string::npos;
       }},
      {"Alt+S: Start Proxy", Qt::Key_S, Qt::AltModifier,
       [&] { return c.lblProxyStatus.Caption() == "ACTIVE"; }},
      {"Escape: nothing", Qt::Key_Escape, Qt::NoModifier,
       [&] {
         return c.lblProxyStatus.Caption() == "ACTIVE" && Form().isVisible() &&
                !Form().isMinimized() && !c.btnSave.Enabled() && !desktop->ui.Terminating();
       }},
      {"Alt+S: Stop Proxy", Qt::Key_S, Qt::AltModifier,
       [&] { return c.lblProxyStatus.Caption() == "INACTIVE"; }},
      {"Alt+U: Tunnels", Qt::Key_U, Qt::AltModifier,
       [&] { return Page("pgConfiguration") == "tsTunnels"; }},
  };
  for (const Case& k : cases) {
    SCOPED_TRACE(k.name);
    QWidget* target = QApplication::focusWidget() != nullptr ? QApplication::focusWidget() : &Form();
    QTest::keyClick(target, k.key, k.modifiers);
    // A mnemonic clicks its button a moment later, as a user sees it pressed.
    EXPECT_TRUE(QTest::qWaitFor(k.done, 2000));
  }
}

TEST_F(KeyboardTest, CaptionsKeepTheirTextAndNoLetterServesTwoVisibleWidgets) {
  // The underline is only shown: the model's captions are the program's.
  TMainControls& c = Controls();
  for (TButton* control : {&c.btnStart, &c.Button1, &c.btnSave, &c.btnCancel}) {
    auto* button = Form().findChild<QAbstractButton*>(QString::fromStdString(control->Name()));
    ASSERT_NE(button, nullptr);
    QString shown = button->text();
    ASSERT_EQ(shown.count(QLatin1Char('&')), 1) << shown.toStdString();
    EXPECT_EQ(shown.remove(QLatin1Char('&')).toStdString(), control->Caption());
  }
  auto* pages = Form().findChild<QTabWidget*>(QStringLiteral("pgMain"));
  auto* configuration = Form().findChild<QTabWidget*>(QStringLiteral("pgConfiguration"));
  ASSERT_NE(pages, nullptr);
  ASSERT_NE(configuration, nullptr);
  // Every page in turn: the letters of what is on screen together.
  for (int page = 0; page < pages->count(); ++page) {
    pages->setCurrentIndex(page);
    const int subPages = page == 0 ? configuration->count() : 1;
    for (int sub = 0; sub < subPages; ++sub) {
      if (page == 0) configuration->setCurrentIndex(sub);
      QStringList texts;
      for (QAbstractButton* button : Form().findChildren<QAbstractButton*>()) {
        if (button->isVisible()) texts << button->text();
      }
      for (int i = 0; i < pages->count(); ++i) texts << pages->tabText(i);
      if (page == 0) {
        for (int i = 0; i < configuration->count(); ++i) texts << configuration->tabText(i);
      }
      QString letters;
      for (const QString& text : texts) {
        const qsizetype at = text.indexOf(QRegularExpression(QStringLiteral("&[^&]")));
        if (at < 0) continue;
        const QChar letter = text[at + 1].toLower();
        EXPECT_FALSE(letters.contains(letter))
            << "Alt+" << QString(letter).toStdString() << " twice, at " << text.toStdString();
        letters += letter;
      }
    }
  }
}

TEST_F(KeyboardTest, TabGoesTopDownLeftToRight) {
  // The Proxy page as it opens: what Tab visits, from the Start button on.
  const std::vector<std::string> expected = {
      "btnStart",         "Button1",         "pgMain",      "pgConfiguration",
      "edProxyPort",      "jvdbCountry",     "cbStartAutomatically",
      "cbMinimize",       "cbAutostart",     "DBGrid1",     "btnAdd",
      "btnEdit",          "btnDelete",       "cbIntCon",    "cbIntConSSL",
      "cbIntConOther",    "cbLocalCon",      "cbLocalConSSL", "cbLocalConOTHER",
      "cbUnknownHosts"};
  QWidget* start = Form().findChild<QWidget*>(QStringLiteral("btnStart"));
  ASSERT_NE(start, nullptr);
  start->setFocus();
  std::vector<std::string> visited;
  for (size_t i = 0; i < expected.size(); ++i) {
    QWidget* focused = QApplication::focusWidget();
    ASSERT_NE(focused, nullptr);
    // A tab bar stands for its tab widget.
    QWidget* named = qobject_cast<QTabBar*>(focused) != nullptr ? focused->parentWidget() : focused;
    visited.push_back(named->objectName().toStdString());
    QTest::keyClick(focused, Qt::Key_Tab);
  }
  EXPECT_EQ(visited, expected);
}

}  // namespace
}  // namespace vantrel
