#pragma once
// The Traffic page's graph: bytes per second received plus sent, local and
// international, one sample a second for the last ten minutes. A sample is
// the counters' growth since the one before, so taking it costs two sums.

#include <array>
#include <cstddef>
#include <cstdint>

#include "routing/TrafficCounters.h"

namespace vantrel {

struct TTrafficSample {
  int64_t local = 0;
  int64_t international = 0;
};

class TTrafficHistory {
 public:
  static constexpr size_t kSamples = 600;

  explicit TTrafficHistory(const TTrafficCounters& counters);

  // The bytes since the last sample; called once a second. Counters that
  // went down ("Clear Totals") count as a new start, not as negative bytes.
  void Sample();
  // Oldest first; fewer than kSamples until ten minutes have passed.
  size_t Count() const { return count_; }
  const TTrafficSample& At(size_t index) const;
  // The largest sample of either line, 0 when there is none.
  int64_t Peak() const;

 private:
  const TTrafficCounters& counters_;
  TTrafficSample last_;
  std::array<TTrafficSample, kSamples> ring_{};
  size_t next_ = 0;
  size_t count_ = 0;
};

}  // namespace vantrel
