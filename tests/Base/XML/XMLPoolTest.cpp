// The block pool itself (built here even in sanitized builds, where the tree
// uses the plain heap instead).
#include "Base/XML/XMLPool.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>
#include <set>
#include <thread>
#include <vector>

namespace {

struct Block {
  void* address;
  std::size_t size;
};

// Allocates `count` blocks cycling through `sizes`, each filled with a byte
// pattern of its own.
std::vector<Block> allocateFilled(std::size_t count, const std::vector<std::size_t>& sizes) {
  std::vector<Block> blocks;
  for (std::size_t i = 0; i < count; ++i) {
    const std::size_t size = sizes[i % sizes.size()];
    void* address = tvan::xmlpool::allocate(size);
    std::memset(address, static_cast<int>(i & 0xff), size);
    blocks.push_back({address, size});
  }
  return blocks;
}

// Every block is 16-aligned, distinct and still holds its pattern.
void expectIntact(const std::vector<Block>& blocks) {
  std::set<void*> seen;
  for (std::size_t i = 0; i < blocks.size(); ++i) {
    const auto* bytes = static_cast<const unsigned char*>(blocks[i].address);
    EXPECT_EQ(reinterpret_cast<std::uintptr_t>(bytes) % 16, 0u);
    EXPECT_TRUE(seen.insert(blocks[i].address).second);
    for (std::size_t b = 0; b < blocks[i].size; ++b) {
      if (bytes[b] != (i & 0xff)) {
        ADD_FAILURE() << "block " << i << " overwritten";
        return;
      }
    }
  }
}

void releaseAll(const std::vector<Block>& blocks) {
  for (const Block& block : blocks) tvan::xmlpool::release(block.address, block.size);
}

const std::vector<std::size_t> kSizes = {8, 16, 17, 64, 128, 200, 256, 257, 1000};

}  // namespace

TEST(XMLPool, BlocksAreDistinctAndReusedAfterRelease) {
  std::vector<Block> first = allocateFilled(30000, kSizes);
  expectIntact(first);
  releaseAll(first);
  std::vector<Block> second = allocateFilled(30000, kSizes);
  expectIntact(second);
  releaseAll(second);
  tvan::xmlpool::release(nullptr, 64);
}

TEST(XMLPool, BlocksMoveBetweenThreadsAndOutliveTheirThread) {
  std::vector<Block> blocks;
  std::thread maker([&] { blocks = allocateFilled(40000, {128, 48}); });
  maker.join();  // its cached blocks go back to the shared lists
  expectIntact(blocks);
  std::thread freer([&] { releaseAll(blocks); });  // spills whole chains
  freer.join();
  std::vector<std::thread> workers;
  for (int t = 0; t < 4; ++t) {
    workers.emplace_back([] {
      for (int round = 0; round < 3; ++round) {
        std::vector<Block> mine = allocateFilled(10000, {128, 48, 32});
        expectIntact(mine);
        releaseAll(mine);
      }
    });
  }
  for (std::thread& worker : workers) worker.join();
  std::vector<Block> again = allocateFilled(40000, {128, 48});
  expectIntact(again);
  releaseAll(again);
}
