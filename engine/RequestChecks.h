#pragma once
// Strict reading of a request before anything is done with it: a header
// whose framing we and the next receiver could read differently lets a
// second request slip past our checks, and a target that names no
// reachable host must not be routed, looked up or sent to a next hop.

#include <string>
#include <string_view>

namespace vantrel::engine {

// The request line and header lines up to the blank line that ends them.
// False for NUL, a bare CR or a bare LF anywhere, a folded line, blanks
// between a field name and its colon, a Content-Length that is not all
// digits or several that differ, and a Transfer-Encoding whose final coding
// is not chunked.
bool RequestFramingIsSound(std::string_view header);

// Whether the last coding of a Transfer-Encoding value is exactly chunked.
bool FinalCodingIsChunked(std::string_view value);

// A host we can connect to, and a port 1..65535 written in digits. The host
// holds no blank or control byte, no IPv6 brackets or colons (outgoing
// connections are IPv4), and is not "*".
bool ValidTarget(std::string_view host, std::string_view port);

// The Host value an absolute URL names: its host, and its port when that is
// not the scheme's default.
std::string UrlAuthority(std::string_view proto, std::string_view host, std::string_view port);

}  // namespace vantrel::engine
