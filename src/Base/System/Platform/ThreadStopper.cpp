#include "Base/System/Platform/ThreadStopper.h"

#include <link.h>
#include <pthread.h>
#include <setjmp.h>
#include <sys/syscall.h>
#include <ucontext.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstring>
#include <thread>

#if defined(__SANITIZE_ADDRESS__)
#include <sanitizer/asan_interface.h>
#endif

#include "Base/System/Platform/Clock.h"
#include "Base/System/Platform/ThreadStop.h"

namespace tvan {
namespace platform {

namespace {

// The thread's own stopper and exit point while it is inside run().
__thread ThreadStopper* tlsStopper __attribute__((tls_model("initial-exec"))) = nullptr;
__thread sigjmp_buf* tlsExitPoint __attribute__((tls_model("initial-exec"))) = nullptr;
// The thread's stack, taken when it enters run().
__thread char* tlsStackLow __attribute__((tls_model("initial-exec"))) = nullptr;
__thread size_t tlsStackSize __attribute__((tls_model("initial-exec"))) = 0;

void recordStack() {
  pthread_attr_t attributes;
  if (pthread_getattr_np(pthread_self(), &attributes) != 0) return;
  void* low = nullptr;
  size_t size = 0;
  if (pthread_attr_getstack(&attributes, &low, &size) == 0) {
    tlsStackLow = static_cast<char*>(low);
    tlsStackSize = size;
  }
  pthread_attr_destroy(&attributes);
}

// An unwind that starts inside a blocking call passes frames whose
// AddressSanitizer redzones are never cleared (no instrumented epilogue runs),
// and the sanitizer's own bookkeeping on the way trips over them. The thread
// that is about to be cancelled clears the marks of its whole stack first;
// it only unwinds from then on.
void prepareStackForUnwind() {
#if defined(__SANITIZE_ADDRESS__)
  if (tlsStackLow != nullptr) __asan_unpoison_memory_region(tlsStackLow, tlsStackSize);
#endif
}

int stopSignal() { return SIGRTMAX - 3; }

// Code ranges of the shared objects that may hold locks of their own (the
// allocator, stdio, ACE queues, the library's internal tables): a forced stop
// that lands there waits. Tables are published once and never freed, since a
// signal handler on another thread may still read an older one.
struct CodeRange {
  uintptr_t begin;
  uintptr_t end;
};
struct RangeTable {
  int count = 0;
  CodeRange ranges[256];
  const RangeTable* older = nullptr;  // kept reachable, never freed
};
std::atomic<const RangeTable*> lockHoldingCode{nullptr};

bool holdsLocks(const char* objectName) {
  static const char* const kNames[] = {
      "libc.so",  "libstdc++", "libgcc_s", "ld-linux", "linux-vdso", "libm.so",  "libpthread",
      "libdl.so", "librt.so",  "libACE",   "libtvan",  "libkefcore", "libasan",  "libubsan",
      "libtsan",  "liblsan",   "libboost", "libsqlite", "libtq_Database", "libpq"};
  for (const char* name : kNames) {
    if (std::strstr(objectName, name) != nullptr) return true;
  }
  return false;
}

int collectRanges(dl_phdr_info* info, size_t, void* data) {
  auto* table = static_cast<RangeTable*>(data);
  if (info->dlpi_name == nullptr || !holdsLocks(info->dlpi_name)) return 0;
  for (int i = 0; i < info->dlpi_phnum; ++i) {
    const ElfW(Phdr)& segment = info->dlpi_phdr[i];
    if (segment.p_type != PT_LOAD || !(segment.p_flags & PF_X)) continue;
    if (table->count == static_cast<int>(sizeof table->ranges / sizeof table->ranges[0])) return 1;
    const uintptr_t begin = info->dlpi_addr + segment.p_vaddr;
    table->ranges[table->count++] = CodeRange{begin, begin + segment.p_memsz};
  }
  return 0;
}

void publishLockHoldingCode() {
  auto* table = new RangeTable;
  dl_iterate_phdr(&collectRanges, table);
  const RangeTable* previous = lockHoldingCode.load(std::memory_order_acquire);
  do {
    table->older = previous;
  } while (!lockHoldingCode.compare_exchange_weak(previous, table, std::memory_order_acq_rel,
                                                  std::memory_order_acquire));
}

// True when the interrupted instruction lies outside every lock-holding
// object, so that abandoning the frames above the exit point leaks at most
// what the thread's own code owned.
bool interruptedInOwnCode(void* context) {
#if defined(__x86_64__)
  const auto* uc = static_cast<const ucontext_t*>(context);
  const auto pc = static_cast<uintptr_t>(uc->uc_mcontext.gregs[REG_RIP]);
  const RangeTable* table = lockHoldingCode.load(std::memory_order_acquire);
  if (table == nullptr) return false;
  for (int i = 0; i < table->count; ++i) {
    if (pc >= table->ranges[i].begin && pc < table->ranges[i].end) return false;
  }
  return true;
#else
  (void)context;
  return false;  // only at the end of a critical section
#endif
}

}  // namespace

struct ThreadStopper::Registration {
  explicit Registration(ThreadStopper& stopper) : stopper_(stopper) {
    std::lock_guard<std::mutex> hold(stopper_.mutex_);
    stopper_.running_ = true;
    stopper_.forcing_.store(false, std::memory_order_relaxed);
    stopper_.cancelling_.store(false, std::memory_order_relaxed);
    stopper_.prepared_.store(false, std::memory_order_relaxed);
    stopper_.thread_ = pthread_self();
    stopper_.tid_ = static_cast<pid_t>(currentThreadId());
    tlsStopper = &stopper_;
    recordStack();
  }
  // Also runs while a cancellation unwinds the thread.
  ~Registration() {
    tlsStopper = nullptr;
    tlsExitPoint = nullptr;
    tlsStackLow = nullptr;
    tlsStopPending = 0;
    std::lock_guard<std::mutex> hold(stopper_.mutex_);
    stopper_.running_ = false;
  }
  ThreadStopper& stopper_;
};

int ThreadStopper::run(int (*body)(void*), void* context, int stoppedResult) {
  installSignalHandler();
  Registration registration(*this);
  sigjmp_buf exitPoint;
  if (sigsetjmp(exitPoint, 1) != 0) return stoppedResult;
  tlsExitPoint = &exitPoint;
  return body(context);
}

bool ThreadStopper::isRunning() const {
  std::lock_guard<std::mutex> hold(mutex_);
  return running_;
}

uint32_t ThreadStopper::threadId() const {
  std::lock_guard<std::mutex> hold(mutex_);
  return static_cast<uint32_t>(tid_);
}

bool ThreadStopper::cancel(long prepareMillis) {
  {
    std::lock_guard<std::mutex> hold(mutex_);
    if (!running_) return false;
    cancelling_.store(true, std::memory_order_release);
    ::syscall(SYS_tgkill, getpid(), tid_, stopSignal());
  }
  const long deadline = processClockMillis() + prepareMillis;
  while (!prepared_.load(std::memory_order_acquire) && isRunning() &&
         processClockMillis() < deadline) {
    std::this_thread::sleep_for(std::chrono::milliseconds(1));
  }
  std::lock_guard<std::mutex> hold(mutex_);
  if (!running_) return true;
  // Still inside run(), so the thread (and its pthread_t) exists.
  return pthread_cancel(thread_) == 0;
}

bool ThreadStopper::force(long timeoutMillis, long intervalMillis) {
  publishLockHoldingCode();
  forcing_.store(true, std::memory_order_release);
  const long deadline = processClockMillis() + timeoutMillis;
  for (;;) {
    {
      std::lock_guard<std::mutex> hold(mutex_);
      if (!running_) return true;
      ::syscall(SYS_tgkill, getpid(), tid_, stopSignal());
    }
    if (waitUntilStopped(intervalMillis)) return true;
    if (processClockMillis() >= deadline) return false;
  }
}

bool ThreadStopper::waitUntilStopped(long timeoutMillis) const {
  const long deadline = processClockMillis() + timeoutMillis;
  while (isRunning()) {
    if (processClockMillis() >= deadline) return false;
    std::this_thread::sleep_for(std::chrono::milliseconds(1));
  }
  return true;
}

void ThreadStopper::stopCallingThreadIfRequested() {
  ThreadStopper* stopper = tlsStopper;
  if (stopper != nullptr && tlsExitPoint != nullptr &&
      stopper->forcing_.load(std::memory_order_acquire)) {
    siglongjmp(*tlsExitPoint, 1);
  }
  tlsStopPending = 0;
}

void ThreadStopper::onStopSignal(int, siginfo_t*, void* context) {
  const int savedErrno = errno;
  ThreadStopper* stopper = tlsStopper;
  if (stopper != nullptr && stopper->cancelling_.load(std::memory_order_acquire) &&
      !stopper->prepared_.load(std::memory_order_relaxed)) {
    prepareStackForUnwind();
    stopper->prepared_.store(true, std::memory_order_release);
  }
  if (stopper != nullptr && stopper->forcing_.load(std::memory_order_acquire)) {
    if (tlsProtectedDepth == 0 && tlsExitPoint != nullptr && interruptedInOwnCode(context)) {
      siglongjmp(*tlsExitPoint, 1);
    }
    tlsStopPending = 1;
  }
  errno = savedErrno;
}

void ThreadStopper::installSignalHandler() {
  static const bool installed = [] {
    struct sigaction action;
    std::memset(&action, 0, sizeof action);
    action.sa_sigaction = &ThreadStopper::onStopSignal;
    // Interrupted system calls of a thread that is not stopped yet go on.
    action.sa_flags = SA_SIGINFO | SA_RESTART;
    sigemptyset(&action.sa_mask);
    return sigaction(stopSignal(), &action, nullptr) == 0;
  }();
  (void)installed;
}

}  // namespace platform
}  // namespace tvan
