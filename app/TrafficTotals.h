#pragma once
// The Traffic page: the six totals, the twelve hidden per-class figures,
// the host-list switches and the pop-up menu that clears totals and lists.

#include <array>
#include <cstdint>
#include <string>
#include <vector>

#include "model/ChangeTracker.h"
#include "model/Controls.h"
#include "model/MainControls.h"
#include "routing/TrafficCounters.h"

namespace vantrel {

struct THostRow {
  std::string host;
  int64_t bytes = 0;  // received plus sent
};

class TTrafficTotals {
 public:
  TTrafficTotals(TMainControls& controls, TTrafficCounters& counters, TChangeTracker& changes);

  TLabel lblLocalBytesRTotal{"lblLocalBytesRTotal", "0"};
  TLabel lblLocalBytesSTotal{"lblLocalBytesSTotal", "0"};
  TLabel lblLocalBytesAllTotal{"lblLocalBytesAllTotal", "0"};
  TLabel lblIntBytesRTotal{"lblIntBytesRTotal", "0"};
  TLabel lblIntBytesSTotal{"lblIntBytesSTotal", "0"};
  TLabel lblIntBytesAllTotal{"lblIntBytesAllTotal", "0"};
  // Hidden, and never written.
  TLabel lblLocalBytesRHTTP{"lblLocalBytesRHTTP", "0"};
  TLabel lblLocalBytesRSSL{"lblLocalBytesRSSL", "0"};
  TLabel lblLocalBytesROTHER{"lblLocalBytesROTHER", "0"};
  TLabel lblLocalBytesSHTTP{"lblLocalBytesSHTTP", "0"};
  TLabel lblLocalBytesSSSL{"lblLocalBytesSSSL", "0"};
  TLabel lblLocalBytesSOTHER{"lblLocalBytesSOTHER", "0"};
  TLabel lblIntBytesRHTTP{"lblIntBytesRHTTP", "0"};
  TLabel lblIntBytesRSSL{"lblIntBytesRSSL", "0"};
  TLabel lblIntBytesROTHER{"lblIntBytesROTHER", "0"};
  TLabel lblIntBytesSHTTP{"lblIntBytesSHTTP", "0"};
  TLabel lblIntBytesSSSL{"lblIntBytesSSSL", "0"};
  TLabel lblIntBytesSOTHER{"lblIntBytesSOTHER", "0"};

  // PopupMenu1: "Clear Totals", a separator, then the two host lists.
  TButton ClearTotals1{"ClearTotals1", "Clear Totals"};
  TButton ClearLocalHosts1{"ClearLocalHosts1", "Clear Local Internet Hosts"};
  TButton ClearInternationalHosts1{"ClearInternationalHosts1",
                                   "Clear International Internet Hosts"};

  void ShowTotals();
  void ClearTotals1Click(TControl& sender);
  void ClearLocalHosts1Click(TControl& sender);
  void ClearInternationalHosts1Click(TControl& sender);
  // Shared by cbShowLocalHosts and cbShowIntHosts.
  void cbShowLocalHostsClick(TControl& sender);

  // The page as text, three lines: the two groups' figures, then the twelve
  // counters as plain numbers.
  std::string TrafficPage() const;
  // Two lines, "Top local hosts: a.example 12,345,678; b.example 1,234" and
  // the same for international hosts: the ten with the most bytes, or
  // "none".
  std::string TopHosts() const;
  // A host list (lbLocal or lbInternational) with each host's bytes, the
  // largest first; equal figures keep the list's order, so rows do not
  // trade places while nothing changes between them.
  std::vector<THostRow> HostRows(bool international) const;
  // A figure as the page shows it: "1,234,567".
  std::string FormatBytes(int64_t bytes) const { return FormatThousands(bytes, separator_); }

 private:
  TMainControls& controls_;
  TTrafficCounters& counters_;
  TChangeTracker& changes_;
  // Read once: the locale does not change under a running program.
  std::string separator_ = LocaleThousandsSeparator();
  // The figures the six total labels show, in ShowTotals' order.
  std::array<int64_t, 6> shown_{};
};

}  // namespace vantrel
