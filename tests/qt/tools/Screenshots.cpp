// Pictures of the window for the documentation: the program's own desktop
// front end on a sample data folder, with the proxy running and some traffic
// through it, every page and both record dialogs saved as PNG.
//
//   vantrel_screenshots DATA_DIR OUT_DIR ORIGIN_PORT
//
// scripts/screenshots.sh prepares the data folder and a loopback web server
// and runs this under xvfb-run. Loopback only; it stops by itself.

#include <QAbstractButton>
#include <QApplication>
#include <QDir>
#include <QProcess>
#include <QPushButton>
#include <QScreen>
#include <QTabWidget>
#include <QTableView>
#include <QTest>
#include <QTimer>
#include <cstdio>
#include <string>

#include "app/qt/Application.h"
#include "app/qt/DesktopFrontEnd.h"
#include "files/DataFolder.h"

namespace {

using namespace vantrel;

QTabWidget* SubPages(QWidget* page) {
  if (auto* tabs = qobject_cast<QTabWidget*>(page)) return tabs;
  return page->findChild<QTabWidget*>();
}

QString FileName(QString text) {
  text.remove(QLatin1Char('&'));  // a mnemonic's mark
  text = text.toLower();
  text.replace(QLatin1Char('/'), QLatin1Char('-'));
  text.replace(QLatin1Char(' '), QLatin1Char('-'));
  return text;
}

bool Save(QWidget* widget, const QDir& out, const QString& name) {
  QTest::qWait(150);  // let the log view's batch timer and repaints settle
  const bool ok = widget->grab().save(out.filePath(name + QStringLiteral(".png")));
  std::printf("%s %s.png\n", ok ? "saved" : "FAILED", name.toUtf8().constData());
  return ok;
}

// Opens a record dialog with its Edit button, grabs it, and cancels it.
bool ShootDialog(TMainForm& form, const char* grid, const char* button, const QDir& out,
                 const QString& name) {
  auto* table = form.findChild<QTableView*>(QString::fromLatin1(grid));
  auto* edit = form.findChild<QPushButton*>(QString::fromLatin1(button));
  if (table == nullptr || edit == nullptr) return false;
  table->selectRow(0);
  bool ok = false;
  QTimer::singleShot(300, [&] {
    QWidget* dialog = QApplication::activeModalWidget();
    if (dialog == nullptr) return;
    ok = Save(dialog, out, name);
    dialog->close();
  });
  edit->click();
  return ok;
}

void Traffic(int proxyPort, int originPort) {
  const QString proxy = QStringLiteral("http://127.0.0.1:%1").arg(proxyPort);
  for (int i = 0; i < 12; ++i) {
    QProcess curl;
    // Addresses only: no name of the traffic goes to a resolver.
    const QString host = QStringLiteral("127.0.0.%1").arg(1 + i % 3);
    curl.start(QStringLiteral("curl"),
               {QStringLiteral("-s"), QStringLiteral("-o"), QStringLiteral("/dev/null"),
                QStringLiteral("--max-time"), QStringLiteral("5"), QStringLiteral("--noproxy"),
                QString(), QStringLiteral("-x"), proxy,
                QStringLiteral("http://%1:%2/page%3.html").arg(host).arg(originPort).arg(i)});
    // Waiting in Qt's loop, so the proxy (served by the notifier) answers.
    if (!QTest::qWaitFor([&] { return curl.state() == QProcess::NotRunning; }, 6000)) curl.kill();
    // Spread over a few seconds, so the graph has a shape.
    QTest::qWait(400);
  }
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 4) {
    std::fprintf(stderr, "usage: vantrel_screenshots DATA_DIR OUT_DIR ORIGIN_PORT\n");
    return 2;
  }
  SetDataFolder(argv[1]);
  const QDir out(QString::fromLocal8Bit(argv[2]));
  const int originPort = std::stoi(argv[3]);

  TApplication app(argc, argv);
  QCoreApplication::setOrganizationName(QStringLiteral("vantrel-screenshots"));
  QApplication::setQuitOnLastWindowClosed(false);
  TDesktop desktop(net::EventLoop::Default());
  desktop.Start(std::nullopt);
  TMainForm& form = desktop.form;
  form.resize(900, 660);
  desktop.ui.ShowApplication();
  if (!QTest::qWaitForWindowExposed(&form)) return 1;
  if (!desktop.window.lifecycle.Running()) {
    std::fprintf(stderr, "the proxy did not start\n");
    return 1;
  }
  Traffic(desktop.window.Proxy1.Port(), originPort);

  int failures = 0;
  QTabWidget* pages = form.Pages();
  for (int i = 0; i < pages->count(); ++i) {
    pages->setCurrentIndex(i);
    const QString page = FileName(pages->tabText(i));
    QTabWidget* sub = SubPages(pages->widget(i));
    if (sub == nullptr) {
      failures += !Save(&form, out, page);
      continue;
    }
    for (int j = 0; j < sub->count(); ++j) {
      sub->setCurrentIndex(j);
      failures += !Save(&form, out, page + QLatin1Char('-') + FileName(sub->tabText(j)));
    }
    sub->setCurrentIndex(0);
  }
  // The main picture: the first page, as the program opens.
  pages->setCurrentIndex(0);
  failures += !Save(&form, out, QStringLiteral("main"));

  // The dialogs sit on their pages: Configuration/Proxy and .../Tunnels.
  pages->setCurrentIndex(0);
  QTabWidget* sub = SubPages(pages->widget(0));
  if (sub != nullptr) sub->setCurrentIndex(0);
  failures +=
      !ShootDialog(form, "DBGrid1", "btnEdit", out, QStringLiteral("dialog-proxy-properties"));
  if (sub != nullptr) sub->setCurrentIndex(sub->count() - 1);
  failures += !ShootDialog(form, "DBGrid2", "btnEditTunnel", out,
                           QStringLiteral("dialog-tunnel-properties"));

  desktop.Finish();
  return failures == 0 ? 0 : 1;
}
