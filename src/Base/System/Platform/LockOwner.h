#pragma once
// Who holds a lock: the identity that the library's locks record for their
// owning thread, and whether a recorded owner has ended.
//
// A thread's identity is a 64-bit value: its kernel thread id in the low 32
// bits and, in the high 32 bits, the boot time in whole seconds at which the
// thread first asked for its identity (CLOCK_BOOTTIME, the clock of the start
// times in /proc). Thread ids are reused once the kernel's id space wraps
// (pid_max may be as low as 32768), so an id alone may come to name another,
// live thread; that thread started after the recorded time, which is how
// ownerHasEnded() tells the two apart.
//
// The identity is cached in initial-exec thread-local storage, so that the
// lock paths read it with one load. A child made by fork() starts afresh (its
// thread has a new id); a child made by a raw clone() or _Fork(), which run no
// fork handlers, would keep its parent thread's identity and must not take the
// library's locks.
#include <cstdint>

namespace tvan {
namespace platform {

// Bits of the thread id within an identity (and within a lock word). Thread
// ids never exceed 2^22 on Linux.
constexpr uint32_t kThreadIdMask = 0x3fffffff;

extern __thread uint64_t tlsLockOwner __attribute__((tls_model("initial-exec")));

// Computes and caches the calling thread's identity (a system call and a
// clock read, once per thread).
uint64_t initLockOwner();

// The calling thread's identity; never 0.
inline uint64_t lockOwner() {
  const uint64_t self = tlsLockOwner;
  return __builtin_expect(self != 0, 1) ? self : initLockOwner();
}

inline uint64_t makeLockOwner(uint32_t threadId, uint32_t bootSeconds) {
  return (static_cast<uint64_t>(bootSeconds) << 32) | (threadId & kThreadIdMask);
}

inline uint32_t ownerThreadId(uint64_t owner) {
  return static_cast<uint32_t>(owner) & kThreadIdMask;
}

// Whether the thread that `owner` names has ended: no thread has its id any
// more, or the thread with that id is a zombie or started after the identity
// was made (the id was reused); see /proc/<tid>/stat. False when it cannot
// tell, for example when /proc hides other users' processes: a lock is never
// taken from a holder that may still run. Identities only mean anything among
// processes of one PID namespace. A few system calls; not a cancellation
// point.
bool ownerHasEnded(uint64_t owner);

}  // namespace platform
}  // namespace tvan
