#include "Base/System/Platform/ThreadStop.h"

#include <pthread.h>

#include "Base/System/Platform/ThreadStopper.h"

namespace tvan {
namespace platform {

__thread int tlsProtectedDepth __attribute__((tls_model("initial-exec"))) = 0;
__thread volatile sig_atomic_t tlsStopPending __attribute__((tls_model("initial-exec"))) = 0;

void actOnPendingStop() { ThreadStopper::stopCallingThreadIfRequested(); }

NoCancelScope::NoCancelScope() noexcept : previousState_(PTHREAD_CANCEL_ENABLE) {
  pthread_setcancelstate(PTHREAD_CANCEL_DISABLE, &previousState_);
  enterProtected();
}

NoCancelScope::~NoCancelScope() {
  pthread_setcancelstate(previousState_, nullptr);
  leaveProtected();
}

}  // namespace platform
}  // namespace tvan
