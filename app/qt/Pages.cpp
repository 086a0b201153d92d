#include "app/qt/Pages.h"

#include <QCheckBox>
#include <QComboBox>
#include <QFontDatabase>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QMouseEvent>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QScrollArea>
#include <QTabWidget>
#include <QTableView>
#include <QVBoxLayout>
#include <functional>
#include <utility>

#include "app/MainWindow.h"
#include "app/qt/ControlBinding.h"
#include "app/qt/LogPage.h"
#include "app/qt/PageWidgets.h"
#include "app/qt/TrafficPage.h"
#include "app/qt/RecordTableModel.h"
#include "files/DataFolder.h"
#include "model/ProxyTables.h"
#include "model/TextNumbers.h"

namespace vantrel {

namespace {

// A label whose text is a web or mail address and that opens it when
// clicked or activated with the keyboard.
class TLinkLabel : public QLabel {
 public:
  TLinkLabel(QWidget* parent, std::function<void()> open) : QLabel(parent), open_(std::move(open)) {
    setCursor(Qt::PointingHandCursor);
    setFocusPolicy(Qt::StrongFocus);
    QFont underlined = font();
    underlined.setUnderline(true);
    setFont(underlined);
    QPalette colours = palette();
    colours.setColor(QPalette::WindowText, colours.color(QPalette::Link));
    setPalette(colours);
  }

 protected:
  void mouseReleaseEvent(QMouseEvent* event) override {
    if (event->button() == Qt::LeftButton && rect().contains(event->position().toPoint())) {
      open_();
      return;
    }
    QLabel::mouseReleaseEvent(event);
  }
  void keyPressEvent(QKeyEvent* event) override {
    if (event->key() == Qt::Key_Return || event->key() == Qt::Key_Enter ||
        event->key() == Qt::Key_Space) {
      open_();
      return;
    }
    QLabel::keyPressEvent(event);
  }

