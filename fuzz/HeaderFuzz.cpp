// Header line access, removal and the end-of-header search on arbitrary bytes.
// Input layout: name length, value length, name, value, header text.
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>

#include "engine/HttpHeader.h"

namespace {

using vantrel::engine::FindHeaderEnd;
using vantrel::engine::GetHeaderValue;
using vantrel::engine::RemoveHeaderLines;
using vantrel::engine::SetHeaderValue;

void Check(bool ok) {
  if (!ok) std::abort();
}

bool IsTokenChar(char c) {
  return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '-' ||
         c == '_' || c == '.';
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size < 2) return 0;
  std::string_view in(reinterpret_cast<const char*>(data), size);
  const size_t nameLen = static_cast<uint8_t>(in[0]) % 32;
  const size_t valueLen = static_cast<uint8_t>(in[1]);
  in.remove_prefix(2);
  const std::string_view rawName = in.substr(0, nameLen);
  in.remove_prefix(rawName.size());
  const std::string_view rawValue = in.substr(0, valueLen);
  in.remove_prefix(rawValue.size());
  const std::string header(in);

  // The end of the header, found in one scan and found chunk by chunk the
  // way the session scans new bytes plus three.
  const size_t end = FindHeaderEnd(header);
  Check(end == header.find("\r\n\r\n"));
  size_t chunked = std::string::npos;
  const size_t step = 1 + nameLen;
  for (size_t have = 0; have < header.size() && chunked == std::string::npos;) {
    const size_t old = have;
    have = std::min(header.size(), have + step);
    chunked = FindHeaderEnd(std::string_view(header).substr(0, have), old >= 3 ? old - 3 : 0);
  }
  Check(chunked == end);

  // Any name, even with odd bytes: a value is a piece of one line.
  const std::string anyValue = GetHeaderValue(header, rawName);
  Check(anyValue.find("\r\n") == std::string::npos);
  Check(anyValue.empty() || (anyValue[0] != ' ' && anyValue[0] != '\t'));
  Check(anyValue.empty() || header.find(anyValue) != std::string::npos);
  std::string anySet = header;
  SetHeaderValue(anySet, rawName, rawValue);

  // A plain name and a clean value read back exactly what was written, and
  // bytes after the header are never touched.
  std::string name;
  for (char c : rawName)
    if (IsTokenChar(c)) name += c;
  if (name.empty()) name = "Host";
  std::string value;
  for (char c : rawValue)
    if (c != '\r' && c != '\n' && !(value.empty() && (c == ' ' || c == '\t'))) value += c;

  std::string changed = header;
  SetHeaderValue(changed, name, value);
  Check(GetHeaderValue(changed, name) == value);
  if (end != std::string::npos) {
    const std::string_view body = std::string_view(header).substr(end + 4);
    Check(changed.size() >= body.size());
    Check(std::string_view(changed).substr(changed.size() - body.size()) == body);
  }
  // Setting the same value again changes nothing.
  std::string again = changed;
  SetHeaderValue(again, name, value);
  Check(again == changed);

  // Removing a name leaves none of its lines, only ever shortens the text,
  // keeps the bytes after the header, and a second removal finds nothing.
  std::string removed = header;
  const size_t count = RemoveHeaderLines(removed, name);
  Check(GetHeaderValue(removed, name).empty());
  Check(removed.size() <= header.size() && (count == 0) == (removed == header));
  if (end != std::string::npos) {
    const std::string_view body = std::string_view(header).substr(end + 4);
    Check(std::string_view(removed).substr(removed.size() - body.size()) == body);
  }
  Check(RemoveHeaderLines(removed, name) == 0);
  return 0;
}
