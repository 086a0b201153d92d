#include "net/SendQueue.h"

#include <algorithm>
#include <cstring>

namespace vantrel::net {

void SendQueue::Append(std::string_view bytes) {
  while (!bytes.empty()) {
    if (head_ >= blocks_.size() || blocks_.back()->Room() == 0)
      blocks_.push_back(std::make_unique<TBuffer>());
    TBuffer& b = *blocks_.back();
    const size_t n = std::min(b.Room(), bytes.size());
    std::memcpy(b.data + b.writeCount, bytes.data(), n);
    b.writeCount += n;
    bytes_ += n;
    bytes.remove_prefix(n);
  }
}

void SendQueue::Clear() {
  std::vector<std::unique_ptr<TBuffer>>().swap(blocks_);
  head_ = 0;
  bytes_ = 0;
}

std::string_view SendQueue::Front() const {
  if (head_ >= blocks_.size()) return {};
  const TBuffer& b = *blocks_[head_];
  return {b.data + b.readCount, b.Unsent()};
}

int SendQueue::Gather(iovec* iov, int maxIov) const {
  int n = 0;
  for (size_t i = head_; i < blocks_.size(); ++i) {
    const TBuffer* b = blocks_[i].get();
    if (n == maxIov) break;
    if (b->Unsent() == 0) continue;
    iov[n].iov_base = const_cast<char*>(b->data + b->readCount);
    iov[n].iov_len = b->Unsent();
    ++n;
  }
  return n;
}

void SendQueue::Consume(size_t n) {
  bytes_ -= std::min(n, bytes_);
  while (n > 0 && head_ < blocks_.size()) {
    TBuffer& b = *blocks_[head_];
    const size_t take = std::min(n, b.Unsent());
    b.readCount += take;
    n -= take;
    if (b.Unsent() == 0) {
      if (head_ + 1 < blocks_.size()) {
        blocks_[head_++].reset();
      } else {
        b.readCount = b.writeCount = 0;  // keep the only block for the next send
      }
    }
  }
  // Drop the spent slots once they are the larger part, so the vector
  // neither grows without end nor is shifted on every block.
  if (head_ > 16 && head_ * 2 > blocks_.size()) {
    blocks_.erase(blocks_.begin(), blocks_.begin() + static_cast<std::ptrdiff_t>(head_));
    head_ = 0;
  }
}

}  // namespace vantrel::net
