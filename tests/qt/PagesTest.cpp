// The pages of the main window: every control is there under its name with
// its caption, every note and link is shown, and what the user does on a
// page reaches the control's handler.
#include <gtest/gtest.h>

#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QTabWidget>
#include <QTableView>
#include <QTreeView>
#include <QTest>
#include <memory>

#include "app/MainWindow.h"
#include "app/WindowCommands.h"
#include "app/qt/LogView.h"
#include "app/qt/Pages.h"
#include "model/ProxyTables.h"
#include "tests/support/ScratchFolder.h"
#include "tests/support/ScriptedUserInterface.h"

namespace vantrel {
namespace {

class PagesTest : public ::testing::Test {
 protected:
  void SetUp() override {
    pages.reset(BuildPages(window, nullptr));
    pages->resize(900, 650);
    pages->show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(pages.get()));
  }

  template <class T>
  T* Find(const QString& name) const {
    T* widget = pages->findChild<T*>(name);
    EXPECT_NE(widget, nullptr) << name.toStdString();
    return widget;
  }
  // Shows the page that holds the widget, as a user would before clicking.
  void Reveal(QWidget* widget) {
    for (QWidget* at = widget; at != nullptr; at = at->parentWidget()) {
      if (auto* tabs = qobject_cast<QTabWidget*>(
              at->parentWidget() != nullptr ? at->parentWidget()->parentWidget() : nullptr)) {
        tabs->setCurrentWidget(at);
      }
    }
  }
  // A check box takes clicks on its box and caption only, not on the empty
  // width a layout gives it.
  void Click(QAbstractButton* button) {
    Reveal(button);
    const QPoint at = qobject_cast<QCheckBox*>(button) != nullptr ? QPoint(8, button->height() / 2)
                                                                  : button->rect().center();
    QTest::mouseClick(button, Qt::LeftButton, {}, at);
  }
  QStringList LabelTexts() const {
    QStringList texts;
    for (QLabel* label : pages->findChildren<QLabel*>()) texts << label->text();
    for (QGroupBox* box : pages->findChildren<QGroupBox*>()) texts << box->title();
    return texts;
  }
  static QStringList TabTexts(QTabWidget* tabs) {
    QStringList texts;
    for (int i = 0; i < tabs->count(); ++i) texts << tabs->tabText(i).remove(QLatin1Char('&'));
    return texts;
  }

