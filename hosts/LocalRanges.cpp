#include "hosts/LocalRanges.h"

#include <algorithm>
#include <numeric>

#include "hosts/Addresses.h"

namespace vantrel {

void TLocalRanges::Clear() {
  first_.clear();
  last_.clear();
}

void TLocalRanges::Append(uint32_t first, uint32_t last) {
  first_.push_back(first);
  last_.push_back(last);
}

size_t TLocalRanges::Normalize() {
  const size_t count = first_.size();
  bool ordered = true;
  for (size_t i = 0; i < count && ordered; ++i) {
    ordered = first_[i] <= last_[i] && (i == 0 || uint64_t{last_[i - 1]} + 1 < first_[i]);
  }
  if (ordered) return 0;  // the usual case: the file was sorted and clean

  std::vector<size_t> order(count);
  std::iota(order.begin(), order.end(), size_t{0});
  std::stable_sort(order.begin(), order.end(),
                   [this](size_t a, size_t b) { return first_[a] < first_[b]; });
  std::vector<uint32_t> first, last;
  first.reserve(count);
  last.reserve(count);
  size_t dropped = 0;
  for (size_t i : order) {
    if (first_[i] > last_[i]) {
      ++dropped;
      continue;
    }
    // 64 bits: a range ending at 255.255.255.255 has nothing adjacent above it.
    if (!first.empty() && first_[i] <= uint64_t{last.back()} + 1) {
      last.back() = std::max(last.back(), last_[i]);
    } else {
      first.push_back(first_[i]);
      last.push_back(last_[i]);
    }
  }
  first_ = std::move(first);
  last_ = std::move(last);
  return dropped;
}

bool TLocalRanges::Contains(uint32_t address) const {
  // The last range starting at or below the address is the only candidate.
  auto above = std::upper_bound(first_.begin(), first_.end(), address);
  if (above == first_.begin()) return false;
  const size_t i = static_cast<size_t>(above - first_.begin()) - 1;
  return address <= last_[i];
}

bool TLocalRanges::IsLocal(std::string_view address) const {
  uint32_t value = 0;
  return ParseAddress(address, value) && Contains(value);
}

}  // namespace vantrel