 private:
  std::function<void()> open_;
};

QLabel* CaptionOf(TControl& control, QWidget* buddy, QWidget* parent) {
  auto* label = new QLabel(parent);
  BindCaption(label, control);
  label->setBuddy(buddy);
  return label;
}

// Add, Edit and Delete in a column beside a grid.
QWidget* GridWithButtons(QTableView* grid, TButton& add, TButton& edit, TButton& remove,
                         QWidget* parent) {
  auto* box = new QWidget(parent);
  auto* row = new QHBoxLayout(box);
  row->setContentsMargins(0, 0, 0, 0);
  row->addWidget(grid, 1);
  auto* buttons = new QVBoxLayout;
  for (TButton* button : {&add, &edit, &remove}) {
    buttons->addWidget(Bound<QPushButton>(*button, box));
  }
  buttons->addStretch(1);
  row->addLayout(buttons);
  return box;
}

QGroupBox* NextHopGroup(const QString& title, std::array<TCheckBox*, 3> switches,
                        std::array<TLookupCombo*, 3> selectors, std::array<char, 3> mnemonics,
                        QWidget* parent) {
  auto* group = new QGroupBox(title, parent);
  auto* grid = new QGridLayout(group);
  for (int i = 0; i < 3; ++i) {
    auto* box = Box(*switches[static_cast<size_t>(i)],
                    QLatin1Char(mnemonics[static_cast<size_t>(i)]), group);
    auto* combo = Bound<QComboBox>(*selectors[static_cast<size_t>(i)], group);
    combo->setMinimumContentsLength(20);
    combo->setSizeAdjustPolicy(QComboBox::AdjustToMinimumContentsLengthWithIcon);
    grid->addWidget(box, i, 0);
    grid->addWidget(combo, i, 1);
  }
  grid->setColumnStretch(1, 1);
  return group;
}

QWidget* ProxyPage(TfrmVantrelMain& window, QWidget* parent) {
  TMainControls& c = window.controls;
  auto* page = new QWidget(parent);
  page->setObjectName(QStringLiteral("tsProxy"));
  auto* layout = new QVBoxLayout(page);

  auto* top = new QGridLayout;
  auto* port = Bound<QLineEdit>(c.edProxyPort, page);
  port->setMaximumWidth(port->fontMetrics().averageCharWidth() * 10 + 12);
  top->addWidget(CaptionOf(c.edProxyPort, port, page), 0, 0);
  top->addWidget(port, 0, 1, Qt::AlignLeft);
  auto* country = Bound<QComboBox>(c.jvdbCountry, page);
  country->setMinimumContentsLength(24);
  country->setSizeAdjustPolicy(QComboBox::AdjustToMinimumContentsLengthWithIcon);
  auto* countryLabel = Text(QStringLiteral("Local Country:"), page);
  countryLabel->setBuddy(country);
  top->addWidget(countryLabel, 0, 2);
  top->addWidget(country, 0, 3);
  top->addWidget(Box(c.cbStartAutomatically, QLatin1Char('m'), page), 1, 0, 1, 2);
  top->addWidget(Box(c.cbMinimize, QLatin1Char('z'), page), 1, 2, 1, 2);
  top->addWidget(Box(c.cbAutostart, QLatin1Char('w'), page), 2, 0, 1, 4);
  top->setColumnStretch(1, 1);
  top->setColumnStretch(3, 2);
  layout->addLayout(top);

  auto* grid = new QTableView(page);
  BindGrid(grid, window.mtblProxy, c.DBGrid1,
           {{proxy_fields::ProxyName, "Proxy Name"},
            {proxy_fields::ProxyAddress, "Proxy Address"},
            {proxy_fields::ProxyPort, "Proxy Port"},
            {proxy_fields::NeedsAuthentication, "Auth Req"}});
  grid->setColumnWidth(0, grid->fontMetrics().averageCharWidth() * 22);
  grid->setColumnWidth(1, grid->fontMetrics().averageCharWidth() * 26);
  grid->setMinimumHeight(grid->verticalHeader()->defaultSectionSize() * 4);
  layout->addWidget(GridWithButtons(grid, c.btnAdd, c.btnEdit, c.btnDelete, page), 1);

  const auto switches = c.NextHopSwitches();
  const auto selectors = c.NextHopSelectors();
  auto* groups = new QHBoxLayout;
  groups->addWidget(NextHopGroup(QStringLiteral("International Internet Next Hop Proxies"),
                                 {switches[0], switches[1], switches[2]},
                                 {selectors[0], selectors[1], selectors[2]}, {'8', '4', 'h'},
                                 page));
  groups->addWidget(NextHopGroup(QStringLiteral("Local Internet Next Hop Proxies"),
                                 {switches[3], switches[4], switches[5]},
                                 {selectors[3], selectors[4], selectors[5]}, {'0', '3', 'r'},
                                 page));
  layout->addLayout(groups);

  layout->addWidget(Box(c.cbUnknownHosts, QLatin1Char('d'), page));
  layout->addWidget(Note(QStringLiteral("(Recommended if Vantrel locks up or hangs while it waits "
                                        "for the DNS results of unknown hosts)"),
                         page));
  return page;
}

// A list page: its switch, its memo and the help texts beside it.
QWidget* ListPage(const char* name, TCheckBox& box, char mnemonic, TMemo& memo,
                  const QStringList& help, QWidget* parent) {
  auto* page = new QWidget(parent);
  page->setObjectName(QLatin1String(name));
  auto* layout = new QVBoxLayout(page);
  layout->addWidget(Box(box, QLatin1Char(mnemonic), page));
  auto* row = new QHBoxLayout;
  auto* editor = Bound<QPlainTextEdit>(memo, page);
  editor->setLineWrapMode(QPlainTextEdit::NoWrap);
  editor->setFont(QFontDatabase::systemFont(QFontDatabase::FixedFont));
  editor->setTabChangesFocus(true);
  row->addWidget(editor, 1);
  auto* notes = new QVBoxLayout;
  for (const QString& text : help) notes->addWidget(Note(text, page));
  notes->addStretch(1);
  auto* side = new QWidget(page);
  side->setLayout(notes);
  side->setMaximumWidth(side->fontMetrics().averageCharWidth() * 36);
  row->addWidget(side);
  layout->addLayout(row, 1);
  return page;
}

const QString kSaveNote = QStringLiteral("(Note: Click on Save Changes after editing)");

QStringList AddressHelp() {
  return {QStringLiteral("Type each IP address or range on a new line. e.g.:"),
          QStringLiteral("192.168.0.1-192.168.0.255 127.0.0.1"), kSaveNote};
}

// A link label bound to its control; a click is the control's click.
TLinkLabel* Link(TLabel& control, QWidget* parent) {
  auto* link = new TLinkLabel(parent, [&control] { control.Click(); });
  Bind(link, control);
  return link;
}

void AddBlockedHostsLink(TfrmVantrelMain& window, QWidget* page) {
  auto* row = new QHBoxLayout;
  row->addWidget(Text(QStringLiteral("Host lists to block:"), page));
  row->addWidget(Link(window.controls.jvlHostLists, page));
  row->addStretch(1);
  static_cast<QVBoxLayout*>(page->layout())->addLayout(row);
}

// How to point a browser at the proxy, for the desktops this runs on.
QString BrowserGuide(const std::string& portText) {
  const auto parsed = ParseInt32(portText);
  const QString port = parsed && *parsed >= 1 && *parsed <= 65535 ? QString::number(*parsed)
                                                                  : QStringLiteral("1080");
  return QStringLiteral(
             "Vantrel listens on this computer, address 127.0.0.1, port %1 (\"Proxy Listens on "
             "Port:\" on the Proxy page). Point your programs there:\n"
             "\u2022 Firefox: Settings, General, Network Settings, Settings\u2026; choose "
             "\"Manual proxy configuration\", HTTP Proxy 127.0.0.1, Port %1, and check \"Also use "
             "this proxy for HTTPS\".\n"
             "\u2022 Chromium and Google Chrome use the system proxy below; or start them with "
             "--proxy-server=127.0.0.1:%1\n"
             "\u2022 GNOME: Settings, Network, Network Proxy; choose \"Manual\", HTTP Proxy and "
             "HTTPS Proxy 127.0.0.1, port %1.\n"
             "\u2022 KDE Plasma: System Settings, Network, Settings, Proxy; choose \"Use manually "
             "specified proxy configuration\", HTTP and HTTPS proxy 127.0.0.1, port %1.\n"
             "\u2022 Terminal programs (curl, wget, apt, git): export "
             "http_proxy=http://127.0.0.1:%1 https_proxy=http://127.0.0.1:%1\n"
             "\u2022 Programs that speak SOCKS (ssh, git, chat programs): SOCKS5 or SOCKS4 proxy "
             "127.0.0.1, port %1.\n"
             "\u2022 Other computers on your network (their addresses on the allowed list): set "
             "\"Automatic proxy configuration URL\" (GNOME and KDE: \"Automatic\") to "
             "http://<this computer's address>:%1/proxy.pac; on this computer "
             "http://127.0.0.1:%1/proxy.pac")
      .arg(port);
}

QWidget* AboutPage(TfrmVantrelMain& window, QWidget* parent) {
  TMainControls& a = window.controls;
  auto* scroll = new QScrollArea(parent);
  scroll->setObjectName(QStringLiteral("tsAbout"));
  scroll->setWidgetResizable(true);
  scroll->setFrameShape(QFrame::NoFrame);
  auto* page = new QWidget(scroll);
  auto* layout = new QVBoxLayout(page);

  auto* name = Bound<QLabel>(a.lblName, page);
  QFont big = name->font();
  big.setPointSizeF(big.pointSizeF() * 1.6);
  big.setBold(true);
  name->setFont(big);
  layout->addWidget(name);

  auto* links = new QGridLayout;
  int row = 0;
  auto addLink = [&](const QString& caption, QWidget* link) {
    links->addWidget(Text(caption, page), row, 0);
    links->addWidget(link, row, 1, Qt::AlignLeft);
    ++row;
  };
  addLink(QStringLiteral("Web site:"), Link(a.jvlWebsite, page));
  addLink(QStringLiteral("E-mail:"), Link(a.jvlEmail, page));
  addLink(QStringLiteral("Host lists to block:"), Link(a.jvlHostLists2, page));
  addLink(QStringLiteral("Country database:"), Link(a.jvlCountryDatabase, page));
  links->addWidget(Note(QStringLiteral("(copy/extract GeoIPCountryWhois.csv file to the Vantrel "
                                       "folder)"),
                        page),
                   row++, 1);
  auto* folder = Text(QString::fromStdString(DataFolder().string()), page);
  folder->setObjectName(QStringLiteral("lblDataFolder"));
  folder->setTextInteractionFlags(Qt::TextSelectableByMouse);
  links->addWidget(Text(QStringLiteral("Vantrel folder:"), page), row, 0);
  links->addWidget(folder, row++, 1);
  links->setColumnStretch(1, 1);
  layout->addLayout(links);

  auto* guideBox = new QGroupBox(QStringLiteral("Using Vantrel from your web browser"), page);
  auto* guideLayout = new QVBoxLayout(guideBox);
  auto* guide = Note(QString(), guideBox);
  guide->setObjectName(QStringLiteral("lblBrowserGuide"));
  guide->setTextInteractionFlags(Qt::TextSelectableByMouse);
  TEdit& port = window.controls.edProxyPort;
  Follow(guide, port, [guide, &port] {
    const QString text = BrowserGuide(port.Text());
    if (guide->text() != text) guide->setText(text);
  });
  guideLayout->addWidget(guide);
  layout->addWidget(guideBox);

  auto* desktop = new QHBoxLayout;
  auto* useDesktop = Bound<QPushButton>(window.desktopProxy.btnUseForDesktop, page);
  desktop->addWidget(useDesktop);
  auto* desktopNote = Note(QStringLiteral("Sets this desktop's own proxy settings (for GNOME or "
                                          "KDE Plasma and the programs that follow them) to "
                                          "Vantrel; a second click puts the earlier ones back."),
                           page);
  // Note and button come and go together.
  Follow(desktopNote, window.desktopProxy.btnUseForDesktop, [desktopNote, &window] {
    desktopNote->setHidden(!window.desktopProxy.btnUseForDesktop.Visible());
  });
  desktop->addWidget(desktopNote, 1);
  guideLayout->addLayout(desktop);

  auto* donate = new QHBoxLayout;
  donate->addWidget(Note(QStringLiteral("Vantrel is free. If it is useful to you, please "
                                        "consider a donation towards its development."),
                         page),
                    1);
  donate->addWidget(Bound<QPushButton>(a.Button3, page));
  layout->addLayout(donate);
  layout->addStretch(1);
  scroll->setWidget(page);
  return scroll;
}

QWidget* TunnelsPage(TfrmVantrelMain& window, QWidget* parent) {
  TMainControls& c = window.controls;
  auto* page = new QWidget(parent);
  page->setObjectName(QStringLiteral("tsTunnels"));
  auto* layout = new QVBoxLayout(page);
  auto* grid = new QTableView(page);
  BindGrid(grid, window.mtblTunnels, c.DBGrid2,
           {{tunnel_fields::TunnelName, "Tunnel Name"},
            {tunnel_fields::LocalPortNo, "Local Port"},
            {tunnel_fields::RemoteHost, "Remote Host"},
            {tunnel_fields::RemotePortNo, "Remote Port"},
            {tunnel_fields::Enabled, "Enabled"}});
  grid->setColumnWidth(0, grid->fontMetrics().averageCharWidth() * 22);
  grid->setColumnWidth(2, grid->fontMetrics().averageCharWidth() * 26);
  layout->addWidget(GridWithButtons(grid, c.btnAddTunnel, c.btnEditTunnel, c.btnDeleteTunnel, page),
                    1);
  layout->addWidget(
      Note(QStringLiteral(
               "(Stop and Restart Proxy after making any changes to the Tunnel configuration)"),
           page));
  return page;
}

QWidget* ConfigurationPage(TfrmVantrelMain& window, QWidget* parent) {
  TMainControls& c = window.controls;
  auto* pages = new QTabWidget(parent);
  pages->setObjectName(QStringLiteral("pgConfiguration"));
  pages->addTab(ProxyPage(window, pages), WithMnemonic(QStringLiteral("Proxy"), QLatin1Char('p')));
  pages->addTab(ListPage("tsClientConnections", c.cbAllowedConnections, 'w', c.memIncoming,
                         AddressHelp(), pages),
                WithMnemonic(QStringLiteral("Proxy Client Connections"), QLatin1Char('i')));
  pages->addTab(ListPage("tsBypass", c.cbBypass, 'y', c.memBypass, AddressHelp(), pages),
                WithMnemonic(QStringLiteral("Local LAN/Proxy Bypass"), QLatin1Char('b')));
  QWidget* blocked = ListPage(
      "tsBlockedHosts", c.cbBlock, 'h', c.memBlockedHosts,
      {QStringLiteral("Type each host name on a new line, or cut and paste from a 'HOSTS' file"),
       kSaveNote},
      pages);
  // The tunnels' switch goes under the page's own.
  static_cast<QVBoxLayout*>(blocked->layout())
      ->insertWidget(1, Bound<QCheckBox>(c.cbBlockTunnels, blocked));
  AddBlockedHostsLink(window, blocked);
  pages->addTab(blocked, WithMnemonic(QStringLiteral("Blocked Hosts"), QLatin1Char('k')));
  pages->addTab(TunnelsPage(window, pages),
                WithMnemonic(QStringLiteral("Tunnels"), QLatin1Char('u')));
  return pages;
}

}  // namespace

QTabWidget* BuildPages(TfrmVantrelMain& window, QWidget* parent) {
  auto* pages = new QTabWidget(parent);
  pages->setObjectName(QStringLiteral("pgMain"));
  // Alt and the underlined letter: C, T, L, A; the main buttons take S, O,
  // V and N, so no page's own letters may use these.
  pages->addTab(ConfigurationPage(window, pages),
                WithMnemonic(QStringLiteral("Configuration"), QLatin1Char('c')));
  pages->addTab(TrafficPage(window, pages), WithMnemonic(QStringLiteral("Traffic"), QLatin1Char('t')));
  pages->addTab(new TLogPage(window, pages), WithMnemonic(QStringLiteral("Logging"), QLatin1Char('l')));
  pages->addTab(AboutPage(window, pages), WithMnemonic(QStringLiteral("About"), QLatin1Char('a')));
  return pages;
}

}  // namespace vantrel
