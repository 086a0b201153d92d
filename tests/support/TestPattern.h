#pragma once
// Reproducible test bytes and a checksum, so a transfer can be checked for
// loss, duplication and reordering without keeping a copy.

#include <cstddef>
#include <cstdint>
#include <string>

namespace vantrel::testsupport {

// xorshift64: every offset of the stream has its own byte, so a shifted or
// repeated slice does not checksum the same.
class PatternStream {
 public:
  explicit PatternStream(uint64_t seed) : state_(seed | 1) {}
  void Fill(char* out, size_t n) {
    for (size_t i = 0; i < n; ++i) {
      state_ ^= state_ << 13;
      state_ ^= state_ >> 7;
      state_ ^= state_ << 17;
      out[i] = static_cast<char>(state_ >> 24);
    }
  }
  std::string Next(size_t n) {
    std::string s(n, '\0');
    Fill(s.data(), n);
    return s;
  }

 private:
  uint64_t state_;
};

// FNV-1a, 64 bits, fed piece by piece.
class Checksum {
 public:
  void Add(const char* data, size_t n) {
    for (size_t i = 0; i < n; ++i) {
      hash_ ^= static_cast<unsigned char>(data[i]);
      hash_ *= 1099511628211ull;
    }
    bytes_ += n;
  }
  void Add(const std::string& s) { Add(s.data(), s.size()); }
  uint64_t Value() const { return hash_; }
  uint64_t Bytes() const { return bytes_; }

 private:
  uint64_t hash_ = 14695981039346656037ull;
  uint64_t bytes_ = 0;
};

}  // namespace vantrel::testsupport
