#pragma once
// Where an answer ends on a connection that carries one request: after the
// status line and header, by Content-Length, by the chunked framing (trailers
// included), at once for the statuses without a body (1xx, 204, 304) and for
// any answer to HEAD, otherwise at the close. Interim 1xx answers are
// followed by the final one. Bytes are counted where they lie; only a header
// line cut by a read is carried over, so the relay copies no body bytes.

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "engine/RequestBody.h"

namespace vantrel::engine {

class ResponseFraming {
 public:
  // An answer to a new request is expected.
  void Start(bool headRequest);

  // How many of these bytes belong to the answer; the rest follows its end.
  size_t Consume(std::string_view bytes);

  // Answer bytes next in line that need no look (body data of known length,
  // chunk data, or all of an answer that runs until the close), and
  // passing them unseen.
  uint64_t OpaqueAhead() const;
  void SkipOpaque(uint64_t count);

  // The answer has ended.
  bool Done() const { return stage_ == Stage::kDone; }
  // The answer runs until the connection closes.
  bool UntilClose() const { return stage_ == Stage::kUntilClose; }
  // The answer switched the connection to another protocol (101).
  bool Switched() const { return switched_; }
  // The answer has ended and its header lets the connection carry another
  // request: HTTP/1.1 without "close", HTTP/1.0 with "keep-alive", and no
  // login bound to the connection under way.
  bool KeepsConnection() const;

  // A header longer than this is not parsed: the answer then runs until the close.
  static constexpr size_t kMaxHeader = 64 * 1024;

 private:
  enum class Stage { kStatusLine, kHeaderLines, kBody, kUntilClose, kDone };

  void StatusLine(std::string_view line);
  void HeaderLine(std::string_view line);
  void HeaderEnd();
  void NewAnswer();

  Stage stage_ = Stage::kStatusLine;
  bool head_ = false;
  bool switched_ = false;
  int status_ = 0;
  bool chunked_ = false;
  bool transferCoded_ = false;
  bool hasLength_ = false;
  bool lengthConflict_ = false;
  bool http10_ = false;
  bool closeToken_ = false;
  bool keepAliveToken_ = false;
  bool boundAuth_ = false;
  uint64_t length_ = 0;
  size_t headerBytes_ = 0;
  std::string line_;  // a header line cut by a read
  RequestBody body_;
};

}  // namespace vantrel::engine
