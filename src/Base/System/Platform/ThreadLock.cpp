#include "Base/System/Platform/ThreadLock.h"

#include "Base/System/Platform/Futex.h"

namespace tvan {
namespace platform {

namespace {

// Spins before sleeping: a holder running on another processor usually lets
// go sooner than a sleep and a wake-up take.
constexpr int kSpins = 100;

}  // namespace

void ThreadLock::lock() {
  if (lockFast()) return;
  const uint32_t self = ownerThreadId(lockOwner());
  uint32_t seen = word_.load(std::memory_order_relaxed);
  if ((seen & kThreadIdMask) == self) {
    ++depth_;
    enterProtected();
    return;
  }
  for (int i = 0; i < kSpins; ++i) {
    if (seen == 0 &&
        word_.compare_exchange_weak(seen, self, std::memory_order_acquire, std::memory_order_relaxed)) {
      depth_ = 1;
      enterProtected();
      return;
    }
    cpuRelax();
    seen = word_.load(std::memory_order_relaxed);
  }
  for (;;) {
    if (seen == 0) {
      // Others may still sleep: keep the waiters bit so that our unlock
      // wakes the next one.
      if (word_.compare_exchange_weak(seen, self | kWaitersBit, std::memory_order_acquire,
                                      std::memory_order_relaxed)) {
        break;
      }
      continue;
    }
    if ((seen & kWaitersBit) == 0) {
      if (!word_.compare_exchange_weak(seen, seen | kWaitersBit, std::memory_order_relaxed,
                                       std::memory_order_relaxed)) {
        continue;
      }
      seen |= kWaitersBit;
    }
    futexWait(&word_, seen, false, -1);
    seen = word_.load(std::memory_order_relaxed);
  }
  depth_ = 1;
  enterProtected();
}

bool ThreadLock::tryLock() {
  lockOwner();  // the fast path needs the caller's identity set up
  return lockFast();
}

bool ThreadLock::unlock() {
  const uint32_t self = ownerThreadId(lockOwner());
  if ((word_.load(std::memory_order_relaxed) & kThreadIdMask) != self) return false;
  if (--depth_ == 0 && (word_.exchange(0, std::memory_order_release) & kWaitersBit) != 0) {
    futexWake(&word_, 1, false);
  }
  leaveProtected();
  return true;
}

}  // namespace platform
}  // namespace tvan
