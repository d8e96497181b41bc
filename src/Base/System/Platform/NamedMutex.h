#pragma once
// The system-wide named lock behind tvan::Mutex's kProcessMutex kind.
//
// Each name has a POSIX shared-memory object, /dev/shm/kef.mutex.2.<escaped
// name> ("2" is the layout version), that every process opening the name
// maps. It is created and joined under the rules of SharedObjectAccess.h:
// mode 0660 with the shared group (0600 without), and an object that another
// user may not be trusted with (made by someone outside the user and the
// shared group, or writable by others) is refused, as is one this process
// may not open: every lock call on the name then fails at once with EACCES
// (Mutex throws its lock failure), and the refusal is said once on standard
// error. The object holds plain values only, never anything that this
// process or the kernel
// follows as a pointer: a header (set-up mark, layout version, magic) and one
// 64-bit owner word at kOwnerWordOffset, which is 0 when free and otherwise
// the owner's identity (LockOwner.h: thread id and a time no earlier than
// the thread's start) with a "waiters" bit set once someone sleeps on it.
// Waiters sleep on the word's low half (futex). Thread ids only mean
// anything within one PID namespace: every user of a name must be in one.
//
// Whether the calling thread holds the lock, and how often, is recorded in
// its own thread-local memory (HeldNamedLocks); the shared word only decides
// between threads and processes. A value forged into the word can break
// exclusion or make waiters wait (as anyone who may open the object can
// anyway), but never make a thread believe it holds the lock or corrupt its
// recursion count. A thread holds at most HeldNamedLocks::kCapacity distinct
// system-wide locks at once.
//
// A holder that died counts as released. A contender that has found the
// same owner in the word for 1 ms, and again every 100 ms after that, checks
// whether that thread still exists (kill(tid, 0)), is a zombie, or is a later
// thread that reuses the id (/proc/<tid>/stat); sleeps end at the next check,
// so a waiter already asleep when the holder dies takes the lock within about
// 100 ms. A word naming the caller's own thread id, which the caller does not
// hold, was left by an earlier thread with that id and is taken at once.
// tryLock checks at once, and timed locks take an abandoned lock as well. The
// uncontended lock and unlock are one atomic instruction each, inline in
// tvan::Mutex (no system call).
//
// Set-up is race-free: whoever opens the object first holds an flock on it
// while sizing and initialising it and sets the set-up mark with release
// semantics last; an opener that finds the mark unset (the creator died
// half-way) initialises it again under the same flock. A fresh object is all
// zero, which is an unlocked word. The objects (one page each) stay in
// /dev/shm after the processes end and are reused by the next run. Each name
// is mapped once per process (a process-wide table) and never unmapped, so
// any number of Mutex objects of one name share one NamedLock. An object
// removed while a process still maps it no longer excludes that process from
// users of the new object of the same name.
//
// Fork: a child's thread has a new identity, so a lock that its parent thread
// held at the fork is held by another thread for the child (it waits for the
// parent to release it, and cannot release it itself).
#include <atomic>
#include <cstddef>
#include <cstdint>
#include <ctime>
#include <string>

#include "Base/System/Platform/LockOwner.h"
#include "Base/System/Platform/ThreadStop.h"

namespace tvan {
namespace platform {

// Where the owner word sits in the shared object (layout version 2).
constexpr size_t kOwnerWordOffset = 64;

class NamedLock;

// The system-wide locks the calling thread holds and how often: its own
// memory, so no other thread or process can alter it and nothing stale
// outlives the thread.
struct HeldNamedLocks {
  static constexpr uint32_t kCapacity = 8;  // distinct locks held at once
  struct Hold {
    const NamedLock* lock;
    uint32_t depth;
  };
  uint32_t count;
  Hold holds[kCapacity];
};
extern __thread HeldNamedLocks tlsHeldNamedLocks __attribute__((tls_model("initial-exec")));

class NamedLock {
 public:
  // `word` is the owner word in the shared object (not owned; mapped for the
  // life of the process). Null gives an unnamed lock whose word is private to
  // this process.
  explicit NamedLock(std::atomic<uint64_t>* word);
  // A lock of a name whose shared object was refused: every lock call fails
  // with `error` at once.
  static NamedLock* refused(int error);
  NamedLock(const NamedLock&) = delete;
  NamedLock& operator=(const NamedLock&) = delete;

