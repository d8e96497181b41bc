#include "Base/System/Platform/Futex.h"

#include <linux/futex.h>
#include <sys/syscall.h>
#include <time.h>
#include <unistd.h>

namespace tvan {
namespace platform {

namespace {

int operation(int op, bool shared) { return shared ? op : (op | FUTEX_PRIVATE_FLAG); }

}  // namespace

void futexWait(const void* word, uint32_t expected, bool shared, long long timeoutNanos) {
  timespec timeout;
  timespec* limit = nullptr;
  if (timeoutNanos >= 0) {
    timeout.tv_sec = static_cast<time_t>(timeoutNanos / 1000000000);
    timeout.tv_nsec = static_cast<long>(timeoutNanos % 1000000000);
    limit = &timeout;
  }
  // A raw system call is no cancellation point, and a lock call must not be
  // one.
  ::syscall(SYS_futex, word, operation(FUTEX_WAIT, shared), expected, limit, nullptr, 0);
}

void futexWake(const void* word, int count, bool shared) {
  ::syscall(SYS_futex, word, operation(FUTEX_WAKE, shared), count, nullptr, nullptr, 0);
}

}  // namespace platform
}  // namespace tvan
