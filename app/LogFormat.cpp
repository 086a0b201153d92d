#include "app/LogFormat.h"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <ctime>

namespace vantrel {

namespace {

bool IsControlByte(char c) {
  const auto byte = static_cast<unsigned char>(c);
  return (byte < 0x20 && byte != '\t') || byte == 0x7F;
}

}  // namespace

TLocalTime LocalNow() {
  const std::time_t now = std::chrono::system_clock::to_time_t(std::chrono::system_clock::now());
  std::tm tm{};
  localtime_r(&now, &tm);
  return TLocalTime{tm.tm_year + 1900, tm.tm_mon + 1, tm.tm_mday, tm.tm_hour, tm.tm_min, tm.tm_sec};
}

std::string FormatTimestamp(const TLocalTime& t) {
  char text[48];
  std::snprintf(text, sizeof text, "%04d/%02d/%02d %02d:%02d:%02d", t.year, t.month, t.day, t.hour,
                t.minute, t.second);
  return text;
}

std::string LogFileName(const TLocalTime& t) {
  char text[32];
  std::snprintf(text, sizeof text, "%04d%02d%02d.log", t.year, t.month, t.day);
  return text;
}

std::string HexDump(std::string_view data) {
  static constexpr char kDigits[] = "0123456789ABCDEF";
  constexpr size_t kPerLine = 16;
  constexpr size_t kHexWidth = 48;
  std::string out;
  out.reserve((data.size() / kPerLine + 1) * 71);
  for (size_t start = 0; start < data.size(); start += kPerLine) {
    const size_t count = std::min(kPerLine, data.size() - start);
    const unsigned offset = static_cast<unsigned>(start) & 0xFFFFu;
    for (int shift = 12; shift >= 0; shift -= 4) out += kDigits[(offset >> shift) & 0xF];
    out += ' ';
    const size_t hexStart = out.size();
    for (size_t i = 0; i < count; ++i) {
      const auto byte = static_cast<unsigned char>(data[start + i]);
      out += kDigits[byte >> 4];
      out += kDigits[byte & 0xF];
      out += i == 7 ? '-' : ' ';
    }
    out.append(kHexWidth - (out.size() - hexStart), ' ');
    for (size_t i = 0; i < count; ++i) {
      const char c = data[start + i];
      out += static_cast<unsigned char>(c) < 32 || c == 0x7F ? '.' : c;
    }
    out += "\r\n";
  }
  return out;
}

std::string EscapeControlBytes(std::string_view text) {
  static constexpr char kDigits[] = "0123456789ABCDEF";
  std::string out;
  out.reserve(text.size());
  for (const char c : text) {
    if (!IsControlByte(c)) {
      out += c;
      continue;
    }
    const auto byte = static_cast<unsigned char>(c);
    out += "\\x";
    out += kDigits[byte >> 4];
    out += kDigits[byte & 0xF];
  }
  return out;
}

std::vector<std::string> DataLines(std::string_view data) {
  std::vector<std::string> lines;
  while (!data.empty()) {
    const size_t end = data.find('\n');
    std::string_view line = data.substr(0, end);
    if (end != std::string_view::npos && !line.empty() && line.back() == '\r') {
      line.remove_suffix(1);
    }
    lines.push_back(EscapeControlBytes(line));
    if (end == std::string_view::npos) break;
    data.remove_prefix(end + 1);
  }
  return lines;
}

}  // namespace vantrel
