#include "hosts/CidrBlocks.h"

#include <bit>

namespace vantrel {

std::vector<TCidrBlock> CidrBlocks(uint32_t first, uint32_t last) {
  std::vector<TCidrBlock> blocks;
  if (first > last) return blocks;
  // 64 bits: the end of a range reaching 255.255.255.255 is 2^32.
  uint64_t at = first;
  const uint64_t end = uint64_t{last} + 1;
  while (at < end) {
    // The widest block that starts here (aligned) and still fits.
    int bits = at == 0 ? 32 : std::countr_zero(static_cast<uint32_t>(at));
    while ((uint64_t{1} << bits) > end - at) --bits;
    blocks.push_back({static_cast<uint32_t>(at), 32 - bits});
    at += uint64_t{1} << bits;
  }
  return blocks;
}

uint32_t PrefixMask(int prefix) {
  if (prefix <= 0) return 0;
  if (prefix >= 32) return 0xFFFFFFFFu;
  return ~((uint32_t{1} << (32 - prefix)) - 1);
}

}  // namespace vantrel
