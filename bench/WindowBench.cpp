// What the desktop window costs, both in one run:
//  1. relay rate through the proxy (a CONNECT tunnel on loopback) with the
//     window open on the Logging page and "Log to Screen" on, against the
//     same program without a window;
//  2. CPU of the screen log at 1,000 lines per second with its view shown,
//     against the same lines with no view;
//  3. CPU of the Traffic page shown (its graph full, 200 hosts in each
//     list, figures moving every second) against another page shown.
//
//   window_bench [MiB]     (default 512 per relay run; every run stops by
//                           itself after 60 s)
//   window_bench traffic   (only the Traffic page's share, for repeated runs)
//
// Run it under xvfb-run for a real X server, or with QT_QPA_PLATFORM=offscreen.

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <unistd.h>

#include <QEventLoop>
#include <QTabWidget>
#include <QTest>
#include <QTimer>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "app/HeadlessFrontEnd.h"
#include "app/MainWindow.h"
#include "app/qt/Application.h"
#include "app/qt/DesktopFrontEnd.h"
#include "bench/LoopbackSockets.h"
#include "files/DataFolder.h"

namespace {

using namespace vantrel;
using Clock = std::chrono::steady_clock;

constexpr size_t kChunk = 64 * 1024;
const auto kCap = std::chrono::seconds(60);

int FreePort() {
  int port = 0;
  ::close(ListenLoopback(port));
  return port;
}

// With time limits, so that a stalled transfer ends the bench.
int Connect(int port) {
  const int fd = ConnectLoopback(port);
  timeval limit{static_cast<time_t>(kCap.count()), 0};
  setsockopt(fd, SOL_SOCKET, SO_RCVTIMEO, &limit, sizeof limit);
  setsockopt(fd, SOL_SOCKET, SO_SNDTIMEO, &limit, sizeof limit);
  return fd;
}

double CpuSeconds() {
  rusage use{};
  getrusage(RUSAGE_SELF, &use);
  return use.ru_utime.tv_sec + use.ru_stime.tv_sec +
         (use.ru_utime.tv_usec + use.ru_stime.tv_usec) / 1e6;
}

// One tunnel through the proxy to a loopback sink: MiB/s at the sink, or a
// negative number when the transfer did not finish in time.
struct TRelay {
  std::atomic<bool> done{false};
  std::atomic<size_t> received{0};
  double seconds = -1;
  std::thread sink, source;

