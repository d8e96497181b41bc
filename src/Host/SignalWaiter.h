#pragma once
// The host's signals, taken synchronously on the main thread.
//
// SIGINT, SIGTERM, SIGUSR1 and SIGUSR2 are blocked in the thread that makes
// the waiter, which must be the main thread before any other thread exists:
// threads inherit the mask, so the plug-in's controller threads never take
// one, and nothing the signals cause runs in a handler. The main loop picks
// them up with wait(). The mask stays as it is when the waiter goes, so a
// signal that arrives late stays pending instead of killing the process
// half-way through its shutdown.
#include <signal.h>

namespace kefhost {

class SignalWaiter {
 public:
  SignalWaiter();

  SignalWaiter(const SignalWaiter&) = delete;
  SignalWaiter& operator=(const SignalWaiter&) = delete;

  // Waits up to `millis` for one of the signals; its number, or 0 when none
  // came.
  int wait(long millis);

 private:
  sigset_t signals_;
};

}  // namespace kefhost