  testsupport::ScratchFolder folder{"vantrel-pages"};
  // The autostart switch writes under the scratch folder, never the user's.
  struct ConfigHome {
    explicit ConfigHome(const std::filesystem::path& path)
        : had(qEnvironmentVariableIsSet("XDG_CONFIG_HOME")), before(qgetenv("XDG_CONFIG_HOME")) {
      qputenv("XDG_CONFIG_HOME", QByteArray::fromStdString(path.string()));
    }
    ~ConfigHome() {
      if (had) {
        qputenv("XDG_CONFIG_HOME", before);
      } else {
        qunsetenv("XDG_CONFIG_HOME");
      }
    }
    bool had;
    QByteArray before;
  } configHome{folder.Path()};
  TScriptedUserInterface ui;
  TfrmVantrelMain window{ui};
  std::unique_ptr<QTabWidget> pages;
};

TEST_F(PagesTest, PagesAndSubPagesInOrder) {
  EXPECT_EQ(TabTexts(pages.get()), (QStringList{"Configuration", "Traffic", "Logging", "About"}));
  EXPECT_EQ(TabTexts(Find<QTabWidget>("pgConfiguration")),
            (QStringList{"Proxy", "Proxy Client Connections", "Local LAN/Proxy Bypass",
                         "Blocked Hosts", "Tunnels"}));
}

TEST_F(PagesTest, EveryControlIsThereWithItsCaption) {
  struct Expected {
    const char* name;
    const char* type;
    const char* text;  // nullptr: the widget shows no caption of its own
  };
  const Expected controls[] = {
      {"edProxyPort", "QLineEdit", nullptr},
      {"jvdbCountry", "QComboBox", nullptr},
      {"cbStartAutomatically", "QCheckBox", "Start Proxy Automatically"},
      {"cbMinimize", "QCheckBox", "Minimize on Start"},
      {"cbAutostart", "QCheckBox", "Start Vantrel when I log in"},
      {"cbUnknownHosts", "QCheckBox",
       "Consider unknown hosts \"international\" until DNS result is returned"},
      {"DBGrid1", "QTableView", nullptr},
      {"btnAdd", "QPushButton", "Add"},
      {"btnEdit", "QPushButton", "Edit"},
      {"btnDelete", "QPushButton", "Delete"},
      {"cbIntCon", "QCheckBox", "HTTP (80):"},
      {"cbIntConSSL", "QCheckBox", "Secure (443):"},
      {"cbIntConOther", "QCheckBox", "All Others:"},
      {"cbLocalCon", "QCheckBox", "HTTP (80):"},
      {"cbLocalConSSL", "QCheckBox", "Secure (443):"},
      {"cbLocalConOTHER", "QCheckBox", "All Others:"},
      {"jvdbIntCon", "QComboBox", nullptr},
      {"jvdbIntConSSL", "QComboBox", nullptr},
      {"jvdbIntConOTHER", "QComboBox", nullptr},
      {"jvdbLocalCon", "QComboBox", nullptr},
      {"jvdbLocalConSSL", "QComboBox", nullptr},
      {"jvdbLocalConOTHER", "QComboBox", nullptr},
      {"cbAllowedConnections", "QCheckBox",
       "Only allow connections from the following IP addresses:"},
      {"memIncoming", "QPlainTextEdit", nullptr},
      {"cbBypass", "QCheckBox", "Bypass Next Hop Proxies for the following IP addresses:"},
      {"memBypass", "QPlainTextEdit", nullptr},
      {"cbBlock", "QCheckBox", "Block Connections to the following hosts:"},
      {"memBlockedHosts", "QPlainTextEdit", nullptr},
      {"DBGrid2", "QTableView", nullptr},
      {"btnAddTunnel", "QPushButton", "Add"},
      {"btnEditTunnel", "QPushButton", "Edit"},
      {"btnDeleteTunnel", "QPushButton", "Delete"},
      {"lblLocalBytesRTotal", "QLabel", "0"},
      {"lblLocalBytesSTotal", "QLabel", "0"},
      {"lblLocalBytesAllTotal", "QLabel", "0"},
      {"lblIntBytesRTotal", "QLabel", "0"},
      {"lblIntBytesSTotal", "QLabel", "0"},
      {"lblIntBytesAllTotal", "QLabel", "0"},
      {"cbShowLocalHosts", "QCheckBox", "Show Local Internet Hosts"},
      {"cbShowIntHosts", "QCheckBox", "Show International Internet Hosts"},
      {"lbLocal", "QTreeView", nullptr},
      {"lbInternational", "QTreeView", nullptr},
      {"cbLogging", "QCheckBox", "Log to Screen"},
      {"cbDebug", "QCheckBox", "Debug Mode"},
      {"cbWriteLog", "QCheckBox", "Log to Disk"},
      {"cbDetailedLog", "QCheckBox", "Detailed Log"},
      {"cbAutoScroll", "QCheckBox", "Auto Scroll"},
      {"btnClearLog", "QPushButton", "Clear Log"},
      {"memStatus", "vantrel::TLogView", nullptr},
      {"lblName", "QLabel", "Vantrel v0.05"},
      {"Button3", "QPushButton", nullptr},
  };
  for (const Expected& expected : controls) {
    SCOPED_TRACE(expected.name);
    auto* widget = pages->findChild<QWidget*>(QLatin1String(expected.name));
    ASSERT_NE(widget, nullptr);
    EXPECT_TRUE(widget->inherits(expected.type)) << widget->metaObject()->className();
    if (expected.text == nullptr) continue;
    if (auto* button = qobject_cast<QAbstractButton*>(widget)) {
      // The mnemonic's mark is only an underline.
      EXPECT_EQ(button->text().remove(QLatin1Char('&')), expected.text);
    } else if (auto* label = qobject_cast<QLabel*>(widget)) {
      EXPECT_EQ(label->text(), expected.text);
    }
  }
  // The twelve per-class figures exist and stay hidden.
  for (const char* name :
       {"lblLocalBytesRHTTP", "lblLocalBytesSOTHER", "lblIntBytesRSSL", "lblIntBytesSHTTP"}) {
    auto* label = Find<QLabel>(name);
    ASSERT_NE(label, nullptr);
    EXPECT_TRUE(label->isHidden()) << name;
  }
}

TEST_F(PagesTest, EveryCaptionNoteAndHelpTextIsShown) {
  const QStringList texts = LabelTexts();
  for (const char* text : {
           "Proxy Listens on Port:",
           "Local Country:",
           "International Internet Next Hop Proxies",
           "Local Internet Next Hop Proxies",
           "Type each IP address or range on a new line. e.g.:",
           "192.168.0.1-192.168.0.255 127.0.0.1",
           "(Note: Click on Save Changes after editing)",
           "Type each host name on a new line, or cut and paste from a 'HOSTS' file",
           "(Stop and Restart Proxy after making any changes to the Tunnel configuration)",
           "Local Internet",
           "International Internet",
           "Bytes Received",
           "Bytes Sent",
           "Total Bytes",
           "Local Hosts",
           "International Hosts",
           "(copy/extract GeoIPCountryWhois.csv file to the Vantrel folder)",
       }) {
    EXPECT_TRUE(texts.contains(QString::fromUtf8(text))) << text;
  }
  // Both address pages carry their help; the note is on all three list pages.
  EXPECT_EQ(texts.count("Type each IP address or range on a new line. e.g.:"), 2);
  EXPECT_EQ(texts.count("(Note: Click on Save Changes after editing)"), 3);
  // The note that recommends the unknown-hosts switch.
  bool recommended = false;
  for (const QString& text : texts) recommended |= text.contains("locks up or hangs");
  EXPECT_TRUE(recommended);
}

TEST_F(PagesTest, AboutShowsTheDataFolderLinksAndLinuxBrowserSettings) {
  EXPECT_EQ(Find<QLabel>("lblDataFolder")->text(), QString::fromStdString(folder.Path().string()));
  const QString guide = Find<QLabel>("lblBrowserGuide")->text();
  for (const char* part : {"Firefox", "Chromium", "GNOME", "KDE", "http_proxy=", "127.0.0.1"}) {
    EXPECT_TRUE(guide.contains(part)) << part;
  }
  EXPECT_TRUE(guide.contains("port 1080"));
  // The guide names the port the proxy is set to.
  window.controls.edProxyPort.SetText("8118");
  EXPECT_TRUE(Find<QLabel>("lblBrowserGuide")->text().contains("port 8118"));
  EXPECT_TRUE(Find<QLabel>("lblBrowserGuide")->text().contains("http://127.0.0.1:8118/proxy.pac"));
  EXPECT_FALSE(Find<QLabel>("lblBrowserGuide")->text().contains("1080"));

  for (const char* name :
       {"jvlWebsite", "jvlEmail", "jvlHostLists", "jvlHostLists2", "jvlCountryDatabase"}) {
    auto* link = Find<QLabel>(name);
    ASSERT_NE(link, nullptr);
    EXPECT_FALSE(link->text().isEmpty()) << name;
    EXPECT_EQ(link->textFormat(), Qt::PlainText) << name;
  }
}

TEST_F(PagesTest, LinksAndTheDonationButtonOpenTheirAddresses) {
  auto* website = Find<QLabel>("jvlWebsite");
  Reveal(website);
  QTest::mouseClick(website, Qt::LeftButton);
  auto* email = Find<QLabel>("jvlEmail");
  QTest::mouseClick(email, Qt::LeftButton);
  auto* hostLists = Find<QLabel>("jvlHostLists");
  Reveal(hostLists);
  hostLists->setFocus();
  QTest::keyClick(hostLists, Qt::Key_Return);
  Click(Find<QPushButton>("Button3"));
  ASSERT_EQ(ui.openedAddresses.size(), 4u);
  EXPECT_EQ(ui.openedAddresses[0], website->text().toStdString());
  EXPECT_EQ(ui.openedAddresses[1], MailAddress(email->text().toStdString()));
  EXPECT_NE(ui.openedAddresses[1].find("mailto:"), std::string::npos);
  EXPECT_EQ(ui.openedAddresses[2], hostLists->text().toStdString());
  EXPECT_FALSE(ui.openedAddresses[3].empty());
}

TEST_F(PagesTest, ProxyPageChangesReachTheirHandlers) {
  auto* save = &window.controls.btnSave;
  ASSERT_FALSE(save->Enabled());

  // A next-hop switch enables its selector and marks the change.
  auto* selector = Find<QComboBox>("jvdbIntConSSL");
  window.controls.cbIntConSSL.SetChecked(true);
  window.controls.cbIntConSSL.SetChecked(false);
  window.changes.SetChanged(false);
  EXPECT_FALSE(selector->isEnabled());
  Click(Find<QCheckBox>("cbIntConSSL"));
  EXPECT_TRUE(selector->isEnabled());
  EXPECT_TRUE(save->Enabled());

  window.changes.SetChanged(false);
  auto* port = Find<QLineEdit>("edProxyPort");
  port->selectAll();
  QTest::keyClicks(port, "3128");
  EXPECT_EQ(window.controls.edProxyPort.Text(), "3128");
  EXPECT_TRUE(save->Enabled());

  for (const char* name : {"cbStartAutomatically", "cbMinimize", "cbUnknownHosts"}) {
    window.changes.SetChanged(false);
    Click(Find<QCheckBox>(name));
    EXPECT_TRUE(save->Enabled()) << name;
  }

  // The autostart switch writes its desktop file and is no configuration
  // change.
  window.changes.SetChanged(false);
  const auto autostart = folder.Path() / "autostart";
  Click(Find<QCheckBox>("cbAutostart"));
  EXPECT_TRUE(window.controls.cbAutostart.Checked());
  EXPECT_TRUE(std::filesystem::exists(autostart / "vantrel.desktop"));
  EXPECT_FALSE(save->Enabled());
  Click(Find<QCheckBox>("cbAutostart"));
  EXPECT_FALSE(std::filesystem::exists(autostart / "vantrel.desktop"));

  // A proxy added through its button shows in the grid and the selectors.
  ui.proxyScripts.push_back([](TfrmProxyProperties& dialog) {
    dialog.dbProxyName.SetText("Upstream");
    dialog.dbProxyAddress.SetText("10.1.1.1");
    dialog.dbProxyPort.SetText("3128");
    dialog.Button1.Click();
  });
  Click(Find<QPushButton>("btnAdd"));
  EXPECT_EQ(Find<QTableView>("DBGrid1")->model()->rowCount(), 1);
  EXPECT_EQ(selector->findText("Upstream"), 1);
  // The user picks it.
  selector->setFocus();
  QTest::keyClick(selector, Qt::Key_Down);
  EXPECT_EQ(window.controls.jvdbIntConSSL.Value(),
            std::to_string(window.mtblProxy.IntegerAt(0, proxy_fields::ProxyID)));
}

TEST_F(PagesTest, ListPagesTunnelsTrafficAndLoggingReachTheirHandlers) {
  auto* save = &window.controls.btnSave;
  struct ListPage {
    const char* box;
    const char* memo;
    TMemo& control;
  };
  TMainControls& c = window.controls;
  for (const ListPage& page : {ListPage{"cbAllowedConnections", "memIncoming", c.memIncoming},
                               ListPage{"cbBypass", "memBypass", c.memBypass},
                               ListPage{"cbBlock", "memBlockedHosts", c.memBlockedHosts}}) {
    SCOPED_TRACE(page.memo);
    auto* box = Find<QCheckBox>(page.box);
    window.changes.SetChanged(false);
    Click(box);
    EXPECT_TRUE(save->Enabled());
    // Type with the list switched on: the blocked-host memo is disabled
    // while its switch is off.
    if (!box->isChecked()) Click(box);
    auto* memo = Find<QPlainTextEdit>(page.memo);
    ASSERT_TRUE(memo->isEnabled());
    window.changes.SetChanged(false);
    memo->moveCursor(QTextCursor::End);
    QTest::keyClick(memo, Qt::Key_Return);
    QTest::keyClicks(memo, "1.2.3.4");
    ASSERT_FALSE(page.control.Lines().empty());
    EXPECT_EQ(page.control.Lines().back(), "1.2.3.4");
    EXPECT_TRUE(save->Enabled());
  }

  ui.tunnelScripts.push_back([](TfrmTunnelProperties& dialog) {
    dialog.dbTunnelName.SetText("Mail");
    dialog.dbLocalPortNo.SetText("1993");
    dialog.dbRemoteHost.SetText("mail.example");
    dialog.dbRemotePortNo.SetText("993");
    dialog.Button1.Click();
  });
  Click(Find<QPushButton>("btnAddTunnel"));
  auto* tunnels = Find<QTableView>("DBGrid2");
  ASSERT_EQ(tunnels->model()->rowCount(), 1);
  EXPECT_EQ(tunnels->model()->index(0, 0).data().toString(), "Mail");
  EXPECT_EQ(tunnels->model()->headerData(4, Qt::Horizontal).toString(), "Enabled");

  // Traffic: the host-list switch hides the list with its box.
  window.controls.lbLocal.Add("local.example");
  Reveal(Find<QTreeView>("lbLocal"));
  EXPECT_EQ(Find<QTreeView>("lbLocal")->model()->rowCount(), 1);
  Click(Find<QCheckBox>("cbShowLocalHosts"));
  EXPECT_FALSE(window.controls.lbLocal.Visible());
  EXPECT_TRUE(Find<QGroupBox>("gb_lbLocal")->isHidden());
  Click(Find<QCheckBox>("cbShowLocalHosts"));
  EXPECT_FALSE(Find<QGroupBox>("gb_lbLocal")->isHidden());

  // Logging: the switches' shared handler and Clear Log.
  window.controls.cbLogging.SetChecked(true);
  window.controls.cbLogging.SetChecked(false);
  window.controls.cbWriteLog.SetChecked(false);
  EXPECT_FALSE(Find<QCheckBox>("cbDetailedLog")->isEnabled());
  Click(Find<QCheckBox>("cbLogging"));
  EXPECT_TRUE(Find<QCheckBox>("cbDetailedLog")->isEnabled());
  window.log.DoComment("a line", false);
  auto* log = Find<TLogView>("memStatus");
  log->Flush();
  EXPECT_EQ(log->RowCount(), 1);
  Click(Find<QPushButton>("btnClearLog"));
  EXPECT_EQ(window.memStatus.EntryCount(), 0u);
  EXPECT_EQ(log->RowCount(), 0);
  EXPECT_EQ(Find<QPushButton>("btnClearLog")->toolTip(),
            "Clears screen log (log file will remain)");
}

TEST_F(PagesTest, HidingAHostListMovesNeitherTheFiguresNorTheSwitch) {
  auto* figure = Find<QLabel>("lblLocalBytesAllTotal");
  auto* show = Find<QCheckBox>("cbShowLocalHosts");
  Reveal(show);
  QWidget* page = Find<QWidget>("tsTraffic");
  auto placeOf = [page](QWidget* widget) {
    QApplication::processEvents();
    return widget->mapTo(page, QPoint(0, 0));
  };
  const QPoint figureAt = placeOf(figure);
  const QPoint showAt = placeOf(show);
  Click(show);
  ASSERT_TRUE(Find<QGroupBox>("gb_lbLocal")->isHidden());
  EXPECT_EQ(placeOf(figure), figureAt);
  EXPECT_EQ(placeOf(show), showAt);
  // A second click at the same spot finds the switch again.
  Click(show);
  EXPECT_FALSE(Find<QGroupBox>("gb_lbLocal")->isHidden());
}

TEST_F(PagesTest, HostListsShowEachHostsBytesLargestFirst) {
  TMainControls& c = window.controls;
  for (const char* host : {"a.example", "b.example", "c.example", "d.example"}) c.lbLocal.Add(host);
  c.lbInternational.Add("far.example");
  window.counters.CountHostBytes("c.example", 1234567, false);
  window.counters.CountHostBytes("c.example", -3, false);
  window.counters.CountHostBytes("b.example", 900, false);
  window.counters.CountHostBytes("far.example", 10, true);
  auto* local = Find<QTreeView>("lbLocal");
  Reveal(local);
  auto rows = [](QTreeView* view) {
    std::vector<std::string> texts;
    for (int row = 0; row < view->model()->rowCount(); ++row) {
      texts.push_back(view->model()->index(row, 0).data().toString().toStdString() + " " +
                      view->model()->index(row, 1).data().toString().toStdString());
    }
    return texts;
  };
  EXPECT_EQ(local->model()->headerData(1, Qt::Horizontal).toString(), "Bytes");
  // Equal figures keep the list's order.
  EXPECT_EQ(rows(local), (std::vector<std::string>{"c.example 1,234,570", "b.example 900",
                                                   "a.example 0", "d.example 0"}));
  EXPECT_EQ(rows(Find<QTreeView>("lbInternational")),
            (std::vector<std::string>{"far.example 10"}));
  // New figures reach the shown list within its refresh.
  window.counters.CountHostBytes("d.example", 2000000, false);
  EXPECT_TRUE(QTest::qWaitFor([&] { return rows(local).front() == "d.example 2,000,000"; }, 3000));
  window.totals.ClearTotals1.Click();
  EXPECT_TRUE(QTest::qWaitFor([&] { return rows(local).front() == "a.example 0"; }, 3000));
}

TEST_F(PagesTest, TheGraphDrawsBothLinesOfTheLastSamples) {
  auto* graph = Find<QWidget>("TrafficGraph");
  Reveal(graph);
  for (int second = 0; second < 30; ++second) {
    window.counters.CountBytes(second % 2 == 0 ? 40000 : 0, 80, false);
    window.counters.CountBytes(20000, 443, true);
    window.history.Sample();
  }
  ASSERT_EQ(window.history.Count(), 30u);
  EXPECT_EQ(window.history.At(29).international, 20000);
  EXPECT_EQ(window.history.Peak(), 40000);
  const QImage image = graph->grab().toImage();
  int green = 0;
  int blue = 0;
  for (int y = 0; y < image.height(); ++y) {
    for (int x = image.width() / 2; x < image.width(); ++x) {
      if (y < image.height() / 5) break;  // the legend above the plot
      const QColor colour = image.pixelColor(x, y);
      green += colour.green() > 90 && colour.red() < 80 && colour.blue() < 80;
      blue += colour.blue() > 180 && colour.red() < 80 && colour.green() < 80;
    }
  }
  EXPECT_GT(green, 20);
  EXPECT_GT(blue, 20);
}

// Counts the paints a widget receives.
class PaintCounter : public QObject {
 public:
  explicit PaintCounter(QWidget* widget) { widget->installEventFilter(this); }
  int paints = 0;

