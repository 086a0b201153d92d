#include "engine/RequestBody.h"

#include <algorithm>

#include "engine/KwString.h"
#include "engine/RequestChecks.h"

namespace vantrel::engine {

namespace {

int HexValue(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

}  // namespace

void RequestBody::Start(std::string_view header) {
  Reset();
  bool chunked = false;
  bool haveLength = false;
  uint64_t length = 0;
  // Header lines only: skip the request line, stop at the blank line.
  size_t pos = header.find("\r\n");
  while (pos != std::string_view::npos) {
    const size_t begin = pos + 2;
    size_t end = header.find("\r\n", begin);
    const std::string_view line =
        header.substr(begin, end == std::string_view::npos ? std::string_view::npos : end - begin);
    if (line.empty()) break;
    const size_t colon = line.find(':');
    if (colon != std::string_view::npos) {
      const std::string_view name = line.substr(0, colon);
      std::string_view value = line.substr(colon + 1);
      while (!value.empty() && (value.front() == ' ' || value.front() == '\t'))
        value.remove_prefix(1);
      if (SameText(name, "Transfer-Encoding")) {
        chunked = FinalCodingIsChunked(value);  // a later line ends the list
      } else if (SameText(name, "Content-Length")) {
        uint64_t v = 0;
        bool digits = false;
        for (char c : value) {
          if (c < '0' || c > '9') break;
          digits = true;
          if (v > (UINT64_MAX - 9) / 10) break;
          v = v * 10 + static_cast<uint64_t>(c - '0');
        }
        if (digits && haveLength && v != length) lengthConflict_ = true;
        if (digits && !haveLength) {
          haveLength = true;
          length = v;
        }
      }
    }
    pos = end;
  }
  chunked_ = chunked;
  hasLength_ = haveLength;
  if (chunked) {
    StartChunked();
  } else if (haveLength) {
    StartLength(length);
  }
}

void RequestBody::StartLength(uint64_t length) {
  mode_ = length > 0 ? Mode::kLength : Mode::kNone;
  remaining_ = length;
}

void RequestBody::StartChunked() {
  mode_ = Mode::kChunked;
  chunk_ = Chunk::kSize;
  remaining_ = 0;
  sawDigit_ = false;
}

size_t RequestBody::Consume(std::string_view bytes) {
  switch (mode_) {
    case Mode::kNone: return 0;
    case Mode::kLength: {
      const size_t take = static_cast<size_t>(std::min<uint64_t>(remaining_, bytes.size()));
      remaining_ -= take;
      if (remaining_ == 0) mode_ = Mode::kNone;
      return take;
    }
    case Mode::kChunked: return ConsumeChunked(bytes);
  }
  return 0;
}

uint64_t RequestBody::OpaqueAhead() const {
  if (mode_ == Mode::kLength || (mode_ == Mode::kChunked && chunk_ == Chunk::kData))
    return remaining_;
  return 0;
}

void RequestBody::SkipOpaque(uint64_t count) {
  count = std::min(count, OpaqueAhead());
  remaining_ -= count;
  if (remaining_ != 0 || count == 0) return;
  if (mode_ == Mode::kLength) {
    mode_ = Mode::kNone;
  } else {
    chunk_ = Chunk::kDataCR;
  }
}

size_t RequestBody::Break(size_t at) {
  mode_ = Mode::kNone;
  broken_ = true;
  return at;
}

size_t RequestBody::ConsumeChunked(std::string_view bytes) {
  size_t i = 0;
  while (i < bytes.size() && mode_ == Mode::kChunked) {
    const char c = bytes[i];
    switch (chunk_) {
      case Chunk::kSize: {
        const int h = HexValue(c);
        if (h >= 0) {
          if (remaining_ > (UINT64_MAX >> 4)) {  // absurd size: stop treating it as a body
            return Break(i);
          }
          remaining_ = remaining_ * 16 + static_cast<uint64_t>(h);
          sawDigit_ = true;
          ++i;
        } else if (!sawDigit_) {
          return Break(i);  // a size line must start with a size
        } else if (c == ';' || c == ' ' || c == '\t') {
          chunk_ = Chunk::kExtension;
          ++i;
        } else if (c == '\r') {
          chunk_ = Chunk::kSizeLF;
          ++i;
        } else {
          return Break(i);  // not chunked framing after all
        }
        break;
      }
      case Chunk::kExtension:
        if (c == '\r') chunk_ = Chunk::kSizeLF;
        ++i;
        break;
      case Chunk::kSizeLF:
        if (c != '\n') return Break(i);
        ++i;
        sawDigit_ = false;
        chunk_ = remaining_ == 0 ? Chunk::kTrailerStart : Chunk::kData;
        break;
      case Chunk::kData: {
        const size_t take = static_cast<size_t>(std::min<uint64_t>(remaining_, bytes.size() - i));
        remaining_ -= take;
        i += take;
        if (remaining_ == 0) chunk_ = Chunk::kDataCR;
        break;
      }
      case Chunk::kDataCR:
        if (c != '\r') return Break(i);
        ++i;
        chunk_ = Chunk::kDataLF;
        break;
      case Chunk::kDataLF:
        if (c != '\n') return Break(i);
        ++i;
        chunk_ = Chunk::kSize;
        break;
      case Chunk::kTrailerStart:
        ++i;
        chunk_ = c == '\r' ? Chunk::kEndLF : Chunk::kTrailer;
        break;
      case Chunk::kTrailer:
        if (c == '\r') chunk_ = Chunk::kTrailerLF;
        ++i;
        break;
      case Chunk::kTrailerLF:
        ++i;
        chunk_ = c == '\n' ? Chunk::kTrailerStart : Chunk::kTrailer;
        break;
      case Chunk::kEndLF:
        ++i;
        mode_ = Mode::kNone;  // the blank line after the last chunk ends the body
        break;
    }
  }
  return i;
}

}  // namespace vantrel::engine