  // The common cases of lock(): true when acquired (free, or held by the
  // caller); false, with nothing changed, when lock() must do it.
  bool lockFast() {
    HeldNamedLocks& held = tlsHeldNamedLocks;
    const uint32_t count = held.count;
    if (count != 0) {
      if (HeldNamedLocks::Hold* hold = find(held)) {
        ++hold->depth;
        enterProtected();
        return true;
      }
      if (count == HeldNamedLocks::kCapacity) return false;
    }
    const uint64_t self = tlsLockOwner;
    uint64_t seen = 0;
    if (self == 0 ||
        !word_->compare_exchange_strong(seen, self, std::memory_order_acquire, std::memory_order_relaxed)) {
      return false;
    }
    remember(held);
    enterProtected();
    return true;
  }

  // The common cases of unlock(): true when released (one level, or the last
  // one with nobody waiting); false, with nothing changed, when unlock() must
  // decide.
  bool unlockFast() {
    HeldNamedLocks& held = tlsHeldNamedLocks;
    HeldNamedLocks::Hold* hold = find(held);
    if (hold == nullptr) return false;
    if (hold->depth > 1) {
      --hold->depth;
    } else {
      uint64_t seen = tlsLockOwner;
      if (!word_->compare_exchange_strong(seen, 0, std::memory_order_release, std::memory_order_relaxed)) {
        return false;
      }
      forget(held, hold);
    }
    leaveProtected();
    return true;
  }

  // Waits without limit. 0, or ENOLCK when the caller already holds
  // HeldNamedLocks::kCapacity other system-wide locks, or the refusal's
  // error for a refused name.
  int lock();

  // 0, EBUSY when a live thread holds it elsewhere, ENOLCK, or the refusal.
  int tryLock();

  // 0, ETIMEDOUT when `deadline` (CLOCK_REALTIME) passes first, ENOLCK, or
  // the refusal.
  int timedLock(const timespec& deadline);

  // Releases one level; false (and no effect) when the caller does not hold it.
  bool unlock();

  bool isShared() const { return word_ != &privateWord_; }
  // Nonzero (an errno value) when the name's shared object was refused.
  int refusal() const { return refusal_; }

 private:
  // This lock's record among the caller's holds (the newest first, since
  // holds nest); null when the caller does not hold it.
  HeldNamedLocks::Hold* find(HeldNamedLocks& held) const {
    for (uint32_t i = held.count; i-- > 0;) {
      if (held.holds[i].lock == this) return &held.holds[i];
    }
    return nullptr;
  }
  // Records a first hold; the caller checked that there is room.
  void remember(HeldNamedLocks& held) const { held.holds[held.count++] = {this, 1}; }
  static void forget(HeldNamedLocks& held, HeldNamedLocks::Hold* hold) {
    const HeldNamedLocks::Hold* last = &held.holds[--held.count];
    if (hold != last) *hold = *last;
  }
  // Acquires the word for `self` when the caller does not hold the lock:
  // 0, or ETIMEDOUT only with a deadline.
  int lockContended(uint64_t self, const timespec* deadline);
  // Takes the word from `seen` (free, or naming an owner that has ended).
  bool take(uint64_t& seen, uint64_t self);
  bool holderHasEnded(uint64_t seen, uint64_t self) const;

  std::atomic<uint64_t>* const word_;  // shared owner word; not owned
  std::atomic<uint64_t> privateWord_{0};
  int refusal_ = 0;
};

// The lock of `name` (UTF-16 units), shared by every user of the name in this
// process. An empty name gives a new unnamed lock private to this process.
// Throws std::system_error when the shared object cannot be opened or mapped
// for a reason other than a refusal (see above).
// Give the result back through closeNamedMutex().
NamedLock* openNamedMutex(const std::u16string& name);
void closeNamedMutex(NamedLock* lock);

// The shared-memory object name used for `name` (for diagnostics and tests).
std::string sharedObjectName(const std::u16string& name);

}  // namespace platform
}  // namespace tvan
