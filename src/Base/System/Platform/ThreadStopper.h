#pragma once
// Ending a thread that does not end by itself, without ending it inside the
// library.
//
// There is no safe way to terminate an arbitrary thread. A ThreadStopper gives
// one thread (the controller thread of a service) two escalating ways out,
// used by another thread (the service's shutdown):
//  1. cancel(): deferred cancellation. It ends a thread blocked in a wait or a
//     sleep (any cancellation point) by unwinding its stack, so destructors
//     run and waits release what they hold. Library sections that make
//     system calls keep it out (NoCancelScope, ThreadStop.h).
//  2. force(): for a thread that never reaches a cancellation point (a job
//     spinning in its own code). A signal interrupts it; when it is running
//     its own code outside every library critical section, it leaves through
//     the exit point of run() at once (its frames above run() are abandoned,
//     not unwound: what they own leaks). When it is inside a library critical
//     section, or inside a shared object that may hold locks (the C and C++
//     run-time libraries, ACE, the framework's own libraries, the
//     sanitizers), the stop waits: it takes effect when the outermost
//     critical section is left, or at a later signal (force() signals
//     repeatedly until the thread is gone or the time is up).
// Either way run() returns to its caller on the stopped thread (after a
// forced stop) or the thread unwinds through it (after a cancellation), and
// isRunning() turns false only then.
//
// Lifetime: the ThreadStopper must outlive the run() call on its thread; it
// is not copyable. cancel() and force() may be called from any thread other
// than the one in run().
#include <signal.h>
#include <sys/types.h>

#include <atomic>
#include <cstdint>
#include <mutex>

namespace tvan {
namespace platform {

class ThreadStopper {
 public:
  ThreadStopper() = default;
  ThreadStopper(const ThreadStopper&) = delete;
  ThreadStopper& operator=(const ThreadStopper&) = delete;

  // On the thread to be made stoppable: runs body(context) and returns its
  // result, or `stoppedResult` after a forced stop. Not re-entrant: one run()
  // at a time per stopper.
  int run(int (*body)(void*), void* context, int stoppedResult);

  // True while a thread is inside run().
  bool isRunning() const;
  // The kernel thread id of the thread in run() (0 when none ran yet).
  uint32_t threadId() const;

  // Requests deferred cancellation of the thread in run(). False when no
  // thread is in run(). The thread is first interrupted once so that it can
  // prepare its stack for being unwound from wherever it waits (needed by
  // AddressSanitizer, whose stack marks an unwind from a blocking call would
  // leave behind); that takes at most `prepareMillis`.
  bool cancel(long prepareMillis = 200);

  // Forces the thread in run() out, signalling it every `intervalMillis`
  // until it has left run() or `timeoutMillis` passed. True when it left.
  bool force(long timeoutMillis, long intervalMillis = 10);

  // Waits until the thread has left run(), at most `timeoutMillis`. True when
  // it left (or none was running).
  bool waitUntilStopped(long timeoutMillis) const;

  // Called by the library when the calling thread leaves its outermost
  // critical section with a stop pending: leaves through run()'s exit point
  // when this thread is being forced out, otherwise clears the mark.
  static void stopCallingThreadIfRequested();

 private:
  struct Registration;
  friend struct Registration;
  static void onStopSignal(int, siginfo_t*, void* context);
  static void installSignalHandler();

  // Guards the thread identity below against the thread leaving run() while
  // another thread signals or cancels it.
  mutable std::mutex mutex_;
  std::atomic<bool> running_{false};  // also read by isRunning() from other threads
  std::atomic<bool> forcing_{false};    // read by the signal handler
  std::atomic<bool> cancelling_{false}; // read by the signal handler
  std::atomic<bool> prepared_{false};   // set by the signal handler
  pthread_t thread_{};
  pid_t tid_ = 0;
};

}  // namespace platform
}  // namespace tvan
