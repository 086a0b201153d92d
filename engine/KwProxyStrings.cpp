#include "engine/KwProxyStrings.h"

#include <stdexcept>

namespace vantrel::engine {

namespace {

void CheckIndex(int index) {
  if (index < 1 || index > TKwProxyStrings::kCount)
    throw std::out_of_range("TKwProxyStrings: index out of range");
}

}  // namespace

TStringList TKwProxyStrings::DefaultLines(int index) {
  CheckIndex(index);
  switch (index) {
    case kHTTPClosed:
      return {"HTTP/1.1 403 Closed",
              "Connection: close",
              "Content-Type: text/html",
              "",
              "<HTML><HEAD>",
              "<TITLE>Closed</TITLE>",
              "</HEAD><BODY>",
              "<H1>Closed</H1>",
              "HTTP proxy is closed.<P>",
              "</BODY></HTML>"};
    case kHTTPBlocked:
      return {"HTTP/1.1 403 Forbidden",
              "Connection: close",
              "Content-Type: text/html",
              "",
              "<HTML><HEAD>",
              "<TITLE>Blocked</TITLE>",
              "</HEAD><BODY>",
              "<H1>Blocked</H1>",
              "You are not allowed to access this URL.<P>",
              "</BODY></HTML>"};
    case kHTTPBadRequest:
      return {"HTTP/1.1 400 Bad request",
              "Connection: close",
              "Content-Type: text/html",
              "",
              "<HTML><HEAD>",
              "<TITLE>Bad request</TITLE>",
              "</HEAD><BODY>",
              "<H1>Bad request</H1><P>",
              "</BODY></HTML>"};
    case kHTTPIPForbidden:
      return {"HTTP/1.1 403 Forbidden",
              "Connection: close",
              "Content-Type: text/html",
              "",
              "<HTML><HEAD>",
              "<TITLE>Forbidden</TITLE>",
              "</HEAD><BODY>",
              "<H1>Forbidden</H1>",
              "You are not allowed to access the proxy from this IP address<P>",
              "</BODY></HTML>"};
    case kTCPTunnelEstablished: return {"HTTP/1.0 200 Connection established", ""};
    case kTCPTunnelClosed: return {"HTTP/1.0 403 Closed", "Connection: close", ""};
    case kTCPTunnelBlocked: return {"HTTP/1.0 403 Forbidden", "Connection: close", ""};
    case kTCPTunnelBadRequest: return {"HTTP/1.0 400 Bad request", "Connection: close", ""};
    default:  // kTCPTunnelIPForbidden
      return {"HTTP/1.0 403 Forbidden", "Connection: close", ""};
  }
}

TKwProxyStrings::TKwProxyStrings() {
  for (int i = 1; i <= kCount; ++i) lists_[i - 1] = DefaultLines(i);
}

TStringList& TKwProxyStrings::Strings(int index) {
  CheckIndex(index);
  return lists_[index - 1];
}

const TStringList& TKwProxyStrings::Strings(int index) const {
  CheckIndex(index);
  return lists_[index - 1];
}

void TKwProxyStrings::SetStrings(int index, const TStringList& lines) {
  Strings(index).Assign(lines);
}

void TKwProxyStrings::Assign(const TKwProxyStrings& source) {
  if (&source == this) return;
  for (int i = 0; i < kCount; ++i) lists_[i].Assign(source.lists_[i]);
}

}  // namespace vantrel::engine
