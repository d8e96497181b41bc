#include "Base/System/Platform/BusErrorGuard.h"

#include <pthread.h>
#include <setjmp.h>
#include <signal.h>

#include <atomic>
#include <mutex>

namespace tvan {
namespace platform {

namespace {

struct Guard {
  sigjmp_buf resume;
  Guard* outer;
};

// The innermost guard of the thread: plain thread-local data, readable from
// the signal handler.
__thread Guard* tlsGuard __attribute__((tls_model("initial-exec"))) = nullptr;

struct sigaction previousAction;
std::atomic<bool> installed{false};

void forward(int signal, siginfo_t* info, void* context) {
  if ((previousAction.sa_flags & SA_SIGINFO) != 0) {
    if (previousAction.sa_sigaction != nullptr) {
      previousAction.sa_sigaction(signal, info, context);
      return;
    }
  } else if (previousAction.sa_handler != SIG_DFL && previousAction.sa_handler != SIG_IGN) {
    previousAction.sa_handler(signal);
    return;
  }
  // No handler before ours (an ignored fault cannot be ignored either): the
  // default action, as if we had never been installed.
  struct sigaction fallback {};
  fallback.sa_handler = SIG_DFL;
  sigemptyset(&fallback.sa_mask);
  sigaction(signal, &fallback, nullptr);
  raise(signal);
}

void onBusError(int signal, siginfo_t* info, void* context) {
  Guard* guard = tlsGuard;
  if (guard != nullptr && info != nullptr && info->si_code == BUS_ADRERR) {
    tlsGuard = guard->outer;
    siglongjmp(guard->resume, 1);
  }
  forward(signal, info, context);
}

void install() {
  static std::mutex mutex;
  std::lock_guard<std::mutex> hold(mutex);
  if (installed.load(std::memory_order_relaxed)) return;
  struct sigaction action {};
  action.sa_sigaction = &onBusError;
  sigemptyset(&action.sa_mask);
  // SA_NODEFER: a guard left by siglongjmp does not keep SIGBUS blocked.
  action.sa_flags = SA_SIGINFO | SA_NODEFER | SA_ONSTACK;
  if (sigaction(SIGBUS, &action, &previousAction) == 0) installed.store(true, std::memory_order_release);
}

}  // namespace

bool BusErrorGuard::run(void (*body)(void*), void* context) {
  if (!installed.load(std::memory_order_acquire)) install();
  Guard guard;
  guard.outer = tlsGuard;
  if (sigsetjmp(guard.resume, 0) != 0) {
    // The handler has made the outer guard current again. SA_NODEFER should
    // have left SIGBUS deliverable, but a runtime that wraps handlers may
    // not pass the flag on; a blocked SIGBUS at the next fault would end
    // the process.
    sigset_t bus;
    sigemptyset(&bus);
    sigaddset(&bus, SIGBUS);
    pthread_sigmask(SIG_UNBLOCK, &bus, nullptr);
    return false;
  }
  tlsGuard = &guard;
  body(context);
  tlsGuard = guard.outer;
  return true;
}

}  // namespace platform
}  // namespace tvan
