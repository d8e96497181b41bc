#include "Base/System/Platform/Clock.h"

#include <pthread.h>
#include <sys/syscall.h>
#include <time.h>
#include <unistd.h>

#include <atomic>

namespace tvan {
namespace platform {

uint64_t monotonicNanos() {
  timespec ts;
  clock_gettime(CLOCK_MONOTONIC, &ts);
  return static_cast<uint64_t>(ts.tv_sec) * 1000000000ull + static_cast<uint64_t>(ts.tv_nsec);
}

namespace {

uint64_t processStartNanos() {
  // Taken at the first use, during static initialisation of the library at
  // the latest: as close to process start as a shared library gets.
  static const uint64_t start = monotonicNanos();
  return start;
}
const uint64_t forceEarlyStart = processStartNanos();

// The kernel thread id is cached per thread; a forked child has new ids, so
// every fork moves the generation on and the caches refill.
std::atomic<unsigned> forkGeneration{0};
void onForkChild() { forkGeneration.fetch_add(1, std::memory_order_relaxed); }
const int atforkRegistered = pthread_atfork(nullptr, nullptr, &onForkChild);

}  // namespace

long processClockMillis() {
  return static_cast<long>((monotonicNanos() - processStartNanos()) / 1000000ull);
}

long coarseProcessClockMillis() {
  timespec ts;
  clock_gettime(CLOCK_MONOTONIC_COARSE, &ts);
  const uint64_t now =
      static_cast<uint64_t>(ts.tv_sec) * 1000000000ull + static_cast<uint64_t>(ts.tv_nsec);
  const uint64_t start = processStartNanos();
  return now > start ? static_cast<long>((now - start) / 1000000ull) : 0;
}

uint32_t currentThreadId() {
  struct Cache {
    unsigned generation = ~0u;
    uint32_t id = 0;
  };
  static thread_local Cache cache;
  const unsigned generation = forkGeneration.load(std::memory_order_relaxed);
  if (cache.generation != generation) {
    cache.id = static_cast<uint32_t>(::syscall(SYS_gettid));
    cache.generation = generation;
  }
  return cache.id;
}

}  // namespace platform
}  // namespace tvan
