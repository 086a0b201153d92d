// SplitURL on arbitrary targets, then BuildURL on the parts.
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>

#include "engine/HttpHeader.h"

namespace {

using vantrel::engine::BuildURL;
using vantrel::engine::SplitURL;

void Check(bool ok) {
  if (!ok) std::abort();
}

bool IsPartOf(std::string_view whole, const std::string& part) {
  return part.empty() || whole.find(part) != std::string_view::npos;
}

bool HasAny(const std::string& s, std::string_view chars) {
  return s.find_first_of(chars) != std::string::npos;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string_view url(reinterpret_cast<const char*>(data), size);
  std::string proto, user, pass, host, port, path;
  SplitURL(url, proto, user, pass, host, port, path);

  // Every part is cut from the target; only a default scheme is made up.
  Check(IsPartOf(url, proto) || proto == "http");
  for (const std::string* part : {&user, &pass, &host, &port, &path}) Check(IsPartOf(url, *part));
  Check(user.size() + pass.size() + host.size() + port.size() + path.size() <= url.size());
  Check(path.empty() || host.empty() || path[0] == '/' || path[0] == '?');
  Check(port.find(':') == std::string::npos);

  const std::string built = BuildURL(proto, user, pass, host, port, path);
  Check(built.size() <= proto.size() + url.size() + 6);

  // Parts free of delimiters survive a round trip through BuildURL.
  const bool plain =
      !HasAny(proto, "/?:@[]") && !HasAny(user, "/?:@[]") && !HasAny(pass, "/?@[]") &&
      !HasAny(host, "/?:@[]") && !HasAny(port, "/?:@[]") && (!user.empty() || pass.empty()) &&
      (path.empty() || path[0] == '/' || path[0] == '?') && pass.find(':') == std::string::npos;
  if (plain) {
    std::string p2, u2, s2, h2, o2, a2;
    SplitURL(built, p2, u2, s2, h2, o2, a2);
    Check(p2 == proto && u2 == user && s2 == pass && h2 == host && a2 == path);
    Check(o2 == (port == "80" ? "" : port));
  }
  return 0;
}
