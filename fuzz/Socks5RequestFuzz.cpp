// The SOCKS5 greeting and request reader on arbitrary bytes: it must never
// crash, a decision taken on the first bytes must not change as more come,
// and a CONNECT it makes must be one clean request line.
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>

#include "routing/Socks5Request.h"

namespace {

using vantrel::ReadSocks5Request;
using vantrel::TSocks5Request;

void Check(bool ok) {
  if (!ok) std::abort();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  std::string bytes(reinterpret_cast<const char*>(data), size);
  if (bytes.empty()) return 0;
  bytes[0] = 5;  // the reader is only asked about connections that begin so
  const TSocks5Request whole = ReadSocks5Request(bytes);
  if (whole.result == TSocks5Request::Connect) {
    const std::string_view header = whole.Header;
    const size_t lineEnd = header.find("\r\n");
    Check(header.starts_with("CONNECT ") && lineEnd != std::string_view::npos);
    Check(header.substr(lineEnd, 4) == "\r\n\r\n");
    const std::string_view line = header.substr(0, lineEnd);
    Check(line.ends_with(" HTTP/1.0") && line.find(' ', 8) == line.size() - 9);
    Check(line.find_first_of(std::string_view("\0\n", 2)) == std::string_view::npos);
    Check(line.size() <= 8 + 255 + 6 + 9);
  }
  if (whole.result == TSocks5Request::Reject) Check(whole.ReplyCode != 0 && whole.Greeted);
  if (whole.result == TSocks5Request::Incomplete) Check(size < vantrel::kMaxSocks5Request);
  // Cut anywhere: what the first bytes decide, the rest keeps.
  for (size_t n = 1; n < size && n <= vantrel::kMaxSocks5Request; ++n) {
    const TSocks5Request part = ReadSocks5Request(std::string_view(bytes).substr(0, n));
    Check(!part.Greeted || whole.Greeted);
    if (part.result == TSocks5Request::Incomplete) continue;
    Check(part.result == whole.result && part.ReplyCode == whole.ReplyCode);
    if (part.result == TSocks5Request::Connect) Check(whole.Header.starts_with(part.Header));
  }
  return 0;
}
