#pragma once
// The activity log: timestamped message lines and data events, shown in the
// screen log and appended to one file per day in the data folder's "log".
// The proxy calls LogIt for every data block, so with logging off it must
// return before doing any work.
//
// Every line is escaped (see EscapeControlBytes). A message line that
// repeats the one before it within the same second is held back and
// counted; the count follows as that line plus " (repeated N times)" when a
// different line comes, or a second after the first copy held back.

#include <chrono>
#include <cstddef>
#include <mutex>
#include <string>
#include <string_view>

#include "app/LogFormat.h"
#include "app/ScreenLog.h"
#include "model/ChangeTracker.h"
#include "model/Controls.h"
#include "model/MainControls.h"
#include "net/EventLoop.h"

namespace vantrel {

class TActivityLog {
 public:
  TActivityLog(TMainControls& controls, TScreenLog& memStatus, TChangeTracker& changes,
               TClock clock = LocalNow);
  ~TActivityLog();
  TActivityLog(const TActivityLog&) = delete;
  TActivityLog& operator=(const TActivityLog&) = delete;

  // One message line. Not screen-gated: shown whatever "Log to Screen" says.
  void DoComment(const std::string& message, bool screenGated);
  // A data event: its message line and, with "Detailed Log", the data.
  void LogIt(std::string_view data, const std::string& message, TColor colour);
  // Appends one line to the day's file when "Log to Disk" is on. A failure
  // turns "Log to Disk" off and is reported once; it never reaches the caller.
  void WriteLogLine(std::string_view text);

  // Writes the count of held-back repeats, if any.
  void FlushRepeats();
  // Closes the day's file; the next line opens it again by name, so a file
  // moved away by a log rotation is left alone.
  void ReopenLogFile();

  void cbLoggingClick(TControl& sender);
  void btnClearLogClick(TControl& sender);

  // Encloses each use of the log file.
  std::mutex LogLock;

  // A data line that takes the screen log above this many lines empties it.
  static constexpr size_t kScreenLineLimit = 10000;
  // How long a count of repeats may wait for a different line.
  static constexpr std::chrono::milliseconds kRepeatFlushDelay{1000};

 private:
  // One clock reading per event: its stamp and its day's file must agree.
  void Comment(const std::string& message, bool screenGated, const TLocalTime& when);
  // WriteLogLine for a finished line of an event read off the clock at
  // `when`: no escaping, no coalescing.
  void WriteFileLine(std::string_view text, const TLocalTime& when);
  // Writes a finished line where it goes; no escaping, no coalescing.
  void Emit(const std::string& line, bool toScreen, bool toFile, const TLocalTime& when);
  // Appends the text and CR LF with one write; the failure's text otherwise.
  std::string AppendToFile(std::string_view text, const TLocalTime& when);
  void CloseFile();

  TMainControls& controls_;
  TScreenLog& memStatus_;
  TChangeTracker& changes_;
  TClock clock_;

  // The last message line written, where it went, and the copies of it
  // held back since.
  struct TLastLine {
    std::string line;
    bool toScreen = false;
    bool toFile = false;
    TLocalTime when;
    size_t repeats = 0;
  };
  TLastLine last_;
  net::EventLoop::TimerId flushTimer_ = 0;

  // The day's file, kept open between lines.
  int fd_ = -1;
  std::string fileName_;
};

}  // namespace vantrel
