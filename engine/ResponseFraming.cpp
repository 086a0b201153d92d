#include "engine/ResponseFraming.h"

#include "engine/ConnectionReuse.h"
#include "engine/KwString.h"
#include "engine/RequestChecks.h"

namespace vantrel::engine {

namespace {

std::string_view TrimBlanks(std::string_view s) {
  while (!s.empty() && (s.front() == ' ' || s.front() == '\t')) s.remove_prefix(1);
  while (!s.empty() && (s.back() == ' ' || s.back() == '\t')) s.remove_suffix(1);
  return s;
}

}  // namespace

void ResponseFraming::Start(bool headRequest) {
  *this = ResponseFraming();
  head_ = headRequest;
}

void ResponseFraming::NewAnswer() {
  stage_ = Stage::kStatusLine;
  status_ = 0;
  chunked_ = false;
  transferCoded_ = false;
  hasLength_ = false;
  lengthConflict_ = false;
  http10_ = false;
  closeToken_ = false;
  keepAliveToken_ = false;
  boundAuth_ = false;
  length_ = 0;
  headerBytes_ = 0;
}

bool ResponseFraming::KeepsConnection() const {
  return stage_ == Stage::kDone && !switched_ && !closeToken_ && !boundAuth_ &&
         (!http10_ || keepAliveToken_);
}

size_t ResponseFraming::Consume(std::string_view bytes) {
  size_t i = 0;
  while (i < bytes.size()) {
    switch (stage_) {
      case Stage::kStatusLine:
      case Stage::kHeaderLines: {
        const size_t lf = bytes.find('\n', i);
        const size_t stop = lf == std::string_view::npos ? bytes.size() : lf + 1;
        headerBytes_ += stop - i;
        if (headerBytes_ > kMaxHeader) {
          std::string().swap(line_);
          stage_ = Stage::kUntilClose;
          return bytes.size();
        }
        const std::string_view piece = bytes.substr(i, stop - i);
        i = stop;
        if (lf == std::string_view::npos) {
          line_.append(piece);  // the line goes on in the next read
          break;
        }
        std::string_view line = piece;
        if (!line_.empty()) {
          line_.append(piece);
          line = line_;
        }
        line.remove_suffix(1);
        if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
        if (stage_ == Stage::kStatusLine) {
          StatusLine(line);
        } else {
          HeaderLine(line);
        }
        line_.clear();
        if (stage_ == Stage::kUntilClose) return bytes.size();
        break;
      }
      case Stage::kBody: {
        i += body_.Consume(bytes.substr(i));
        if (body_.Broken()) {
          stage_ = Stage::kUntilClose;  // the framing is lost: the close ends it
          return bytes.size();
        }
        if (!body_.Pending()) stage_ = Stage::kDone;
        break;
      }
      case Stage::kUntilClose: return bytes.size();
      case Stage::kDone: return i;
    }
  }
  return i;
}

void ResponseFraming::StatusLine(std::string_view line) {
  if (line.empty()) return;  // blank lines in front of an answer are skipped
  // "HTTP/x.y NNN reason"; anything else carries no framing we could trust.
  const size_t space = line.find(' ');
  if (!SameText(line.substr(0, 5), "HTTP/") || space == std::string_view::npos) {
    stage_ = Stage::kUntilClose;
    return;
  }
  std::string_view code = line.substr(space + 1);
  while (!code.empty() && code.front() == ' ') code.remove_prefix(1);
  int status = 0;
  size_t digits = 0;
  while (digits < code.size() && digits < 4 && code[digits] >= '0' && code[digits] <= '9')
    status = status * 10 + (code[digits++] - '0');
  if (digits != 3) {
    stage_ = Stage::kUntilClose;
    return;
  }
  status_ = status;
  // Anything but 1.1 keeps the connection only when it says so.
  http10_ = !SameText(line.substr(0, space), "HTTP/1.1");
  stage_ = Stage::kHeaderLines;
}

void ResponseFraming::HeaderLine(std::string_view line) {
  if (line.empty()) return HeaderEnd();
  const size_t colon = line.find(':');
  if (colon == std::string_view::npos) return;
  const std::string_view name = line.substr(0, colon);
  const std::string_view value = TrimBlanks(line.substr(colon + 1));
  if (SameText(name, "Transfer-Encoding")) {
    // Chunked only when it is the final coding; a later line ends the list.
    transferCoded_ = true;
    chunked_ = FinalCodingIsChunked(value);
  } else if (SameText(name, "Connection") || SameText(name, "Proxy-Connection")) {
    closeToken_ = closeToken_ || ListHasToken(value, "close");
    keepAliveToken_ = keepAliveToken_ || ListHasToken(value, "keep-alive");
  } else if (SameText(name, "WWW-Authenticate") || SameText(name, "Proxy-Authenticate")) {
    boundAuth_ = boundAuth_ || IsConnectionBoundAuth(value);
  } else if (SameText(name, "Content-Length")) {
    uint64_t v = 0;
    bool valid = !value.empty();
    for (char c : value) {
      if (c < '0' || c > '9' || v > (UINT64_MAX - 9) / 10) {
        valid = false;
        break;
      }
      v = v * 10 + static_cast<uint64_t>(c - '0');
    }
    if (!valid || (hasLength_ && v != length_)) {
      lengthConflict_ = true;
    } else {
      hasLength_ = true;
      length_ = v;
    }
  }
}

void ResponseFraming::HeaderEnd() {
  if (status_ >= 100 && status_ < 200) {
    if (status_ == 101) {
      switched_ = true;  // another protocol from here: a plain relay
      stage_ = Stage::kUntilClose;
    } else {
      NewAnswer();  // interim: the final answer follows
    }
    return;
  }
  if (head_ || status_ == 204 || status_ == 304) {
    stage_ = Stage::kDone;
  } else if (chunked_) {
    body_.StartChunked();
    stage_ = Stage::kBody;
  } else if (transferCoded_) {
    stage_ = Stage::kUntilClose;  // coded without chunked: the close ends it
  } else if (hasLength_ && !lengthConflict_) {
    body_.StartLength(length_);
    stage_ = length_ == 0 ? Stage::kDone : Stage::kBody;
  } else {
    stage_ = Stage::kUntilClose;
  }
}

uint64_t ResponseFraming::OpaqueAhead() const {
  if (stage_ == Stage::kUntilClose) return UINT64_MAX;
  return stage_ == Stage::kBody ? body_.OpaqueAhead() : 0;
}

void ResponseFraming::SkipOpaque(uint64_t count) {
  if (stage_ != Stage::kBody) return;
  body_.SkipOpaque(count);
  if (!body_.Pending()) stage_ = Stage::kDone;
}

}  // namespace vantrel::engine
