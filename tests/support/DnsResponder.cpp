#include "tests/support/DnsResponder.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/epoll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cctype>
#include <cerrno>
#include <cstring>
#include <stdexcept>

namespace vantrel::testsupport {

namespace {

constexpr size_t kHeader = 12;
constexpr uint16_t kTypeA = 1;
constexpr uint16_t kTypeAAAA = 28;

std::string NormalName(const std::string& name) {
  std::string out;
  for (char c : name) out += static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  while (!out.empty() && out.back() == '.') out.pop_back();
  return out;
}

uint16_t Get16(const uint8_t* p) {
  return static_cast<uint16_t>(p[0] << 8 | p[1]);
}

void Put16(std::vector<uint8_t>& out, uint16_t v) {
  out.push_back(static_cast<uint8_t>(v >> 8));
  out.push_back(static_cast<uint8_t>(v & 0xff));
}

// The single question of a query: its name, its type and where it ends.
bool ParseQuestion(const uint8_t* p, size_t n, std::string& name, uint16_t& qtype, size_t& end) {
  size_t i = kHeader;
  size_t total = 0;
  for (;;) {
    if (i >= n) return false;
    const uint8_t len = p[i++];
    if (len == 0) break;
    if (len > 63) return false;  // a query has no reason to use compression
    if (i + len > n) return false;
    total += len + 1u;
    if (total > 255) return false;
    if (!name.empty()) name += '.';
    name.append(reinterpret_cast<const char*>(p + i), len);
    i += len;
  }
  if (i + 4 > n) return false;
  qtype = Get16(p + i);
  end = i + 4;
  return true;
}

}  // namespace

DnsResponder::DnsResponder(net::EventLoop& loop) : loop_(loop) {
  fd_ = ::socket(AF_INET, SOCK_DGRAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
  if (fd_ < 0) throw std::runtime_error("DnsResponder: socket failed");
  sockaddr_in sin{};
  sin.sin_family = AF_INET;
  sin.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  socklen_t len = sizeof sin;
  if (::bind(fd_, reinterpret_cast<sockaddr*>(&sin), sizeof sin) < 0 ||
      ::getsockname(fd_, reinterpret_cast<sockaddr*>(&sin), &len) < 0) {
    ::close(fd_);
    throw std::runtime_error("DnsResponder: bind failed");
  }
  port_ = ntohs(sin.sin_port);
  loop_.AddWatch(fd_, EPOLLIN, [this](uint32_t) { OnReadable(); });
}

DnsResponder::~DnsResponder() {
  loop_.RemoveWatch(fd_);
  ::close(fd_);
}

std::string DnsResponder::Server() const {
  return "127.0.0.1:" + std::to_string(port_);
}

void DnsResponder::SetAddresses(const std::string& name, std::vector<std::string> addresses) {
  Entry& e = entries_[NormalName(name)];
  e.reply = Reply::Addresses;
  e.addresses.clear();
  e.addresses6.clear();
  for (const std::string& a : addresses) {
    in_addr addr{};
    std::array<uint8_t, 16> addr6{};
    if (inet_pton(AF_INET, a.c_str(), &addr) == 1) {
      e.addresses.push_back(addr.s_addr);
    } else if (inet_pton(AF_INET6, a.c_str(), addr6.data()) == 1) {
      e.addresses6.push_back(addr6);
    } else {
      throw std::invalid_argument("DnsResponder: not an IP address: " + a);
    }
  }
}

void DnsResponder::SetReply(const std::string& name, Reply reply) {
  entries_[NormalName(name)].reply = reply;
}

int DnsResponder::QueriesFor(const std::string& name) const {
  auto it = queries_.find(NormalName(name));
  return it == queries_.end() ? 0 : it->second;
}

void DnsResponder::OnReadable() {
  uint8_t buf[1500];
  for (;;) {
    sockaddr_in from{};
    socklen_t fromLength = sizeof from;
    const ssize_t n =
        ::recvfrom(fd_, buf, sizeof buf, 0, reinterpret_cast<sockaddr*>(&from), &fromLength);
    if (n < 0) {
      if (errno == EINTR) continue;
      return;  // EAGAIN: drained
    }
    Answer(buf, static_cast<size_t>(n), &from, fromLength);
  }
}

void DnsResponder::Answer(const uint8_t* q, size_t n, const void* from, unsigned fromLength) {
  if (n < kHeader) return;
  const bool isResponse = q[2] & 0x80;
  const int opcode = (q[2] >> 3) & 0x0f;
  if (isResponse || opcode != 0 || Get16(q + 4) != 1) return;
  std::string name;
  uint16_t qtype = 0;
  size_t end = 0;
  if (!ParseQuestion(q, n, name, qtype, end)) return;

  const std::string key = NormalName(name);
  ++total_;
  ++queries_[key];
  Entry entry;
  entry.reply = default_;
  if (auto it = entries_.find(key); it != entries_.end()) entry = it->second;
  if (entry.reply == Reply::Silent) return;

  int rcode = 0;
  if (entry.reply == Reply::NxDomain) rcode = 3;
  if (entry.reply == Reply::ServFail) rcode = 2;
  if (entry.reply == Reply::Refused) rcode = 5;
  if (entry.reply == Reply::FormErr) rcode = 1;
  uint16_t count = 0;
  if (entry.reply == Reply::Addresses && qtype == kTypeA) {
    count = static_cast<uint16_t>(entry.addresses.size());
  } else if (entry.reply == Reply::Addresses && qtype == kTypeAAAA) {
    count = static_cast<uint16_t>(entry.addresses6.size());
  }

  // Header and question echoed; anything the query carried after it is dropped.
  std::vector<uint8_t> out(q, q + end);
  out[2] = static_cast<uint8_t>(0x80 | (q[2] & 0x79) | 0x04);  // QR, opcode, AA, RD
  out[3] = static_cast<uint8_t>(0x80 | rcode);                 // RA
  out[6] = static_cast<uint8_t>(count >> 8);
  out[7] = static_cast<uint8_t>(count & 0xff);
  std::memset(&out[8], 0, 4);
  for (uint16_t i = 0; i < count; ++i) {
    const bool v4 = qtype == kTypeA;
    Put16(out, 0xC000 | kHeader);  // the question's name
    Put16(out, qtype);
    Put16(out, 1);  // IN
    Put16(out, 0);
    Put16(out, 60);  // TTL
    Put16(out, v4 ? 4 : 16);
    const auto* a =
        v4 ? reinterpret_cast<const uint8_t*>(&entry.addresses[i]) : entry.addresses6[i].data();
    out.insert(out.end(), a, a + (v4 ? 4 : 16));
  }
  ::sendto(fd_, out.data(), out.size(), 0, static_cast<const sockaddr*>(from), fromLength);
}

}  // namespace vantrel::testsupport
