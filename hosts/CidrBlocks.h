#pragma once
// An address range as the fewest CIDR blocks that cover exactly it.

#include <cstdint>
#include <vector>

namespace vantrel {

struct TCidrBlock {
  uint32_t address = 0;
  int prefix = 32;  // 0..32
  bool operator==(const TCidrBlock&) const = default;
};

// In address order; none when first is above last.
std::vector<TCidrBlock> CidrBlocks(uint32_t first, uint32_t last);

// The block's net mask: 0xFFFFFF00 for 24.
uint32_t PrefixMask(int prefix);

}  // namespace vantrel
