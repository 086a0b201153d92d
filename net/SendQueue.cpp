#include "net/SendQueue.h"

#include <algorithm>
#include <cstring>

namespace vantrel::net {

void SendQueue::Append(std::string_view bytes) {
  while (!bytes.empty()) {
    if (blocks_.empty() || blocks_.back()->Room() == 0) blocks_.push_back(std::make_unique<TBuffer>());
    TBuffer& b = *blocks_.back();
    const size_t n = std::min(b.Room(), bytes.size());
    std::memcpy(b.data + b.writeCount, bytes.data(), n);
    b.writeCount += n;
    bytes_ += n;
    bytes.remove_prefix(n);
  }
}

void SendQueue::Clear() {
  blocks_.clear();
  bytes_ = 0;
}

std::string_view SendQueue::Front() const {
  if (blocks_.empty()) return {};
  const TBuffer& b = *blocks_.front();
  return {b.data + b.readCount, b.Unsent()};
}

int SendQueue::Gather(iovec* iov, int maxIov) const {
  int n = 0;
  for (const auto& b : blocks_) {
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
  while (n > 0 && !blocks_.empty()) {
    TBuffer& b = *blocks_.front();
    const size_t take = std::min(n, b.Unsent());
    b.readCount += take;
    n -= take;
    if (b.Unsent() == 0) {
      if (blocks_.size() > 1) {
        blocks_.pop_front();
      } else {
        b.readCount = b.writeCount = 0;  // keep the only block for the next send
      }
    }
  }
}

}  // namespace vantrel::net