  void Start(int proxyPort, size_t bytes) {
    int sinkPort = 0;
    const int listener = ListenLoopback(sinkPort);
    sink = std::thread([this, listener] {
      const int fd = accept(listener, nullptr, nullptr);
      ::close(listener);
      timeval limit{static_cast<time_t>(kCap.count()), 0};
      setsockopt(fd, SOL_SOCKET, SO_RCVTIMEO, &limit, sizeof limit);
      std::vector<char> buffer(kChunk);
      for (;;) {
        const ssize_t n = ::read(fd, buffer.data(), buffer.size());
        if (n <= 0) break;
        received += static_cast<size_t>(n);
      }
      ::close(fd);
    });
    source = std::thread([this, proxyPort, sinkPort, bytes] {
      const int fd = Connect(proxyPort);
      const std::string request = "CONNECT 127.0.0.1:" + std::to_string(sinkPort) +
                                  " HTTP/1.1\r\nHost: 127.0.0.1:" + std::to_string(sinkPort) +
                                  "\r\n\r\n";
      if (::write(fd, request.data(), request.size()) < 0) std::perror("write");
      std::string answer;
      char c;
      while (answer.find("\r\n\r\n") == std::string::npos && ::read(fd, &c, 1) == 1) answer += c;
      if (answer.find(" 200") == std::string::npos) {
        std::fprintf(stderr, "the proxy refused the tunnel: %s\n", answer.c_str());
        ::close(fd);
        done = true;
        return;
      }
      std::vector<char> block(kChunk, 'x');
      const auto start = Clock::now();
      size_t sent = 0;
      while (sent < bytes && Clock::now() - start < kCap) {
        const ssize_t n = ::write(fd, block.data(), std::min(block.size(), bytes - sent));
        if (n <= 0) break;
        sent += static_cast<size_t>(n);
      }
      while (received < sent && Clock::now() - start < kCap) std::this_thread::yield();
      if (received >= bytes) {
        seconds = std::chrono::duration<double>(Clock::now() - start).count();
      }
      ::shutdown(fd, SHUT_RDWR);
      ::close(fd);
      done = true;
    });
  }
  void Join() {
    source.join();
    sink.join();
  }
};

void WriteConfig(const std::filesystem::path& folder, int port) {
  // Screen logging on, every client allowed, no start of its own.
  std::ofstream(folder / "proxy.ini")
      << "[CONFIG]\nProxyPort=" << port << "\nEnableLogging=1\nAllowedConnections=0\n";
}

double RelayHeadless(size_t bytes) {
  THeadlessUserInterface ui;
  auto& loop = net::EventLoop::Default();
  double mibs = -1;
  {
    TfrmVantrelMain window(ui);
    WriteConfig(DataFolder(), FreePort());
    window.FormCreate();
    window.StartProxy();
    TRelay relay;
    relay.Start(window.Proxy1.Port(), bytes);
    loop.RunUntil([&] { return relay.done.load(); }, kCap + std::chrono::seconds(5));
    relay.Join();
    if (relay.seconds > 0) mibs = bytes / 1048576.0 / relay.seconds;
  }
  loop.RunUntil([] { return false; }, std::chrono::milliseconds(50));
  return mibs;
}

// Qt's own loop, as app.exec() runs it, for ms: nothing of the bench's own
// wakes it meanwhile.
void RunQtFor(int ms) {
  QEventLoop loop;
  QTimer::singleShot(ms, &loop, &QEventLoop::quit);
  loop.exec();
}

// Qt's own loop, as app.exec() runs it, until done() or the time is up.
// (QTest::qWaitFor would sleep 10 ms between its rounds.)
bool RunQtUntil(const std::function<bool()>& done, int limitMs) {
  QEventLoop loop;
  QTimer check;
  QObject::connect(&check, &QTimer::timeout, &loop, [&] {
    if (done()) loop.quit();
  });
  check.start(5);
  QTimer::singleShot(limitMs, &loop, &QEventLoop::quit);
  if (!done()) loop.exec();
  return done();
}

void ShowPage(TDesktop& desktop, const QString& name) {
  QTabWidget* pages = desktop.form.Pages();
  for (int i = 0; i < pages->count(); ++i) {
    if (pages->tabText(i).remove(QLatin1Char('&')) == name) pages->setCurrentIndex(i);
  }
}

void ShowLoggingPage(TDesktop& desktop) {
  ShowPage(desktop, QStringLiteral("Logging"));
  desktop.ui.ShowApplication();
  if (!QTest::qWaitForWindowExposed(&desktop.form))
    std::fprintf(stderr, "the window was not shown\n");
}

double RelayWindow(size_t bytes) {
  auto& loop = net::EventLoop::Default();
  double mibs = -1;
  {
    TDesktop desktop(loop);
    WriteConfig(DataFolder(), FreePort());
    desktop.Start(std::nullopt);
    ShowLoggingPage(desktop);
    desktop.window.StartProxy();
    TRelay relay;
    relay.Start(desktop.window.Proxy1.Port(), bytes);
    if (!RunQtUntil([&] { return relay.done.load(); },
                    static_cast<int>((kCap.count() + 5) * 1000))) {
      std::fprintf(stderr, "the relay did not finish\n");
    }
    relay.Join();
    if (relay.seconds > 0) mibs = bytes / 1048576.0 / relay.seconds;
    desktop.Finish();
  }
  loop.RunUntil([] { return false; }, std::chrono::milliseconds(50));
  return mibs;
}

// 1,000 lines a second for a few seconds, ten lines every 10 ms from a loop
// timer: the share of one core the process used meanwhile.
double LogCpu(TfrmVantrelMain& window, const std::function<void(int)>& waitMs) {
  auto& loop = net::EventLoop::Default();
  constexpr int kSeconds = 5;
  int ticks = 0;
  std::function<void()> tick = [&] {
    for (int i = 0; i < 10; ++i) {
      window.log.DoComment("GET http://127.0.0.1:8080/bench/" + std::to_string(ticks * 10 + i) +
                               " HTTP/1.1 - 200 OK",
                           true);
    }
    if (++ticks < kSeconds * 100) loop.AddTimer(std::chrono::milliseconds(10), tick);
  };
  const double cpu0 = CpuSeconds();
  const auto start = Clock::now();
  loop.AddTimer(std::chrono::milliseconds(10), tick);
  while (ticks < kSeconds * 100 && Clock::now() - start < std::chrono::seconds(kSeconds * 3)) {
    waitMs(20);
  }
  const double wall = std::chrono::duration<double>(Clock::now() - start).count();
  return (CpuSeconds() - cpu0) / wall * 100.0;
}

// The process's share of one core over ten seconds with the named page
// shown, while every host's figure grows once a second.
double PageCpu(TDesktop& desktop, const QString& page) {
  ShowPage(desktop, page);
  RunQtFor(1500);
  TfrmVantrelMain& window = desktop.window;
  const double cpu0 = CpuSeconds();
  const auto start = Clock::now();
  for (int second = 0; second < 10; ++second) {
    for (int i = 0; i < 200; ++i) {
      window.counters.CountBytes(1000 + i, 80, false);
      window.counters.CountHostBytes("local" + std::to_string(i) + ".example", 1000 + i, false);
      window.counters.CountBytes(2000 + i, 443, true);
      window.counters.CountHostBytes("far" + std::to_string(i) + ".example", 2000 + i, true);
    }
    window.totals.ShowTotals();
    RunQtFor(1000);
  }
  const double wall = std::chrono::duration<double>(Clock::now() - start).count();
  return (CpuSeconds() - cpu0) / wall * 100.0;
}

// The Traffic page's share: another page shown, then the Traffic page.
struct TPageShares {
  double other = 0;
  double traffic = 0;
};

TPageShares TrafficPageShares() {
  TPageShares shares;
  TDesktop desktop(net::EventLoop::Default());
  WriteConfig(DataFolder(), FreePort());
  desktop.Start(std::nullopt);
  desktop.ui.ShowApplication();
  if (!QTest::qWaitForWindowExposed(&desktop.form)) std::fprintf(stderr, "no window\n");
  TfrmVantrelMain& window = desktop.window;
  for (int i = 0; i < 200; ++i) {
    window.controls.lbLocal.Add("local" + std::to_string(i) + ".example");
    window.controls.lbInternational.Add("far" + std::to_string(i) + ".example");
  }
  // Ten minutes of samples, so the graph draws every point.
  for (size_t i = 0; i < TTrafficHistory::kSamples; ++i) {
    window.counters.CountBytes(static_cast<int64_t>(1000 + i * 37 % 5000), 80, false);
    window.counters.CountBytes(static_cast<int64_t>(3000 + i * 53 % 7000), 443, true);
    window.history.Sample();
  }
  shares.other = PageCpu(desktop, QStringLiteral("Configuration"));
  shares.traffic = PageCpu(desktop, QStringLiteral("Traffic"));
  desktop.Finish();
  return shares;
}

void PrintPageShares(const TPageShares& shares) {
  std::printf("Traffic page, 200 hosts a list, figures moving every second, 10 s, share of one "
              "core:\n");
  std::printf("  Configuration page shown %.2f %%, Traffic page shown %.2f %%, the page costs "
              "%.2f %%\n",
              shares.other, shares.traffic, shares.traffic - shares.other);
}

}  // namespace

