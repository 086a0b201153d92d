// The window shell with the real model: every button and menu item of the
// shell reaches its handler, start and stop show their texts and tray hints,
// the Close questions, a port in use, and the window without a tray host.

#include <gtest/gtest.h>

#include <QAction>
#include <QApplication>
#include <QContextMenuEvent>
#include <QLabel>
#include <QMenu>
#include <QMessageBox>
#include <QPushButton>
#include <QStatusBar>
#include <QSystemTrayIcon>
#include <QTest>
#include <QTimer>
#include <deque>
#include <filesystem>
#include <functional>
#include <memory>
#include <stdexcept>
#include <string>
#include <vector>

#include "app/qt/DesktopFrontEnd.h"
#include "app/qt/TrayIcon.h"
#include "tests/support/LoopbackPeer.h"
#include "tests/support/ScratchFolder.h"

namespace vantrel {
namespace {

// Answers the message boxes as they open, in order, and keeps their texts.
// A box with no answer left is answered No (closed), so a test never hangs.
class TBoxAnswers {
 public:
  TBoxAnswers() {
    timer_.setInterval(5);
    QObject::connect(&timer_, &QTimer::timeout, [this] { Answer(); });
    timer_.start();
  }
  void Push(QMessageBox::StandardButton answer) { answers_.push_back(answer); }
  // Runs while a box is open, before it is answered.
  std::function<void()> OnBox;
  const std::vector<std::string>& Texts() const { return texts_; }

 private:
  void Answer() {
    auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
    // Boxes on the stack may reuse one address: mark the one answered.
    if (box == nullptr || box->property("answered").toBool()) return;
    box->setProperty("answered", true);
    texts_.push_back(box->text().toStdString());
    if (OnBox) OnBox();
    QMessageBox::StandardButton answer = QMessageBox::No;
    if (!answers_.empty()) {
      answer = answers_.front();
      answers_.pop_front();
    }
    if (QAbstractButton* button = box->button(answer)) {
      button->click();
    } else {
      box->reject();
    }
  }

  QTimer timer_;
  std::deque<QMessageBox::StandardButton> answers_;
  std::vector<std::string> texts_;
};

// Terminate ends every Qt loop for good (modal boxes then return at once)
// until the application's own loop runs again: run it for one turn.
void ForgetTerminate() {
  QTimer::singleShot(0, QCoreApplication::instance(), [] { QCoreApplication::exit(0); });
  QCoreApplication::exec();
}

int FreePort() {
  int port = 0;
  testsupport::Fd fd = testsupport::BindWithoutListening(port);
  return port;
}

class DesktopTest : public testing::Test {
 protected:
  void Make(const std::string& ini = "[CONFIG]\n", bool trayHost = false) {
    folder.Write("proxy.ini", ini);
    desktop = std::make_unique<TDesktop>(net::EventLoop::Default());
    desktop->ui.OpenUrl = [this](const QUrl& url) {
      opened.push_back(url.toEncoded().toStdString());
      return true;
    };
    desktop->ui.Tray().HostAvailable = [this] { return trayHost_; };
    trayHost_ = trayHost;
    desktop->ui.Tray().CheckHost();
  }
  void TearDown() override {
    if (desktop) {
      desktop->Finish();
      desktop.reset();
    }
    ForgetTerminate();
    net::EventLoop::Default().RunUntil([] { return false; }, std::chrono::milliseconds(20));
  }

