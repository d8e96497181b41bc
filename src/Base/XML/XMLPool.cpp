#include "Base/XML/XMLPool.h"

#include <mutex>
#include <new>
#include <vector>

#if defined(__SANITIZE_ADDRESS__)
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
constexpr std::size_t kBatch = 256;        // blocks moved between a thread and the shared lists
constexpr std::size_t kLocalLimit = 4096;  // blocks a thread keeps per class

struct FreeBlock {
  FreeBlock* next;
};

// Blocks not held by any thread, and every slab (kept reachable). Created
// once and never destroyed, so that threads ending during process exit can
// still return their blocks.
struct Shared {
  std::mutex mutex;
  FreeBlock* free[kClasses] = {};
  std::vector<void*> slabs;
};

Shared& shared() {
  static Shared* instance = new Shared;
  return *instance;
}

// Detaches up to `count` blocks from the front of `list`; returns them.
FreeBlock* takeBatch(FreeBlock*& list, std::size_t count, std::size_t& taken) {
  FreeBlock* first = list;
  FreeBlock* last = nullptr;
  taken = 0;
  for (FreeBlock* block = list; block != nullptr && taken < count; block = block->next) {
    last = block;
    ++taken;
  }
  if (last == nullptr) return nullptr;
  list = last->next;
  last->next = nullptr;
  return first;
}

// Set once this thread's cache is destroyed (trivial, so it outlives it):
// blocks freed later, by destructors running at thread or process exit, go
// straight to the shared lists.
thread_local bool cacheGone = false;

void* allocateShared(std::size_t c);
void releaseShared(std::size_t c, FreeBlock* block);

struct ThreadCache {
  FreeBlock* free[kClasses] = {};
  std::size_t count[kClasses] = {};

  ~ThreadCache() {
    cacheGone = true;
    Shared& pool = shared();
    std::lock_guard<std::mutex> lock(pool.mutex);
    for (std::size_t c = 0; c < kClasses; ++c) {
      while (free[c] != nullptr) {
        FreeBlock* block = free[c];
        free[c] = block->next;
        block->next = pool.free[c];
        pool.free[c] = block;
      }
    }
  }

  void refill(std::size_t c) {
    Shared& pool = shared();
    std::lock_guard<std::mutex> lock(pool.mutex);
    std::size_t taken = 0;
    free[c] = takeBatch(pool.free[c], kBatch, taken);
    count[c] = taken;
    if (taken > 0) return;
    const std::size_t size = (c + 1) * kGranule;
    char* slab = static_cast<char*>(::operator new(kSlabBytes));
    pool.slabs.push_back(slab);
    const std::size_t blocks = kSlabBytes / size;
    for (std::size_t i = blocks; i > 0; --i) {  // first block of the slab first
      FreeBlock* block = reinterpret_cast<FreeBlock*>(slab + (i - 1) * size);
      block->next = free[c];
      free[c] = block;
    }
    count[c] = blocks;
  }

  void spill(std::size_t c) {
    std::size_t taken = 0;
    FreeBlock* batch = takeBatch(free[c], kLocalLimit / 2, taken);
    count[c] -= taken;
    FreeBlock* last = batch;
    while (last->next != nullptr) last = last->next;
    Shared& pool = shared();
    std::lock_guard<std::mutex> lock(pool.mutex);
    last->next = pool.free[c];
    pool.free[c] = batch;
  }
};

thread_local ThreadCache cache;

void* allocateShared(std::size_t c) {
  {
    Shared& pool = shared();
    std::lock_guard<std::mutex> lock(pool.mutex);
    if (FreeBlock* block = pool.free[c]) {
      pool.free[c] = block->next;
      return block;
    }
  }
  return ::operator new((c + 1) * kGranule);  // never released to the heap
}

void releaseShared(std::size_t c, FreeBlock* block) {
  Shared& pool = shared();
  std::lock_guard<std::mutex> lock(pool.mutex);
  block->next = pool.free[c];
  pool.free[c] = block;
}

}  // namespace

void* allocate(std::size_t size) {
  if (size == 0 || size > kClasses * kGranule) return ::operator new(size);
  const std::size_t c = (size - 1) / kGranule;
  if (cacheGone) return allocateShared(c);
  if (cache.free[c] == nullptr) cache.refill(c);
  FreeBlock* block = cache.free[c];
  cache.free[c] = block->next;
  --cache.count[c];
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
  freed->next = cache.free[c];
  cache.free[c] = freed;
  if (++cache.count[c] > kLocalLimit) cache.spill(c);
}

#endif

}  // namespace xmlpool
}  // namespace tvan
