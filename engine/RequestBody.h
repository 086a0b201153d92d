#pragma once
// Where a request's body ends: by Content-Length, or by walking the chunked
// framing (sizes, data, trailers) without decoding it. Bytes are only
// counted, never copied, so the body can be forwarded as it arrives.

#include <cstddef>
#include <cstdint>
#include <string_view>

namespace vantrel::engine {

class RequestBody {
 public:
  // Reads the framing from a request header (request line and header lines).
  void Start(std::string_view header);
  void Reset() { *this = RequestBody(); }

  // How many of these bytes belong to the body; the rest follows it.
  size_t Consume(std::string_view bytes);

  bool Pending() const { return mode_ != Mode::kNone; }

 private:
  enum class Mode { kNone, kLength, kChunked };
  enum class Chunk {
    kSize,
    kExtension,
    kSizeLF,
    kData,
    kDataCR,
    kDataLF,
    kTrailerStart,
    kTrailer,
    kTrailerLF,
    kEndLF
  };

  size_t ConsumeChunked(std::string_view bytes);

  Mode mode_ = Mode::kNone;
  uint64_t remaining_ = 0;  // Content-Length bytes, or bytes of the current chunk
  Chunk chunk_ = Chunk::kSize;
  bool sawDigit_ = false;
};

}  // namespace vantrel::engine
