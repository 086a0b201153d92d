#pragma once
// The twelve byte counters: received and sent, local and international,
// per traffic class. 64-bit, zero at start, reset only by "Clear Totals".

#include <array>
#include <cstdint>
#include <string>
#include <string_view>
#include <unordered_map>

namespace vantrel {

enum TTrafficClass { tcHTTP = 0, tcSSL = 1, tcOTHER = 2 };

// 80 is HTTP, 443 secure, anything else other.
inline TTrafficClass ClassOfPort(int port) {
  return port == 80 ? tcHTTP : port == 443 ? tcSSL : tcOTHER;
}

// A port text as a number: 0 when it is not all digits or too long to be
// one, so a client's "99999999999" can never overflow anything.
int PortNumber(std::string_view text);

// A whole number with a separator between groups of three digits; no
// floating point on the way.
std::string FormatThousands(int64_t value, std::string_view separator);
// The user's locale's thousands separator, or "," when it has none or the
// locale cannot be loaded. Never throws.
std::string LocaleThousandsSeparator();

// What one host name cost: bytes from it and bytes towards it.
struct THostBytes {
  int64_t received = 0;
  int64_t sent = 0;
  int64_t Total() const { return received + sent; }
};

struct TTrafficCounters {
  // [0] local, [1] international; then the class.
  std::array<std::array<int64_t, 3>, 2> ReceivedBytes{};
  std::array<std::array<int64_t, 3>, 2> SentBytes{};
  // Per host name, [0] local, [1] international.
  std::array<std::unordered_map<std::string, THostBytes>, 2> HostBytes;

  // A positive count was received, a negative one sent; 0 changes nothing.
  void CountBytes(int64_t count, int port, bool international) {
    const int row = international ? 1 : 0;
    const int cls = ClassOfPort(port);
    if (count > 0) {
      ReceivedBytes[row][cls] += count;
    } else {
      SentBytes[row][cls] -= count;
    }
  }
  // The same count for the host the bytes went to or came from, by
  // locality like the totals. Hosts come from the classified host sets, so
  // there are no more entries than names kept there.
  void CountHostBytes(const std::string& host, int64_t count, bool international) {
    if (count == 0 || host.empty()) return;
    THostBytes& bytes = HostBytes[international ? 1 : 0][host];
    if (count > 0) {
      bytes.received += count;
    } else {
      bytes.sent -= count;
    }
  }
  void Clear() {
    ReceivedBytes = {};
    SentBytes = {};
    HostBytes[0].clear();
    HostBytes[1].clear();
  }
  int64_t Received(bool international) const;
  int64_t Sent(bool international) const;
};

}  // namespace vantrel
