#include "app/ActivityLog.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <vector>

#include "files/DataFolder.h"

namespace vantrel {

TActivityLog::TActivityLog(TMainControls& controls, TScreenLog& memStatus, TChangeTracker& changes,
                           TClock clock)
    : controls_(controls), memStatus_(memStatus), changes_(changes), clock_(std::move(clock)) {}

TActivityLog::~TActivityLog() {
  if (flushTimer_ != 0) net::EventLoop::Default().CancelTimer(flushTimer_);
  CloseFile();
}

void TActivityLog::DoComment(const std::string& message, bool screenGated) {
  Comment(message, screenGated, clock_());
}

void TActivityLog::Comment(const std::string& message, bool screenGated, const TLocalTime& when) {
  const bool toScreen = controls_.cbLogging.Checked() || !screenGated;
  const bool toFile = controls_.cbWriteLog.Checked();
  if (!toScreen && !toFile) return;
  std::string line = FormatTimestamp(when) + " [" + EscapeControlBytes(message) + "]";
  // The stamp is part of the line: a copy in a later second is a new line.
  if (line == last_.line && toScreen == last_.toScreen && toFile == last_.toFile) {
    if (last_.repeats++ == 0) {
      flushTimer_ = net::EventLoop::Default().AddTimer(kRepeatFlushDelay, [this] {
        flushTimer_ = 0;
        FlushRepeats();
      });
    }
    return;
  }
  FlushRepeats();
  last_ = TLastLine{line, toScreen, toFile, when, 0};
  Emit(line, toScreen, toFile, when);
}

void TActivityLog::Emit(const std::string& line, bool toScreen, bool toFile,
                        const TLocalTime& when) {
  if (toScreen) memStatus_.Add(line, clBlack);
  if (toFile) WriteFileLine(line, when);
}

void TActivityLog::FlushRepeats() {
  if (flushTimer_ != 0) net::EventLoop::Default().CancelTimer(flushTimer_);
  flushTimer_ = 0;
  if (last_.repeats == 0) return;
  const std::string count =
      last_.line + " (repeated " + std::to_string(last_.repeats) + " times)";
  last_.repeats = 0;
  Emit(count, last_.toScreen, last_.toFile, last_.when);
}

void TActivityLog::LogIt(std::string_view data, const std::string& message, TColor colour) {
  if (data.empty()) return;
  if (!controls_.cbLogging.Checked() && !controls_.cbWriteLog.Checked()) return;
  const TLocalTime when = clock_();
  Comment(message, true, when);
  if (controls_.cbDetailedLog.Checked()) {
    // Data breaks a run of equal message lines.
    FlushRepeats();
    last_ = TLastLine{};
    std::string text;
    if (controls_.cbDebug.Checked() && controls_.cbDebug.Enabled()) {
      text = HexDump(data);
      WriteFileLine(text, when);
    } else {
      // One log line per line of the data, escaped like every other.
      const std::vector<std::string> lines = DataLines(data);
      for (size_t i = 0; i < lines.size(); ++i) {
        WriteFileLine(lines[i], when);
        if (i > 0) text += '\n';
        text += lines[i];
      }
    }
    if (controls_.cbLogging.Checked()) {
      memStatus_.Add(std::move(text), colour);
      if (memStatus_.LineCount() > kScreenLineLimit) memStatus_.Clear();
    }
  }
  if (controls_.cbAutoScroll.Checked()) memStatus_.ScrollToEnd();
}

void TActivityLog::WriteLogLine(std::string_view text) {
  if (!controls_.cbWriteLog.Checked()) return;
  FlushRepeats();
  last_ = TLastLine{};
  WriteFileLine(EscapeControlBytes(text), clock_());
}

void TActivityLog::WriteFileLine(std::string_view text, const TLocalTime& when) {
  if (!controls_.cbWriteLog.Checked()) return;
  const std::string failure = AppendToFile(text, when);
  if (failure.empty()) return;
  // Off for this run only: the box's handler runs as for a click, but the
  // saved setting stays; it also keeps the report below from trying the
  // file again.
  changes_.ForRunOnly(controls_.cbWriteLog, [this] { controls_.cbWriteLog.SetChecked(false); });
  Comment("Error writing log (log disabled for this run; the saved setting is kept): \"" + failure +
              "\"",
          true, when);
}

std::string TActivityLog::AppendToFile(std::string_view text, const TLocalTime& when) {
  std::lock_guard<std::mutex> lock(LogLock);
  // The name follows the event's time, so a write after midnight starts
  // the next day's file.
  const std::string name = LogFileName(when);
  const auto path = DataPath("log") / name;
  if (fd_ < 0 || name != fileName_) {
    if (fd_ >= 0) ::close(fd_);
    // With Detailed Log the file holds clients' credentials: the user's
    // alone, whatever the umask or an older file said.
    fd_ = ::open(path.c_str(), O_WRONLY | O_APPEND | O_CREAT | O_CLOEXEC | O_NOCTTY, 0600);
    if (fd_ < 0 || ::fchmod(fd_, 0600) != 0) {
      const int code = errno;
      if (fd_ >= 0) ::close(fd_);
      fd_ = -1;
      return "Cannot open " + path.string() + ": " + std::strerror(code);
    }
    fileName_ = name;
  }
  std::string bytes(text);
  bytes += "\r\n";
  size_t written = 0;
  while (written < bytes.size()) {
    const ssize_t n = ::write(fd_, bytes.data() + written, bytes.size() - written);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) {
      const int code = n < 0 ? errno : EIO;
      ::close(fd_);
      fd_ = -1;
      return "Cannot write " + path.string() + ": " + std::strerror(code);
    }
    written += static_cast<size_t>(n);
  }
  return {};
}

void TActivityLog::CloseFile() {
  std::lock_guard<std::mutex> lock(LogLock);
  if (fd_ >= 0) ::close(fd_);
  fd_ = -1;
  fileName_.clear();
}

void TActivityLog::ReopenLogFile() {
  CloseFile();
}

void TActivityLog::cbLoggingClick(TControl& /*sender*/) {
  // Off means closed: the file is not held while nothing is written to it.
  if (!controls_.cbWriteLog.Checked()) CloseFile();
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
