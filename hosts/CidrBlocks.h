#pragma once
// An address range as the fewest CIDR blocks that cover exactly it.

#include <bit>
#include <cstdint>
#include <vector>

namespace vantrel {

struct TCidrBlock {
  uint32_t address = 0;
  int prefix = 32;  // 0..32
  bool operator==(const TCidrBlock&) const = default;
};

// Calls visit(block) for each block in address order; never when first is
// above last. No allocation: a long bypass list is turned into blocks at
// every change.
template <typename Visit>
void ForEachCidrBlock(uint32_t first, uint32_t last, Visit&& visit) {
  if (first > last) return;
  // 64 bits: the end of a range reaching 255.255.255.255 is 2^32.
  uint64_t at = first;
  const uint64_t end = uint64_t{last} + 1;
  while (at < end) {
    // The widest block that starts here (aligned) and still fits.
    const int aligned = at == 0 ? 32 : std::countr_zero(static_cast<uint32_t>(at));
    const int fits = static_cast<int>(std::bit_width(end - at)) - 1;
    const int bits = aligned < fits ? aligned : fits;
    visit(TCidrBlock{static_cast<uint32_t>(at), 32 - bits});
    at += uint64_t{1} << bits;
  }
}

// The same blocks as a list.
std::vector<TCidrBlock> CidrBlocks(uint32_t first, uint32_t last);

// The block's net mask: 0xFFFFFF00 for 24.
uint32_t PrefixMask(int prefix);

}  // namespace vantrel