  TMainForm& Form() { return desktop->form; }
  TfrmVantrelMain& Window() { return desktop->window; }
  QPushButton* Button(const char* name) { return Form().findChild<QPushButton*>(name); }
  // A button's caption as read, without its mnemonic's mark.
  QString Caption(const char* name) { return Button(name)->text().remove(QLatin1Char('&')); }
  std::string Status() { return Window().controls.lblProxyStatus.Caption(); }
  QString Hint() { return desktop->ui.Tray().Icon()->toolTip(); }
  // Clicks a shell button as a user does and waits for its handler's work.
  void Click(const char* name) {
    QPushButton* button = Button(name);
    ASSERT_NE(button, nullptr) << name;
    QTest::mouseClick(button, Qt::LeftButton);
  }
  // "Start Proxy" on the port given, free a moment ago. Another process may
  // have taken it since: its error box (10048) is answered and the start is
  // tried again on another port.
  void ClickStart() {
    for (int attempt = 0; attempt < 20; ++attempt) {
      TBoxAnswers boxes;
      Click("btnStart");
      if (Status() == "ACTIVE" || boxes.Texts().empty() ||
          boxes.Texts().back().find("10048") == std::string::npos) {
        return;
      }
      Window().controls.edProxyPort.SetText(std::to_string(FreePort()));
    }
  }

