// Address ranges as their fewest CIDR blocks.

#include <gtest/gtest.h>

#include <random>
#include <string>
#include <vector>

#include "hosts/CidrBlocks.h"

namespace vantrel {
namespace {

constexpr uint32_t Ip(int a, int b, int c, int d) {
  return (uint32_t(a) << 24) | (uint32_t(b) << 16) | (uint32_t(c) << 8) | uint32_t(d);
}

TEST(CidrBlocks, RangesSplitIntoTheFewestBlocks) {
  struct Case {
    const char* name;
    uint32_t first, last;
    std::vector<TCidrBlock> blocks;
  };
  const std::vector<Case> cases = {
      {"one net", Ip(10, 0, 0, 0), Ip(10, 255, 255, 255), {{Ip(10, 0, 0, 0), 8}}},
      {"one address", Ip(192, 168, 1, 7), Ip(192, 168, 1, 7), {{Ip(192, 168, 1, 7), 32}}},
      {"unaligned ends",
       Ip(10, 0, 0, 5),
       Ip(10, 0, 0, 10),
       {{Ip(10, 0, 0, 5), 32},
        {Ip(10, 0, 0, 6), 31},
        {Ip(10, 0, 0, 8), 31},
        {Ip(10, 0, 0, 10), 32}}},
      {"across a byte",
       Ip(10, 0, 0, 255),
       Ip(10, 0, 1, 0),
       {{Ip(10, 0, 0, 255), 32}, {Ip(10, 0, 1, 0), 32}}},
      {"everything", 0, 0xFFFFFFFF, {{0, 0}}},
      {"top address", 0xFFFFFFFF, 0xFFFFFFFF, {{0xFFFFFFFF, 32}}},
      {"upper half", Ip(128, 0, 0, 0), 0xFFFFFFFF, {{Ip(128, 0, 0, 0), 1}}},
      {"reversed", Ip(10, 0, 0, 9), Ip(10, 0, 0, 1), {}},
  };
  for (const Case& k : cases) {
    SCOPED_TRACE(k.name);
    EXPECT_EQ(CidrBlocks(k.first, k.last), k.blocks);
  }
  // The worst case: everything but the two ends, one block per size twice.
  EXPECT_EQ(CidrBlocks(1, 0xFFFFFFFE).size(), 62u);
  EXPECT_EQ(PrefixMask(0), 0u);
  EXPECT_EQ(PrefixMask(24), 0xFFFFFF00u);
  EXPECT_EQ(PrefixMask(32), 0xFFFFFFFFu);
}

// Any range: the blocks follow each other without gap or overlap, each is
// aligned to its size, and no two neighbours would make one block.
TEST(CidrBlocks, BlocksCoverTheRangeExactly) {
  std::mt19937 random(20);
  for (int round = 0; round < 2000; ++round) {
    uint32_t a = random(), b = random();
    if (round % 2) b = a + (random() % 5000);  // short ranges too
    if (a > b) std::swap(a, b);
    SCOPED_TRACE(std::to_string(a) + "-" + std::to_string(b));
    const std::vector<TCidrBlock> blocks = CidrBlocks(a, b);
    ASSERT_FALSE(blocks.empty());
    uint64_t at = a;
    for (size_t i = 0; i < blocks.size(); ++i) {
      const TCidrBlock& block = blocks[i];
      const uint64_t size = uint64_t{1} << (32 - block.prefix);
      ASSERT_EQ(block.address, at);
      ASSERT_EQ(block.address & ~PrefixMask(block.prefix), 0u);
      if (i > 0 && blocks[i - 1].prefix == block.prefix) {
        const uint32_t parent = PrefixMask(block.prefix - 1);
        ASSERT_NE(blocks[i - 1].address & parent, block.address & parent);
      }
      at += size;
    }
    ASSERT_EQ(at, uint64_t{b} + 1);
  }
}

}  // namespace
}  // namespace vantrel
