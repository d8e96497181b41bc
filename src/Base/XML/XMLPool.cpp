#include "Base/XML/XMLPool.h"

#include <mutex>
#include <new>
#include <vector>

// TVAN_XMLPOOL_FORCE_POOL keeps the pool in a sanitized build (its own test).
#if defined(TVAN_XMLPOOL_FORCE_POOL)
#elif defined(__SANITIZE_ADDRESS__)
#define TVAN_XMLPOOL_PLAIN_HEAP 1
#elif defined(__has_feature)
#if __has_feature(address_sanitizer)
#define TVAN_XMLPOOL_PLAIN_HEAP 1
#endif
#endif

namespace tvan {
namespace xmlpool {

void* allocateNoThrow(std::size_t size) noexcept {
  try {
    return allocate(size);
  } catch (...) {
    return nullptr;
  }
}

#ifdef TVAN_XMLPOOL_PLAIN_HEAP

void* allocate(std::size_t size) { return ::operator new(size); }
void release(void* block, std::size_t) noexcept { ::operator delete(block); }

#else

namespace {

constexpr std::size_t kGranule = 16;
constexpr std::size_t kClasses = 16;  // block sizes 16 .. 256 bytes
constexpr std::size_t kSlabBytes = 64 * 1024;
constexpr std::size_t kLocalLimit = 4096;  // blocks a thread keeps per class

struct FreeBlock {
  FreeBlock* next;
};

// A chain of free blocks with its length. Whole chains move between a
// thread and the shared lists, in constant time, never walked.
struct Chain {
  FreeBlock* head = nullptr;
  std::size_t count = 0;
};

// Chains not held by any thread, and every slab (kept reachable). Created
// once and never destroyed, so that threads ending during process exit can
// still return their blocks.
struct Shared {
  std::mutex mutex;
  std::vector<Chain> chains[kClasses];
  std::vector<void*> slabs;
};

Shared& shared() {
  static Shared* instance = new Shared;
  return *instance;
}

// Set once this thread's cache is destroyed (trivial, so it outlives it):
// blocks freed later, by destructors running at thread or process exit, go
// straight to the shared lists.
thread_local bool cacheGone = false;

struct ThreadCache {
  Chain free[kClasses];

  ~ThreadCache() {
    cacheGone = true;
    Shared& pool = shared();
    std::lock_guard<std::mutex> lock(pool.mutex);
    for (std::size_t c = 0; c < kClasses; ++c) {
      if (free[c].count > 0) pool.chains[c].push_back(free[c]);
      free[c] = Chain();
    }
  }

  // Takes a chain from the shared lists, or carves a new slab.
  void refill(std::size_t c) {
    Shared& pool = shared();
    std::lock_guard<std::mutex> lock(pool.mutex);
    if (!pool.chains[c].empty()) {
      free[c] = pool.chains[c].back();
      pool.chains[c].pop_back();
      return;
    }
    const std::size_t size = (c + 1) * kGranule;
    char* slab = static_cast<char*>(::operator new(kSlabBytes));
    pool.slabs.push_back(slab);
    const std::size_t blocks = kSlabBytes / size;
    Chain chain;
    for (std::size_t i = blocks; i > 0; --i) {  // the slab's first block first
      FreeBlock* block = reinterpret_cast<FreeBlock*>(slab + (i - 1) * size);
      block->next = chain.head;
      chain.head = block;
    }
    chain.count = blocks;
    free[c] = chain;
  }

  // Hands this thread's whole chain to the shared lists.
  void spill(std::size_t c) {
    Shared& pool = shared();
    std::lock_guard<std::mutex> lock(pool.mutex);
    pool.chains[c].push_back(free[c]);
    free[c] = Chain();
  }
};

thread_local ThreadCache cache;

void* allocateShared(std::size_t c) {
  {
    Shared& pool = shared();
    std::lock_guard<std::mutex> lock(pool.mutex);
    if (!pool.chains[c].empty()) {
      Chain& chain = pool.chains[c].back();
      FreeBlock* block = chain.head;
      chain.head = block->next;
      if (--chain.count == 0) pool.chains[c].pop_back();
      return block;
    }
  }
  return ::operator new((c + 1) * kGranule);  // joins the pool when freed
}

void releaseShared(std::size_t c, FreeBlock* block) {
  Shared& pool = shared();
  std::lock_guard<std::mutex> lock(pool.mutex);
  block->next = nullptr;
  pool.chains[c].push_back(Chain{block, 1});
}

}  // namespace

void* allocate(std::size_t size) {
  if (size == 0 || size > kClasses * kGranule) return ::operator new(size);
  const std::size_t c = (size - 1) / kGranule;
  if (cacheGone) return allocateShared(c);
  Chain& chain = cache.free[c];
  if (chain.count == 0) cache.refill(c);
  FreeBlock* block = chain.head;
  chain.head = block->next;
  --chain.count;
  // The next block of this size is likely cold: start loading it now.
  __builtin_prefetch(chain.head, 1);
  return block;
}

void release(void* block, std::size_t size) noexcept {
  if (block == nullptr) return;
  if (size == 0 || size > kClasses * kGranule) {
    ::operator delete(block);
    return;
  }
  const std::size_t c = (size - 1) / kGranule;
  FreeBlock* freed = static_cast<FreeBlock*>(block);
  if (cacheGone) {
    releaseShared(c, freed);
    return;
  }
  Chain& chain = cache.free[c];
  freed->next = chain.head;
  chain.head = freed;
  if (++chain.count >= kLocalLimit) cache.spill(c);
}

#endif

}  // namespace xmlpool
}  // namespace tvan