  testsupport::ScratchFolder folder{"vantrel-desktop"};
  std::unique_ptr<TDesktop> desktop;
  std::vector<std::string> opened;
  bool trayHost_ = false;
};

TEST_F(DesktopTest, StartAndStopShowTheirTextsAndTrayHints) {
  Make();
  desktop->Start(FreePort());
  Form().show();
  EXPECT_EQ(Hint(), QStringLiteral("Vantrel initialising"));
  EXPECT_EQ(Form().windowTitle(), QStringLiteral("Vantrel v0.05"));
  ASSERT_NE(Button("btnStart"), nullptr);
  EXPECT_EQ(Caption("btnStart"), QStringLiteral("Start Proxy"));

  ClickStart();
  EXPECT_EQ(Status(), "ACTIVE");
  EXPECT_EQ(Hint(), QStringLiteral("Vantrel Active"));
  EXPECT_EQ(desktop->ui.Tray().State(), TTrayIcon::TState::Active);
  EXPECT_EQ(Caption("btnStart"), QStringLiteral("Stop Proxy"));
  auto* status = Form().findChild<QLabel*>("lblProxyStatus");
  ASSERT_NE(status, nullptr);
  EXPECT_EQ(status->text(), QStringLiteral("ACTIVE"));

  Click("btnStart");
  EXPECT_EQ(Status(), "INACTIVE");
  EXPECT_EQ(Hint(), QStringLiteral("Vantrel Stopped"));
  EXPECT_EQ(desktop->ui.Tray().State(), TTrayIcon::TState::Stopped);
  EXPECT_TRUE(QTest::qWaitFor([&] { return Caption("btnStart") == "Start Proxy"; }, 2000));
}

TEST_F(DesktopTest, APortInUseShowsTheErrorThreeWays) {
  int port = 0;
  testsupport::Fd taken = testsupport::ListenOnLoopback(port);
  Make("[CONFIG]\nProxyPort=" + std::to_string(port) + "\n");
  desktop->Start(std::nullopt);
  Form().show();
  TBoxAnswers answers;
  // Looking at another page: the port's page comes to the front after OK.
  Form().Pages()->setCurrentIndex(1);
  Click("btnStart");
  ASSERT_EQ(answers.Texts().size(), 1u);
  EXPECT_EQ(answers.Texts()[0].rfind("Error: ", 0), 0u) << answers.Texts()[0];
  EXPECT_NE(answers.Texts()[0].find("\nPort " + std::to_string(port) +
                                    " is used by another program. Choose another port on the "
                                    "Proxy page."),
            std::string::npos)
      << answers.Texts()[0];
  ASSERT_NE(Form().focusWidget(), nullptr);
  EXPECT_EQ(Form().focusWidget()->objectName(), QStringLiteral("edProxyPort"));
  EXPECT_TRUE(Form().focusWidget()->isVisible());
  EXPECT_EQ(Status(), "ERROR");
  EXPECT_TRUE(Hint().startsWith(QStringLiteral("ERROR: "))) << Hint().toStdString();
  EXPECT_EQ(desktop->ui.Tray().State(), TTrayIcon::TState::Error);
  EXPECT_EQ(Caption("btnStart"), QStringLiteral("Start Proxy"));
  // The window's own icon tells the state too.
  EXPECT_EQ(Form().windowIcon().pixmap(32).toImage(),
            TTrayIcon::IconFor(TTrayIcon::TState::Error).pixmap(32).toImage());
}

TEST_F(DesktopTest, TheTrayMenuStartsAndStopsAndShowsTheStatus) {
  const int port = FreePort();
  Make();
  desktop->Start(port);
  TTrayIcon& tray = desktop->ui.Tray();
  const std::string on = " on port " + std::to_string(port);
  EXPECT_FALSE(tray.StatusAction()->isEnabled());
  EXPECT_EQ(tray.Menu()->actions().first(), tray.StatusAction());
  EXPECT_EQ(tray.StatusAction()->text().toStdString(), "Vantrel: INACTIVE" + on);
  EXPECT_EQ(tray.StartAction()->text(), QStringLiteral("Start Proxy"));
  tray.StartAction()->trigger();
  EXPECT_EQ(Status(), "ACTIVE");
  EXPECT_EQ(tray.StatusAction()->text().toStdString(), "Vantrel: ACTIVE" + on);
  EXPECT_EQ(tray.StartAction()->text(), QStringLiteral("Stop Proxy"));
  tray.StartAction()->trigger();
  EXPECT_EQ(Status(), "INACTIVE");
  EXPECT_TRUE(QTest::qWaitFor([&] { return tray.StartAction()->text() == "Start Proxy"; }, 2000));
}

TEST_F(DesktopTest, AnUnreadableConfigurationLeavesALineInTheStatusBar) {
  Make();
  // A folder where the file should be cannot be read, whoever runs this.
  std::filesystem::remove(folder.Path() / "proxy.ini");
  std::filesystem::create_directory(folder.Path() / "proxy.ini");
  TBoxAnswers answers;
  desktop->Start(FreePort());
  Form().show();
  auto* line = Form().findChild<QLabel*>(QStringLiteral("StatusBarProblem"));
  ASSERT_NE(line, nullptr);
  EXPECT_TRUE(line->isVisible());
  EXPECT_TRUE(line->text().startsWith(QStringLiteral("proxy.ini could not be read: ")))
      << line->text().toStdString();
  EXPECT_TRUE(
      line->text().endsWith(QStringLiteral(". Showing defaults; they will not be saved over it.")))
      << line->text().toStdString();
  // It lasts until a load works.
  Window().controls.cbUnknownHosts.SetChecked(!Window().controls.cbUnknownHosts.Checked());
  EXPECT_TRUE(line->isVisible());
  std::filesystem::remove(folder.Path() / "proxy.ini");
  folder.Write("proxy.ini", "[CONFIG]\n");
  Click("btnCancel");
  EXPECT_FALSE(line->isVisible());
}

TEST_F(DesktopTest, TheStatusBarCountsConnectedClients) {
  Make();
  desktop->Start(FreePort());
  Form().show();
  ClickStart();
  ASSERT_EQ(Status(), "ACTIVE");
  QLabel* count = nullptr;
  for (QLabel* label : Form().statusBar()->findChildren<QLabel*>()) {
    if (label->objectName() == QStringLiteral("StatusBarConnections")) count = label;
  }
  ASSERT_NE(count, nullptr);
  EXPECT_EQ(count->text(), QStringLiteral("0"));
  {
    testsupport::Fd client = testsupport::ConnectToLoopback(Window().Proxy1.Port());
    EXPECT_TRUE(QTest::qWaitFor([&] { return count->text() == QStringLiteral("1"); }, 3000));
  }
  EXPECT_TRUE(QTest::qWaitFor([&] { return count->text() == QStringLiteral("0"); }, 3000));
}

TEST_F(DesktopTest, AFailedAutomaticStartWhileHiddenIsANotification) {
  int port = 0;
  testsupport::Fd taken = testsupport::ListenOnLoopback(port);
  Make("[CONFIG]\nProxyPort=" + std::to_string(port) +
       "\nStartAutomatically=1\nStartMinimized=1\n");
  TBoxAnswers answers;
  desktop->Start(std::nullopt);
  EXPECT_EQ(Status(), "ERROR");
  EXPECT_TRUE(desktop->ui.LastNotification().contains(QStringLiteral("could not start")))
      << desktop->ui.LastNotification().toStdString();
}

TEST_F(DesktopTest, CloseAsksItsQuestionsAndEndsOnlyWhenAllowed) {
  struct Case {
    const char* name;
    std::vector<QMessageBox::StandardButton> answers;
    std::vector<std::string> questions;
    bool ends;
    bool saved;
  };
  const std::string active = "Proxy is active - closing will disable it. Are you sure?";
  const std::string changed = "Configuration has changed - save it before closing?";
  const std::string last = "Configuration was changed - save before closing?";
  const std::vector<Case> cases = {
      {"No to the active proxy", {QMessageBox::No}, {active}, false, false},
      {"Yes, then save", {QMessageBox::Yes, QMessageBox::Yes}, {active, changed}, true, true},
      {"Yes, no save, asked once more, no",
       {QMessageBox::Yes, QMessageBox::No, QMessageBox::No},
       {active, changed, last},
       true,
       false},
      {"Yes, no save, then save at the last question",
       {QMessageBox::Yes, QMessageBox::No, QMessageBox::Yes},
       {active, changed, last},
       true,
       true},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    Make();
    desktop->Start(FreePort());
    Form().show();
    ClickStart();
    ASSERT_EQ(Status(), "ACTIVE");
    Window().controls.cbUnknownHosts.SetChecked(!Window().controls.cbUnknownHosts.Checked());
    ASSERT_TRUE(Window().changes.IsChanged());
    const std::string before = folder.Read("proxy.ini");
    TBoxAnswers answers;
    for (auto a : c.answers) answers.Push(a);
    Click("Button1");
    EXPECT_EQ(answers.Texts(), c.questions);
    EXPECT_EQ(desktop->ui.Terminating(), c.ends);
    EXPECT_EQ(folder.Read("proxy.ini") != before, c.saved);
    EXPECT_EQ(Status(), "ACTIVE") << "closing stops nothing by itself";
    desktop->Finish();
    desktop.reset();
    ForgetTerminate();
  }
}

TEST_F(DesktopTest, CloseFromTheTrayWhileItsQuestionIsOpenAsksNothingMore) {
  Make();
  desktop->Start(FreePort());
  Form().show();
  ClickStart();
  ASSERT_EQ(Status(), "ACTIVE");
  TBoxAnswers answers;
  int reentries = 0;
  answers.OnBox = [&] {
    if (reentries++ == 0) desktop->ui.Tray().CloseAction()->trigger();
  };
  answers.Push(QMessageBox::No);
  Click("Button1");
  EXPECT_EQ(answers.Texts(),
            (std::vector<std::string>{"Proxy is active - closing will disable it. Are you sure?"}));
  EXPECT_FALSE(desktop->ui.Terminating());
  EXPECT_EQ(Status(), "ACTIVE");
}

TEST_F(DesktopTest, TheWindowComesBackWhereItWas) {
  Make();
  desktop->Start(FreePort());
  Form().show();
  Form().resize(960, 700);
  ASSERT_TRUE(QTest::qWaitFor([&] { return Form().size() == QSize(960, 700); }, 2000));
  Form().SaveGeometry();
  desktop->Finish();
  desktop.reset();
  Make();
  desktop->Start(FreePort());
  EXPECT_EQ(Form().size(), QSize(960, 700));
}

TEST_F(DesktopTest, EachDataFolderKeepsItsOwnWindowPlace) {
  auto placeWindow = [&](QSize size) {
    Make();
    desktop->Start(FreePort());
    Form().show();
    Form().resize(size);
    ASSERT_TRUE(QTest::qWaitFor([&] { return Form().size() == size; }, 2000));
    Form().SaveGeometry();
    desktop->Finish();
    desktop.reset();
  };
  placeWindow(QSize(960, 700));
  {
    testsupport::ScratchFolder other("vantrel-desktop-other");
    placeWindow(QSize(1000, 740));
  }
  SetDataFolder(folder.Path());
  Make();
  desktop->Start(FreePort());
  EXPECT_EQ(Form().size(), QSize(960, 700));
}

TEST_F(DesktopTest, EveryShellButtonAndMenuItemReachesItsHandler) {
  Make("[CONFIG]\nProxyPort=" + std::to_string(FreePort()) + "\n");
  desktop->Start(std::nullopt);
  Form().show();
  ASSERT_TRUE(QTest::qWaitForWindowExposed(&Form()));
  auto& c = Window().controls;

  // The pop-up menu on a right click, and its three items.
  QMenu* menu = Form().PopupMenu();
  // On a label of the Traffic page: it passes the click on to the window.
  QWidget* target = Form().findChild<QLabel*>("lblIntBytesAllTotal");
  ASSERT_NE(target, nullptr);
  QContextMenuEvent event(QContextMenuEvent::Mouse, QPoint(2, 2),
                          target->mapToGlobal(QPoint(2, 2)));
  QApplication::sendEvent(target, &event);
  EXPECT_TRUE(QTest::qWaitFor([&] { return menu->isVisible(); }, 1000));
  menu->hide();
  std::vector<std::string> items;
  for (QAction* action : menu->actions()) {
    items.push_back(action->isSeparator() ? "-" : action->text().toStdString());
  }
  EXPECT_EQ(items, (std::vector<std::string>{"Clear Totals", "-", "Clear Local Internet Hosts",
                                             "Clear International Internet Hosts"}));
  Window().counters.SentBytes[0][0] = 5000;
  Window().totals.ShowTotals();
  ASSERT_NE(Window().totals.lblLocalBytesAllTotal.Caption(), "0");
  menu->findChild<QAction*>("ClearTotals1")->trigger();
  EXPECT_EQ(Window().totals.lblLocalBytesAllTotal.Caption(), "0");
  c.lbLocal.Add("local.example");
  c.lbInternational.Add("far.example");
  Form().findChild<QAction*>("ClearLocalHosts1")->trigger();
  EXPECT_EQ(c.lbLocal.Count(), 0);
  EXPECT_EQ(c.lbInternational.Count(), 1);
  Form().findChild<QAction*>("ClearInternationalHosts1")->trigger();
  EXPECT_EQ(c.lbInternational.Count(), 0);

  // Save and Cancel: a changed port is written, a later change is undone.
  c.edProxyPort.SetText("8123");
  ASSERT_TRUE(Button("btnSave")->isEnabled());
  Click("btnSave");
  EXPECT_NE(folder.Read("proxy.ini").find("ProxyPort=8123"), std::string::npos);
  EXPECT_FALSE(Button("btnSave")->isEnabled());
  c.edProxyPort.SetText("8124");
  Click("btnCancel");
  EXPECT_EQ(c.edProxyPort.Text(), "8123");

  // The close box hides (iconifies without a tray); Restore shows again.
  Form().close();
  EXPECT_TRUE(Form().isMinimized());
  EXPECT_FALSE(desktop->ui.Terminating());
  desktop->ui.Tray().RestoreAction()->trigger();
  EXPECT_FALSE(Form().isMinimized());
  EXPECT_TRUE(Form().isVisible());
  // A single click on the icon restores too, as some panels send it.
  Form().showMinimized();
  Q_EMIT desktop->ui.Tray().Icon()->activated(QSystemTrayIcon::Trigger);
  EXPECT_FALSE(Form().isMinimized());

  // The tray menu's Close runs Close1Click: nothing running, nothing changed.
  TBoxAnswers answers;
  desktop->ui.Tray().CloseAction()->trigger();
  EXPECT_TRUE(answers.Texts().empty());
  EXPECT_TRUE(desktop->ui.Terminating());
}

TEST_F(DesktopTest, WithoutATrayTheWindowStaysReachable) {
  // "Minimize on Start": without a tray host the window starts iconified,
  // not hidden, and minimising or the close box iconify.
  Make("[CONFIG]\nStartMinimized=1\n");
  desktop->Start(FreePort());
  EXPECT_FALSE(desktop->ui.Tray().TrayMode());
  EXPECT_TRUE(Form().isVisible());
  EXPECT_TRUE(Form().isMinimized());
  desktop->ui.ShowApplication();
  EXPECT_FALSE(Form().isMinimized());
  Form().close();
  EXPECT_TRUE(Form().isVisible());
  EXPECT_TRUE(Form().isMinimized());

  // A tray host appears: the program switches to tray mode and the
  // iconified window goes to the tray.
  trayHost_ = true;
  desktop->ui.Tray().CheckHost();
  EXPECT_TRUE(desktop->ui.Tray().TrayMode());
  EXPECT_FALSE(Form().isVisible());
  desktop->ui.Tray().RestoreAction()->trigger();
  EXPECT_TRUE(Form().isVisible());
  Form().close();
  EXPECT_FALSE(Form().isVisible());
  EXPECT_FALSE(desktop->ui.Terminating());
}

TEST_F(DesktopTest, MinimisingHidesToTheTrayWhenThereIsOne) {
  Make("[CONFIG]\n", true);
  desktop->Start(FreePort());
  ASSERT_TRUE(desktop->ui.Tray().TrayMode());
  ASSERT_TRUE(Form().isVisible());
  Form().showMinimized();
  EXPECT_TRUE(QTest::qWaitFor([&] { return !Form().isVisible(); }, 2000));
}

TEST_F(DesktopTest, ATrayHostThatWentAwayLeavesTheWindowOnTheTaskBar) {
  Make("[CONFIG]\n", true);
  desktop->Start(FreePort());
  ASSERT_TRUE(desktop->ui.Tray().TrayMode());
  trayHost_ = false;
  Form().showMinimized();
  QTest::qWait(50);
  EXPECT_TRUE(Form().isVisible());
  EXPECT_TRUE(Form().isMinimized());
  EXPECT_FALSE(desktop->ui.Tray().TrayMode());
  desktop->ui.ShowApplication();
  Form().close();
  EXPECT_TRUE(Form().isVisible());
  EXPECT_TRUE(Form().isMinimized());
  // The host comes back: the tray takes the window again.
  trayHost_ = true;
  desktop->ui.Tray().CheckHost();
  EXPECT_TRUE(desktop->ui.Tray().TrayMode());
  EXPECT_FALSE(Form().isVisible());
}

TEST_F(DesktopTest, ExceptionsFromQtAndFromTheLoopAreLoggedAndTheProgramGoesOn) {
  Make("[CONFIG]\nEnableLogging=1\n");
  desktop->Start(FreePort());
  bool later = false;
  QTimer::singleShot(0, [] { throw std::runtime_error("from a Qt timer"); });
  net::EventLoop::Default().Post([] { throw std::runtime_error("from a loop task"); });
  QTimer::singleShot(50, [&] { later = true; });
  ASSERT_TRUE(QTest::qWaitFor([&] { return later; }, 2000));
  std::string shown;
  for (const auto& entry : Window().memStatus.Entries()) shown += entry.text + "\n";
  EXPECT_NE(shown.find("EXCEPTION: from a Qt timer"), std::string::npos) << shown;
  EXPECT_NE(shown.find("EXCEPTION: from a loop task"), std::string::npos) << shown;
}

TEST_F(DesktopTest, LinksOpenTheirAddressOrShowItWhenNothingCanOpenIt) {
  Make();
  desktop->Start(FreePort());
  Window().controls.jvlEmail.Click();
  ASSERT_EQ(opened.size(), 1u);
  EXPECT_EQ(opened[0].rfind("mailto:", 0), 0u);
  EXPECT_NE(opened[0].find("Subject=Vantrel%20v0.05"), std::string::npos) << opened[0];

  desktop->ui.OpenUrl = [](const QUrl&) { return false; };
  TBoxAnswers answers;
  Window().controls.jvlWebsite.Click();
  ASSERT_EQ(answers.Texts().size(), 1u);
  EXPECT_NE(answers.Texts()[0].find(Window().controls.jvlWebsite.Caption()), std::string::npos);
}

}  // namespace
}  // namespace vantrel