int main(int argc, char** argv) {
  const bool pageOnly = argc > 1 && std::string(argv[1]) == "traffic";
  size_t mib = 512;
  if (argc > 1 && !pageOnly) mib = static_cast<size_t>(std::strtoul(argv[1], nullptr, 10));
  if (mib == 0 || mib > 4096) mib = 512;
  const size_t bytes = mib * 1048576;

  char pattern[] = "/tmp/vantrel-window-bench-XXXXXX";
  if (mkdtemp(pattern) == nullptr) return 2;
  SetDataFolder(pattern);

  if (pageOnly) {
    TApplication app(argc, argv);
    QCoreApplication::setOrganizationName(QStringLiteral("vantrel-bench"));
    QApplication::setQuitOnLastWindowClosed(false);
    const TPageShares shares = TrafficPageShares();
    std::error_code ignored;
    std::filesystem::remove_all(pattern, ignored);
    PrintPageShares(shares);
    return 0;
  }

  const double headless = RelayHeadless(bytes);
  // The log's CPU without any view: the same lines, nobody showing them.
  double logHeadless = 0;
  {
    THeadlessUserInterface ui;
    TfrmVantrelMain window(ui);
    WriteConfig(DataFolder(), FreePort());
    window.FormCreate();
    auto& loop = net::EventLoop::Default();
    logHeadless = LogCpu(window, [&](int ms) {
      loop.RunUntil([] { return false; }, std::chrono::milliseconds(ms));
    });
  }

  TApplication app(argc, argv);
  QCoreApplication::setOrganizationName(QStringLiteral("vantrel-bench"));
  QApplication::setQuitOnLastWindowClosed(false);
  const double window = RelayWindow(bytes);
  double logWindow = 0;
  {
    TDesktop desktop(net::EventLoop::Default());
    WriteConfig(DataFolder(), FreePort());
    desktop.Start(std::nullopt);
    ShowLoggingPage(desktop);
    logWindow = LogCpu(desktop.window, [](int ms) { RunQtUntil([] { return false; }, ms); });
    desktop.Finish();
  }
  const TPageShares shares = TrafficPageShares();
  std::error_code ignored;
  std::filesystem::remove_all(pattern, ignored);

  std::printf("relay, %zu MiB through a CONNECT tunnel, Log to Screen on (platform %s):\n", mib,
              QGuiApplication::platformName().toUtf8().constData());
  std::printf("  headless %.0f MiB/s, window open %.0f MiB/s, ratio %.2f\n", headless, window,
              headless > 0 ? window / headless : 0.0);
  std::printf("screen log at 1,000 lines/s for 5 s, share of one core:\n");
  std::printf("  without a view %.1f %%, Logging page shown %.1f %%, the view costs %.1f %%\n",
              logHeadless, logWindow, logWindow - logHeadless);
  PrintPageShares(shares);
  return headless > 0 && window > 0 ? 0 : 1;
}
