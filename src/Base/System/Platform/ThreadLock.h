#pragma once
// The in-process recursive lock behind tvan::Mutex's kThreadMutex kind.
//
// One 32-bit word holds the owner's thread id and a "waiters" bit (0 when
// free); the recursion depth sits beside it and only the owner touches it.
// The uncontended lock and unlock are one atomic instruction each, inline in
// tvan::Mutex (lockFast/unlockFast); while the process has a single thread
// they are plain loads and stores, as glibc does for its own locks: no other
// thread can interleave, and glibc clears __libc_single_threaded before a
// second thread starts. A contended lock spins
// briefly and then sleeps on the word (futex). Every acquisition, at every
// depth, enters a library critical section and every release leaves one
// (ThreadStop.h).
//
// A thread that ends while holding the lock leaves it held, as a critical
// section would. Fork: the child's thread has a new id, so a lock its parent
// thread held at the fork stays held in the child.
#include <sys/single_threaded.h>

#include <atomic>
#include <cstdint>

#include "Base/System/Platform/LockOwner.h"
#include "Base/System/Platform/ThreadStop.h"

namespace tvan {
namespace platform {

class ThreadLock {
 public:
  ThreadLock() = default;
  ThreadLock(const ThreadLock&) = delete;
  ThreadLock& operator=(const ThreadLock&) = delete;

  // The common cases of lock(): true when acquired (free, or held by the
  // caller); false, with nothing changed, when lock() must do it.
  bool lockFast() {
    const uint32_t self = ownerThreadId(tlsLockOwner);
    if (self == 0) return false;
    uint32_t seen = word_.load(std::memory_order_relaxed);
    if (seen == 0) {
      if (__libc_single_threaded) {
        word_.store(self, std::memory_order_relaxed);
      } else if (!word_.compare_exchange_strong(seen, self, std::memory_order_acquire,
                                                std::memory_order_relaxed)) {
        return false;
      }
      depth_ = 1;
    } else if ((seen & kThreadIdMask) == self) {
      ++depth_;
    } else {
      return false;
    }
    enterProtected();
    return true;
  }

  // The common cases of unlock(): true when released (one level, or the last
  // one with nobody waiting); false, with nothing changed, when unlock() must
  // decide.
  bool unlockFast() {
    const uint32_t self = ownerThreadId(tlsLockOwner);
    uint32_t seen = word_.load(std::memory_order_relaxed);
    if (self == 0 || (seen & kThreadIdMask) != self) return false;
    if (depth_ > 1) {
      --depth_;
    } else {
      if (seen != self) return false;  // waiters to wake
      if (__libc_single_threaded) {
        word_.store(0, std::memory_order_release);
      } else if (!word_.compare_exchange_strong(seen, 0, std::memory_order_release,
                                                std::memory_order_relaxed)) {
        return false;
      }
    }
    leaveProtected();
    return true;
  }

  // Waits without limit.
  void lock();
  // False when another thread holds it.
  bool tryLock();
  // Releases one level; false (and no effect) when the caller does not hold it.
  bool unlock();

 private:
  static constexpr uint32_t kWaitersBit = 0x80000000u;

  std::atomic<uint32_t> word_{0};  // owner's thread id | kWaitersBit; 0 when free
  uint32_t depth_ = 0;             // recursion depth, owner only
};

}  // namespace platform
}  // namespace tvan