 protected:
  bool eventFilter(QObject*, QEvent* event) override {
    if (event->type() == QEvent::Paint) ++paints;
    return false;
  }
};

TEST_F(PagesTest, TrafficFiguresRepaintOnlyWhenTheirTextChanges) {
  auto* received = Find<QLabel>("lblLocalBytesRTotal");
  PaintCounter counter(received);
  Reveal(received);
  // The page's first paint, after it was brought to the front.
  ASSERT_TRUE(QTest::qWaitFor([&] { return counter.paints > 0; }, 2000));
  // Settle: the page may paint again while its layout finishes.
  for (int round = 0; round < 50 && counter.paints > 0; ++round) {
    counter.paints = 0;
    QTest::qWait(20);
  }
  ASSERT_EQ(counter.paints, 0);
  for (int i = 0; i < 20; ++i) window.totals.ShowTotals();
  // A change of another attribute reaches the view, and the text stays.
  window.totals.lblLocalBytesRTotal.SetHint("received from local hosts");
  QApplication::processEvents();
  QApplication::processEvents();
  EXPECT_EQ(counter.paints, 0);
  EXPECT_EQ(received->text(), "0");

  window.counters.CountBytes(1234567, 80, false);
  window.totals.ShowTotals();
  EXPECT_TRUE(QTest::qWaitFor([&] { return counter.paints > 0; }, 2000));
  EXPECT_NE(received->text(), "0");
  EXPECT_TRUE(received->text().startsWith("1"));
  EXPECT_TRUE(received->text().endsWith("567"));
}

// One tick a second brings the figures, the lists and the graph up to date
// together, only while the page is on screen; hidden, the graph's samples
// go on, and the page catches up the moment it is shown again.
TEST_F(PagesTest, TheTrafficPageCatchesUpOnOneTickAndOnlyOnScreen) {
  TTrafficTotals& totals = window.totals;
  window.controls.lbLocal.Add("a.example");
  auto* total = Find<QLabel>("lblLocalBytesAllTotal");
  auto* list = Find<QTreeView>("lbLocal");
  auto* graph = Find<QWidget>("TrafficGraph");
  QWidget* page = Find<QWidget>("tsTraffic");
  Reveal(list);
  QApplication::processEvents();
  auto listed = [list] { return list->model()->index(0, 1).data().toString().toStdString(); };
  auto count = [&](int64_t bytes) {
    window.counters.CountBytes(bytes, 80, false);
    window.counters.CountHostBytes("a.example", bytes, false);
    totals.ShowTotals();
  };

  PaintCounter graphPaints(graph);
  size_t samples = window.history.Count();
  count(5000);
  ASSERT_TRUE(QTest::qWaitFor([&] { return total->text() != "0"; }, 3000));
  EXPECT_EQ(total->text().toStdString(), totals.FormatBytes(5000));
  EXPECT_EQ(listed(), totals.FormatBytes(5000));
  EXPECT_GT(window.history.Count(), samples);
  EXPECT_TRUE(QTest::qWaitFor([&] { return graphPaints.paints > 0; }, 1000));

  // Hidden: sampled, but neither figure nor list is touched.
  pages->setCurrentIndex(0);
  ASSERT_FALSE(page->isVisible());
  // A figure wider than the room the label starts with.
  const int64_t large = 1234567890123456789;
  count(large - 5000);
  samples = window.history.Count();
  ASSERT_TRUE(QTest::qWaitFor([&] { return window.history.Count() > samples; }, 3000));
  EXPECT_EQ(total->text().toStdString(), totals.FormatBytes(5000));
  EXPECT_EQ(listed(), totals.FormatBytes(5000));

  pages->setCurrentWidget(page);
  EXPECT_EQ(total->text().toStdString(), totals.FormatBytes(large));
  EXPECT_EQ(listed(), totals.FormatBytes(large));
  EXPECT_GE(total->width(), total->fontMetrics().horizontalAdvance(total->text()));

  // Cleared by the user: shown at once, not on the next tick.
  totals.ClearTotals1.Click();
  EXPECT_EQ(total->text().toStdString(), totals.FormatBytes(0));
}

TEST_F(PagesTest, PagesLetGoOfTheModelWhenDestroyed) {
  pages.reset();
  // Every control may change after its page went; nothing may be touched.
  window.controls.cbIntCon.SetChecked(true);
  window.controls.edProxyPort.SetText("1");
  window.controls.lbLocal.Add("x.example");
  window.totals.lblLocalBytesRTotal.SetCaption("5");
  window.log.DoComment("after", false);
  window.mtblProxy.Append();
  window.mtblProxy.SetString(proxy_fields::ProxyName, "late");
  window.mtblProxy.Post();
  EXPECT_EQ(window.controls.cbIntCon.Views().Count(), 0u);
  EXPECT_EQ(window.controls.jvdbIntCon.Views().Count(), 0u);
}

}  // namespace
}  // namespace vantrel
