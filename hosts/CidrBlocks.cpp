#include "hosts/CidrBlocks.h"

namespace vantrel {

std::vector<TCidrBlock> CidrBlocks(uint32_t first, uint32_t last) {
  std::vector<TCidrBlock> blocks;
  ForEachCidrBlock(first, last, [&](const TCidrBlock& block) { blocks.push_back(block); });
  return blocks;
}

uint32_t PrefixMask(int prefix) {
  if (prefix <= 0) return 0;
  if (prefix >= 32) return 0xFFFFFFFFu;
  return ~((uint32_t{1} << (32 - prefix)) - 1);
}

}  // namespace vantrel
