#pragma once
// The kernel's wait queue on a 32-bit word (futex), for the slow paths of the
// library's locks. `shared`: the word lives in memory that other processes map
// (the queue is then keyed by the object, not by this process's address).
#include <cstdint>

namespace tvan {
namespace platform {

// Sleeps while *word == expected, at most `timeoutNanos` (negative: without
// limit). Returns early on a wake-up, a signal or a changed word; the caller
// re-reads the word either way. Not a cancellation point.
void futexWait(const void* word, uint32_t expected, bool shared, long long timeoutNanos);

// Wakes up to `count` threads sleeping on `word`.
void futexWake(const void* word, int count, bool shared);

// Lets the other hardware thread of the core run while spinning.
inline void cpuRelax() { __builtin_ia32_pause(); }

}  // namespace platform
}  // namespace tvan
