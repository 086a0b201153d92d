#pragma once
// TKwProxyStrings: the nine responses the engine sends on its own, each a list
// of lines. Text(index) is every line followed by CR LF; it is cached by the
// list, so sending a refusal costs no joining.

#include <array>

#include "engine/StringList.h"

namespace vantrel::engine {

class TKwProxyStrings {
 public:
  static constexpr int kCount = 9;

  // The lists start with the default lines.
  TKwProxyStrings();
  virtual ~TKwProxyStrings() = default;
  TKwProxyStrings(const TKwProxyStrings&) = delete;
  TKwProxyStrings& operator=(const TKwProxyStrings&) = delete;

  // index 1..kCount; any other index throws std::out_of_range.
  TStringList& Strings(int index);
  const TStringList& Strings(int index) const;
  void SetStrings(int index, const TStringList& lines);
  const std::string& Text(int index) const { return Strings(index).Text(); }

  // Copies the nine lists pairwise.
  virtual void Assign(const TKwProxyStrings& source);

  // The default lines of an index.
  static TStringList DefaultLines(int index);

  TStringList& sHTTPClosed() { return lists_[0]; }
  TStringList& sHTTPBlocked() { return lists_[1]; }
  TStringList& sHTTPBadRequest() { return lists_[2]; }
  TStringList& sHTTPIPForbidden() { return lists_[3]; }
  TStringList& sTCPTunnelEstablished() { return lists_[4]; }
  TStringList& sTCPTunnelClosed() { return lists_[5]; }
  TStringList& sTCPTunnelBlocked() { return lists_[6]; }
  TStringList& sTCPTunnelBadRequest() { return lists_[7]; }
  TStringList& sTCPTunnelIPForbidden() { return lists_[8]; }

 private:
  std::array<TStringList, kCount> lists_;
};

// Index names, so callers can write Response.Text(kHTTPClosed).
enum TKwProxyStringIndex : int {
  kHTTPClosed = 1,
  kHTTPBlocked,
  kHTTPBadRequest,
  kHTTPIPForbidden,
  kTCPTunnelEstablished,
  kTCPTunnelClosed,
  kTCPTunnelBlocked,
  kTCPTunnelBadRequest,
  kTCPTunnelIPForbidden
};

}  // namespace vantrel::engine
