#include "app/LogFormat.h"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <ctime>

namespace vantrel {

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
      out += static_cast<unsigned char>(c) < 32 ? '.' : c;
    }
    out += "\r\n";
  }
  return out;
}

std::string MakePrintable(std::string_view data) {
  std::string out(data);
  for (char& c : out) {
    if (c == '\n') {
      c = ' ';
    } else if (c != '\r' && static_cast<unsigned char>(c) < 32) {
      c = '.';
    }
  }
  return out;
}

}  // namespace vantrel
