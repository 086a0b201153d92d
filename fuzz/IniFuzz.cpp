// The INI reader and writer and both list cleanings on arbitrary bytes.
// The reader never fails; every value the writer accepts reads back as
// written, next to whatever lines the file already held; the range list
// has one 31-character entry per line it keeps; a cleaned host list is
// sorted, unique, and cleans to itself.
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>
#include <vector>

#include "config/BlockedHosts.h"
#include "config/IniFile.h"
#include "hosts/Addresses.h"

namespace {

void Check(bool ok) {
  if (!ok) std::abort();
}

std::vector<std::string> Lines(std::string_view text) {
  std::vector<std::string> lines;
  while (!text.empty()) {
    const size_t end = text.find('\n');
    lines.emplace_back(text.substr(0, end));
    if (end == std::string_view::npos) break;
    text.remove_prefix(end + 1);
  }
  return lines;
}

void FuzzIni(std::string_view bytes) {
  vantrel::TIniFile ini(bytes);
  ini.Problems();
  ini.ReadInteger("CONFIG", "ProxyPort", 1080);
  ini.ReadString("PROXY", "ProxyName1", "");

  // Values cut from the input at line breaks and NUL, written over the file.
  std::vector<std::string> values;
  for (const std::string& line : Lines(bytes)) {
    std::string value;
    for (char c : line) {
      if (c != '\r' && c != '\0') value += c;
    }
    values.push_back(value);
    if (values.size() == 16) break;
  }
  for (size_t i = 0; i < values.size(); ++i) {
    ini.WriteString(i % 2 ? "PROXY" : "CONFIG", "Key" + std::to_string(i), values[i]);
  }
  ini.EraseSection("Tunnel");
  const vantrel::TIniFile read(ini.Bytes());
  for (size_t i = 0; i < values.size(); ++i) {
    Check(read.ReadString(i % 2 ? "PROXY" : "CONFIG", "Key" + std::to_string(i), "\n") ==
          values[i]);
  }
  Check(!read.Find("Tunnel", "Key0"));
  // What the writer produced reads the same way again.
  Check(vantrel::TIniFile(read.Bytes()).Bytes() == read.Bytes());

  bool refused = false;
  try {
    ini.WriteString("CONFIG", "Bad", std::string(bytes.substr(0, 8)) + "\n");
  } catch (const vantrel::EIniValueError&) {
    refused = true;
  }
  Check(refused);
}

void FuzzRanges(std::string_view bytes) {
  const std::vector<std::string> lines = Lines(bytes);
  std::vector<std::string> cleaned = lines;
  const std::vector<std::string> list = vantrel::RebuildRangeList(cleaned);
  Check(cleaned.size() == lines.size());
  size_t kept = 0;
  for (size_t i = 0; i < lines.size(); ++i) {
    Check(cleaned[i].empty() || cleaned[i] == lines[i]);
    if (!cleaned[i].empty()) ++kept;
  }
  Check(list.size() == kept);
  for (const std::string& entry : list) {
    Check(entry.size() == 31 && entry[15] == '-');
    std::string first = entry.substr(0, 15), last = entry.substr(16);
    Check(vantrel::NormalizeAddress(first) && first == entry.substr(0, 15));
    Check(vantrel::NormalizeAddress(last) && last == entry.substr(16));
  }
  // Cleaning again keeps every line.
  std::vector<std::string> again = cleaned;
  Check(vantrel::RebuildRangeList(again) == list && again == cleaned);
}

void FuzzHosts(std::string_view bytes) {
  const std::vector<std::string> names = vantrel::CleanBlockedHosts(Lines(bytes));
  for (size_t i = 0; i < names.size(); ++i) {
    Check(!names[i].empty() && names[i] != "localhost" && names[i].front() != '#');
    for (char c : names[i]) Check(static_cast<unsigned char>(c) > ' ' && !(c >= 'A' && c <= 'Z'));
    if (i > 0) Check(names[i - 1] < names[i]);
    Check(vantrel::InBlockedHostList(names, names[i]));
  }
  // The written-back file gives the same list at the next load.
  Check(vantrel::CleanBlockedHosts(names) == names);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string_view bytes(reinterpret_cast<const char*>(data), size);
  FuzzIni(bytes);
  FuzzRanges(bytes);
  FuzzHosts(bytes);
  return 0;
}
