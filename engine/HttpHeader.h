#pragma once
// Request header helpers: header line access, the end-of-header search, and
// cutting a request target into its parts and putting them back together.
// They run for every request, so they search in place and copy only results.

#include <cstddef>
#include <initializer_list>
#include <string>
#include <string_view>

namespace vantrel::engine {

// Offset of the first CR LF CR LF that starts at or after from; npos if none.
// After appending a chunk to a buffer of oldSize bytes, pass oldSize - 3 (or 0)
// so that only the new bytes are scanned.
std::size_t FindHeaderEnd(std::string_view buffer, std::size_t from = 0);

// The value of the first header line "name:" (name compared ignoring case),
// with leading blanks removed, up to its CR LF or the end of the text. Empty
// when there is no such line. Only the header part is searched: bytes after
// the first CR LF CR LF (a body, a next request) are never taken for a line.
std::string GetHeaderValue(std::string_view header, std::string_view name);

// Replaces the value of the first header line "name:" by " " + value, keeping
// the name as written. Without such a line, inserts CR LF + name + ": " + value
// in front of the first CR LF CR LF (at the end when the text has none).
void SetHeaderValue(std::string& header, std::string_view name, std::string_view value);

// As SetHeaderValue, and every later line "name:" goes: the header then
// holds exactly one such line.
void SetOnlyHeaderValue(std::string& header, std::string_view name, std::string_view value);

// Removes every header line "name:" (name compared ignoring case) from the
// header part, with its line break; bytes after the header stay as they are.
// Returns how many lines went.
std::size_t RemoveHeaderLines(std::string& header, std::string_view name);
std::size_t RemoveHeaderLines(std::string& header, std::initializer_list<std::string_view> names);

// proto + "://" (or "//" after a proto ending in ":") + [user[":" pass]"@"]
// + host + [":" port unless empty or "80"] + path.
std::string BuildURL(std::string_view proto, std::string_view user, std::string_view pass,
                     std::string_view host, std::string_view port, std::string_view path);

// Cuts a request target into its parts; all outputs are overwritten.
//   "scheme://[user[:pass]@]host[:port][/path|?query]"  absolute form
//   "/path"                    origin form: proto "http", path only, no host
//   "host:port", "*"           authority form: proto empty
//   "//host/path"              scheme-relative: proto "http"
//   "./x", "../x"              relative: treated like origin form
//   "http:x", "https:x"        scheme without "//": the rest as in the forms above
//   "mailto:x"                 proto "mailto" (as written), path "x", nothing else
// "://" counts as the scheme separator only before any "/" or "?", so a URL
// inside a query does not split the target. The port colon of a bracketed
// IPv6 host comes after its "]". port stays empty when the target names none.
void SplitURL(std::string_view url, std::string& proto, std::string& user, std::string& pass,
              std::string& host, std::string& port, std::string& path);

}  // namespace vantrel::engine
