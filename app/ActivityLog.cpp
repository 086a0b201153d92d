#include "app/ActivityLog.h"

#include <cerrno>
#include <cstdio>
#include <cstring>

#include "files/DataFolder.h"

namespace vantrel {

TActivityLog::TActivityLog(TMainControls& controls, TScreenLog& memStatus, TChangeTracker& changes,
                           TClock clock)
    : controls_(controls), memStatus_(memStatus), changes_(changes), clock_(std::move(clock)) {}

void TActivityLog::DoComment(const std::string& message, bool screenGated) {
  Comment(message, screenGated, clock_());
}

void TActivityLog::Comment(const std::string& message, bool screenGated, const TLocalTime& when) {
  const bool toScreen = controls_.cbLogging.Checked() || !screenGated;
  const bool toFile = controls_.cbWriteLog.Checked();
  if (!toScreen && !toFile) return;
  const std::string line = FormatTimestamp(when) + " [" + message + "]";
  if (toScreen) memStatus_.Add(line, clBlack);
  if (toFile) WriteLogLine(line, when);
}

void TActivityLog::LogIt(std::string_view data, const std::string& message, TColor colour) {
  if (data.empty()) return;
  if (!controls_.cbLogging.Checked() && !controls_.cbWriteLog.Checked()) return;
  const TLocalTime when = clock_();
  Comment(message, true, when);
  if (controls_.cbDetailedLog.Checked()) {
    std::string text;
    if (controls_.cbDebug.Checked() && controls_.cbDebug.Enabled()) {
      text = HexDump(data);
      WriteLogLine(text, when);
    } else {
      text = MakePrintable(data);
      // The file keeps the bytes as they travelled; the screen cannot.
      WriteLogLine(data, when);
    }
    if (controls_.cbLogging.Checked()) {
      memStatus_.Add(std::move(text), colour);
      if (memStatus_.LineCount() > kScreenLineLimit) memStatus_.Clear();
    }
  }
  if (controls_.cbAutoScroll.Checked()) memStatus_.ScrollToEnd();
}

void TActivityLog::WriteLogLine(std::string_view text) {
  if (controls_.cbWriteLog.Checked()) WriteLogLine(text, clock_());
}

void TActivityLog::WriteLogLine(std::string_view text, const TLocalTime& when) {
  if (!controls_.cbWriteLog.Checked()) return;
  std::string failure;
  {
    std::lock_guard<std::mutex> lock(LogLock);
    // The name follows the event's time, so a write after midnight starts
    // the next day's file.
    const auto path = DataPath("log") / LogFileName(when);
    std::FILE* file = std::fopen(path.c_str(), "ab");
    if (!file) {
      failure = "Cannot open " + path.string() + ": " + std::strerror(errno);
    } else {
      const bool written = std::fwrite(text.data(), 1, text.size(), file) == text.size() &&
                           std::fwrite("\r\n", 1, 2, file) == 2;
      const int writeErrno = errno;
      const bool closed = std::fclose(file) == 0;
      if (!written) {
        failure = "Cannot write " + path.string() + ": " + std::strerror(writeErrno);
      } else if (!closed) {
        failure = "Cannot write " + path.string() + ": " + std::strerror(errno);
      }
    }
  }
  if (failure.empty()) return;
  // Turning the box off runs its handler, as a user's click would; it also
  // keeps the report below from trying the file again.
  controls_.cbWriteLog.SetChecked(false);
  Comment("Error writing log (log disabled): \"" + failure + "\"", true, when);
}

void TActivityLog::cbLoggingClick(TControl& /*sender*/) {
  controls_.cbDetailedLog.SetEnabled(controls_.cbLogging.Checked() ||
                                     controls_.cbWriteLog.Checked());
  controls_.cbDebug.SetEnabled(controls_.cbDetailedLog.Enabled() &&
                               controls_.cbDetailedLog.Checked());
  changes_.SetChanged(true);
}

void TActivityLog::btnClearLogClick(TControl& /*sender*/) {
  memStatus_.Clear();
}

}  // namespace vantrel
