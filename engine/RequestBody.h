#pragma once
// Where a message body ends: by Content-Length, or by walking the chunked
// framing (sizes, data, trailers) without decoding it. Bytes are only
// counted, never copied, so the body can be forwarded as it arrives. Used
// for requests, and by ResponseFraming for the body of an answer.

#include <cstddef>
#include <cstdint>
#include <string_view>

namespace vantrel::engine {

class RequestBody {
 public:
  // Reads the framing from a request header (request line and header lines).
  void Start(std::string_view header);
  void StartLength(uint64_t length);
  void StartChunked();
  void Reset() { *this = RequestBody(); }

  // How many of these bytes belong to the body; the rest follows it.
  size_t Consume(std::string_view bytes);

  bool Pending() const { return mode_ != Mode::kNone; }
  // Body bytes next in line that the framing needs no look at (the rest of
  // a Content-Length body, or of a chunk's data), and passing them unseen.
  uint64_t OpaqueAhead() const;
  void SkipOpaque(uint64_t count);
  // The chunked framing broke off: where the body ends is not known.
  bool Broken() const { return broken_; }

  // What Start found in the header.
  bool Chunked() const { return chunked_; }
  bool HasLength() const { return hasLength_; }
  // Two Content-Length lines that disagree: the request cannot be framed.
  bool LengthConflict() const { return lengthConflict_; }

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
  // Ends the body where the chunked framing stops making sense.
  size_t Break(size_t at);

  Mode mode_ = Mode::kNone;
  uint64_t remaining_ = 0;  // Content-Length bytes, or bytes of the current chunk
  Chunk chunk_ = Chunk::kSize;
  bool sawDigit_ = false;
  bool broken_ = false;
  bool chunked_ = false;
  bool hasLength_ = false;
  bool lengthConflict_ = false;
};

}  // namespace vantrel::engine
