#pragma once
// Library critical sections, and the forced end of a thread that will not end
// by itself (a service's stuck controller thread).
//
// A stop request must never take effect while the thread is inside the
// library: a thread ended while it holds a library lock (a log's named mutex,
// the configuration cache, a document's mutex) or half-way through writing a
// log entry leaves every later user of that lock blocked. So the library marks
// its critical sections on the calling thread:
//  - enterProtected()/leaveProtected() count them (every tvan::Mutex hold is
//    one); a forced stop that arrives inside one is deferred until the
//    outermost one is left. The count is a plain thread-local integer, cheap
//    enough for every mutex operation.
//  - NoCancelScope also keeps deferred thread cancellation (pthread_cancel)
//    out of the section, for sections that make system calls that are
//    cancellation points (file input and output under the log's mutex, the
//    configuration cache).
// How a stuck thread is stopped is in Base/System/Platform/ThreadStopper.h.
#include <atomic>
#include <csignal>

namespace tvan {
namespace platform {

// Critical-section depth and pending-stop mark of the calling thread. Both are
// read by the stop signal's handler on the same thread.
extern __thread int tlsProtectedDepth __attribute__((tls_model("initial-exec")));
extern __thread volatile sig_atomic_t tlsStopPending __attribute__((tls_model("initial-exec")));

// Ends the calling thread now, through the exit point it registered. Called
// when the outermost critical section is left with a stop pending.
void actOnPendingStop();

inline void enterProtected() noexcept {
  ++tlsProtectedDepth;
  std::atomic_signal_fence(std::memory_order_seq_cst);
}

inline void leaveProtected() noexcept {
  std::atomic_signal_fence(std::memory_order_seq_cst);
  if (--tlsProtectedDepth == 0 && tlsStopPending) actOnPendingStop();
}

// A critical section that also disables deferred cancellation while it runs.
class NoCancelScope {
 public:
  NoCancelScope() noexcept;
  ~NoCancelScope();
  NoCancelScope(const NoCancelScope&) = delete;
  NoCancelScope& operator=(const NoCancelScope&) = delete;

 private:
  int previousState_;
};

}  // namespace platform
}  // namespace tvan
