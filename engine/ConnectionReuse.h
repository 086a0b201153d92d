#pragma once
// Whether a connection onward may carry another request after the current
// one, as far as a message's header says, and the key that names where such
// a connection goes. HTTP/1.1 keeps a connection unless a side says "close";
// HTTP/1.0 only with "keep-alive". A login bound to the connection (NTLM,
// Negotiate) must never be handed to another client's request.

#include <string>
#include <string_view>

namespace vantrel::engine {

// A comma-separated header value names token (ignoring case and blanks).
bool ListHasToken(std::string_view list, std::string_view token);

// Credentials or a challenge of a scheme that binds the connection.
bool IsConnectionBoundAuth(std::string_view value);

// The request header as it goes onward lets its connection be kept.
bool RequestKeepsConnection(std::string_view header);

// A request that may be sent again when the kept connection it went out on
// turns out to have been closed by the other side before answering.
bool MayResend(std::string_view method);

// Where a connection goes: the destination and the name the requests on it
// ask for, or the next hop and the credentials sent to it. Connections are
// only shared under equal keys.
std::string RouteKey(bool viaNextHop, std::string_view host, std::string_view port,
                     std::string_view header);

}  // namespace vantrel::engine
