#pragma once
// How log lines and logged data look.

#include <functional>
#include <string>
#include <string_view>

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
// after the eighth byte, then the bytes as text; every line ends in CR LF.
std::string HexDump(std::string_view data);
// Same length: LF becomes a blank, CR stays, other control bytes become ".".
std::string MakePrintable(std::string_view data);

}  // namespace vantrel
