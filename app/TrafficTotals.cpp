#include "app/TrafficTotals.h"

#include <algorithm>
#include <array>

namespace vantrel {

TTrafficTotals::TTrafficTotals(TMainControls& controls, TTrafficCounters& counters,
                               TChangeTracker& changes)
    : controls_(controls), counters_(counters), changes_(changes) {
  for (TLabel* label :
       {&lblLocalBytesRHTTP, &lblLocalBytesRSSL, &lblLocalBytesROTHER, &lblLocalBytesSHTTP,
        &lblLocalBytesSSSL, &lblLocalBytesSOTHER, &lblIntBytesRHTTP, &lblIntBytesRSSL,
        &lblIntBytesROTHER, &lblIntBytesSHTTP, &lblIntBytesSSSL, &lblIntBytesSOTHER})
    label->SetVisible(false);
}

void TTrafficTotals::ShowTotals() {
  const int64_t localR = counters_.Received(false);
  const int64_t localS = counters_.Sent(false);
  const int64_t intR = counters_.Received(true);
  const int64_t intS = counters_.Sent(true);
  // Called for every chunk relayed: only a figure that moved is formatted.
  const std::array<int64_t, 6> figures{localR, localS, localR + localS, intR, intS, intR + intS};
  const std::array<TLabel*, 6> labels{&lblLocalBytesRTotal,   &lblLocalBytesSTotal,
                                      &lblLocalBytesAllTotal, &lblIntBytesRTotal,
                                      &lblIntBytesSTotal,     &lblIntBytesAllTotal};
  for (size_t i = 0; i < figures.size(); ++i) {
    if (shown_[i] == figures[i]) continue;
    shown_[i] = figures[i];
    labels[i]->SetCaption(FormatThousands(figures[i], separator_));
  }
}

void TTrafficTotals::ClearTotals1Click(TControl&) {
  counters_.Clear();
  ShowTotals();
}

// A list's hosts go with their figures, so the figures never outgrow the
// names kept.
void TTrafficTotals::ClearLocalHosts1Click(TControl&) {
  controls_.lbLocal.Clear();
  counters_.HostBytes[0].clear();
}

void TTrafficTotals::ClearInternationalHosts1Click(TControl&) {
  controls_.lbInternational.Clear();
  counters_.HostBytes[1].clear();
}

void TTrafficTotals::cbShowLocalHostsClick(TControl&) {
  controls_.lbLocal.SetVisible(controls_.cbShowLocalHosts.Checked());
  controls_.lbInternational.SetVisible(controls_.cbShowIntHosts.Checked());
  changes_.SetChanged(true);
}

std::string TTrafficTotals::TrafficPage() const {
  auto group = [this](const char* name, bool international) {
    const int64_t r = counters_.Received(international);
    const int64_t s = counters_.Sent(international);
    return std::string(name) + ": Bytes Received " + FormatThousands(r, separator_) +
           "; Bytes Sent " + FormatThousands(s, separator_) + "; Total Bytes " +
           FormatThousands(r + s, separator_) + "\n";
  };
  auto bank = [](const std::array<int64_t, 3>& row) {
    return std::to_string(row[0]) + " " + std::to_string(row[1]) + " " + std::to_string(row[2]);
  };
  const auto& rb = counters_.ReceivedBytes;
  const auto& sb = counters_.SentBytes;
  return group("Local Internet", false) + group("International Internet", true) +
         "Traffic by class (HTTP SSL OTHER): local received " + bank(rb[0]) + " sent " +
         bank(sb[0]) + "; international received " + bank(rb[1]) + " sent " + bank(sb[1]) + "\n";
}

std::vector<THostRow> TTrafficTotals::HostRows(bool international) const {
  const auto& bytes = counters_.HostBytes[international ? 1 : 0];
  const TListBox& list = international ? controls_.lbInternational : controls_.lbLocal;
  std::vector<THostRow> rows;
  rows.reserve(list.Items().size());
  for (const std::string& host : list.Items()) {
    auto found = bytes.find(host);
    rows.push_back({host, found != bytes.end() ? found->second.Total() : 0});
  }
  std::stable_sort(rows.begin(), rows.end(),
                   [](const THostRow& a, const THostRow& b) { return a.bytes > b.bytes; });
  return rows;
}

std::string TTrafficTotals::TopHosts() const {
  auto line = [this](const char* name, bool international) {
    std::vector<THostRow> top;
    for (const auto& [host, bytes] : counters_.HostBytes[international ? 1 : 0]) {
      top.push_back({host, bytes.Total()});
    }
    // The ten largest; equal figures in name order, so the line is the same
    // for the same counts.
    auto larger = [](const THostRow& a, const THostRow& b) {
      return a.bytes != b.bytes ? a.bytes > b.bytes : a.host < b.host;
    };
    const size_t shown = std::min<size_t>(top.size(), 10);
    std::partial_sort(top.begin(), top.begin() + static_cast<std::ptrdiff_t>(shown), top.end(),
                      larger);
    std::string text = std::string("Top ") + name + " hosts: ";
    if (shown == 0) return text + "none\n";
    for (size_t i = 0; i < shown; ++i) {
      text += (i == 0 ? "" : "; ") + top[i].host + " " + FormatBytes(top[i].bytes);
    }
    return text + "\n";
  };
  return line("local", false) + line("international", true);
}

}  // namespace vantrel
