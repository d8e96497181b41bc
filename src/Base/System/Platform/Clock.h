#pragma once
// Monotonic time sources of the Linux build. Process-relative milliseconds
// stand in for the run-time library's wall-clock-since-start `clock()`, which
// on Linux counts CPU time instead.
#include <cstdint>

namespace tvan {
namespace platform {

// Milliseconds since the process started (first use of the clock), from a
// monotonic wall clock.
long processClockMillis();

// Milliseconds since the process started, as processClockMillis, from the
// coarse monotonic clock: a few milliseconds behind at most, and cheap
// enough for checks on every log entry.
long coarseProcessClockMillis();

// Nanoseconds from CLOCK_MONOTONIC; its rate is 1e9 ticks per second.
uint64_t monotonicNanos();

// The calling thread's kernel thread id (gettid).
uint32_t currentThreadId();

}  // namespace platform
}  // namespace tvan
