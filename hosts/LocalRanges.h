#pragma once
// The local-range table: the local country's address ranges as two parallel
// columns of unsigned 32-bit numbers (1.0.0.0 is 16777216), searched by
// binary search. The search needs the ranges ascending and apart, which
// Normalize ensures whatever order the country file had.

#include <cstddef>
#include <cstdint>
#include <string_view>
#include <vector>

namespace vantrel {

class TLocalRanges {
 public:
  void Clear();
  void Append(uint32_t first, uint32_t last);
  // Sorts by first address, drops ranges whose first address is above their
  // last, and merges overlapping or adjacent ones; returns how many were
  // dropped. A sorted table of separate ranges comes out as it went in.
  size_t Normalize();

  size_t Count() const { return first_.size(); }
  bool Empty() const { return first_.empty(); }
  uint32_t First(size_t i) const { return first_[i]; }
  uint32_t Last(size_t i) const { return last_[i]; }

  bool Contains(uint32_t address) const;
  // True for a dotted address inside a range; false for anything else.
  bool IsLocal(std::string_view address) const;

 private:
  std::vector<uint32_t> first_;
  std::vector<uint32_t> last_;
};

}  // namespace vantrel
