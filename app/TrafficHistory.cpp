#include "app/TrafficHistory.h"

#include <algorithm>

namespace vantrel {

namespace {

TTrafficSample Totals(const TTrafficCounters& counters) {
  return {counters.Received(false) + counters.Sent(false),
          counters.Received(true) + counters.Sent(true)};
}

int64_t Growth(int64_t now, int64_t before) {
  return now >= before ? now - before : now;
}

}  // namespace

TTrafficHistory::TTrafficHistory(const TTrafficCounters& counters)
    : counters_(counters), last_(Totals(counters)) {}

void TTrafficHistory::Sample() {
  const TTrafficSample now = Totals(counters_);
  ring_[next_] = {Growth(now.local, last_.local), Growth(now.international, last_.international)};
  last_ = now;
  next_ = (next_ + 1) % kSamples;
  count_ = std::min(count_ + 1, kSamples);
}

const TTrafficSample& TTrafficHistory::At(size_t index) const {
  return ring_[(next_ + kSamples - count_ + index) % kSamples];
}

int64_t TTrafficHistory::Peak() const {
  int64_t peak = 0;
  for (size_t i = 0; i < count_; ++i) {
    peak = std::max({peak, At(i).local, At(i).international});
  }
  return peak;
}

}  // namespace vantrel
