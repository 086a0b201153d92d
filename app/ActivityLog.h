#pragma once
// The activity log: timestamped message lines and data events, shown in the
// screen log and appended to one file per day in the data folder's "log".
// The proxy calls LogIt for every data block, so with logging off it must
// return before doing any work.

#include <mutex>
#include <string>
#include <string_view>

#include "app/LogFormat.h"
#include "app/ScreenLog.h"
#include "model/ChangeTracker.h"
#include "model/Controls.h"
#include "model/MainControls.h"

namespace vantrel {

class TActivityLog {
 public:
  TActivityLog(TMainControls& controls, TScreenLog& memStatus, TChangeTracker& changes,
               TClock clock = LocalNow);

  // One message line. Not screen-gated: shown whatever "Log to Screen" says.
  void DoComment(const std::string& message, bool screenGated);
  // A data event: its message line and, with "Detailed Log", the data.
  void LogIt(std::string_view data, const std::string& message, TColor colour);
  // Appends one line to the day's file when "Log to Disk" is on. A failure
  // turns "Log to Disk" off and is reported once; it never reaches the caller.
  void WriteLogLine(std::string_view text);
  // The same for a line that belongs to an event read off the clock at `when`.
  void WriteLogLine(std::string_view text, const TLocalTime& when);

  void cbLoggingClick(TControl& sender);
  void btnClearLogClick(TControl& sender);

  // Encloses each open-write-close of the log file.
  std::mutex LogLock;

  // A data line that takes the screen log above this many lines empties it.
  static constexpr size_t kScreenLineLimit = 10000;

 private:
  // One clock reading per event: its stamp and its day's file must agree.
  void Comment(const std::string& message, bool screenGated, const TLocalTime& when);

  TMainControls& controls_;
  TScreenLog& memStatus_;
  TChangeTracker& changes_;
  TClock clock_;
};

}  // namespace vantrel
