#pragma once
// The send queue: an ordered list of fixed 1460-byte blocks, each with a
// write count and a read count. Bytes are copied in once and leave once.

#include <sys/uio.h>

#include <cstddef>
#include <memory>
#include <string_view>
#include <vector>

namespace vantrel::net {

struct TBuffer {
  static constexpr size_t kSize = 1460;
  size_t writeCount = 0;  // bytes stored
  size_t readCount = 0;   // bytes already handed to the system
  char data[kSize];

  size_t Unsent() const { return writeCount - readCount; }
  size_t Room() const { return kSize - writeCount; }
};

class SendQueue {
 public:
  void Append(std::string_view bytes);
  void Clear();
  bool Empty() const { return bytes_ == 0; }
  size_t Bytes() const { return bytes_; }
  size_t Blocks() const { return blocks_.size() - head_; }

  // The unsent remainder of the first block.
  std::string_view Front() const;
  // Fills up to maxIov slices with the unsent bytes, in order.
  int Gather(iovec* iov, int maxIov) const;
  // Marks n bytes as sent; emptied blocks are dropped (a single one is kept for reuse).
  void Consume(size_t n);

 private:
  // Blocks from head_ on are live. A vector, not a deque: an idle
  // connection's empty queue then costs no allocation at all.
  std::vector<std::unique_ptr<TBuffer>> blocks_;
  size_t head_ = 0;
  size_t bytes_ = 0;
};

}  // namespace vantrel::net
