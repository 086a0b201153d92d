#pragma once
// How log lines and logged data look.

#include <functional>
#include <string>
#include <string_view>
#include <vector>

namespace vantrel {

// A moment in local time.
struct TLocalTime {
  int year = 1970, month = 1, day = 1;
  int hour = 0, minute = 0, second = 0;
};

using TClock = std::function<TLocalTime()>;
TLocalTime LocalNow();

// "yyyy/mm/dd hh:nn:ss".
std::string FormatTimestamp(const TLocalTime& time);
// "yyyymmdd.log": the day's log file.
std::string LogFileName(const TLocalTime& time);

// Sixteen bytes a line: offset, hex area padded to 48 columns with "-"
// after the eighth byte, then the bytes as text (control bytes as "."); every
// line ends in CR LF.
std::string HexDump(std::string_view data);

// A control byte (below 0x20 but tab, and 0x7F) as "\xNN", the rest as it
// is: whatever a client or peer sends can neither start a forged log line
// nor drive the terminal that shows the log.
std::string EscapeControlBytes(std::string_view text);
// The data as log lines: cut at each LF (a CR before it goes with it), each
// line escaped; a final LF opens no further line.
std::vector<std::string> DataLines(std::string_view data);

}  // namespace vantrel
