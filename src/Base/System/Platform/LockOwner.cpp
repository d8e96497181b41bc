#include "Base/System/Platform/LockOwner.h"

#include <fcntl.h>
#include <pthread.h>
#include <signal.h>
#include <sys/syscall.h>
#include <time.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace tvan {
namespace platform {

__thread uint64_t tlsLockOwner __attribute__((tls_model("initial-exec"))) = 0;

namespace {

// Runs in the child of fork(), on its only thread, whose id is new.
void forgetOwnerAfterFork() { tlsLockOwner = 0; }

uint32_t bootSeconds() {
  timespec ts;
  if (clock_gettime(CLOCK_BOOTTIME, &ts) != 0) return 0;
  return static_cast<uint32_t>(ts.tv_sec);
}

// What /proc/<tid>/stat says about a thread.
struct ThreadStat {
  char state = '?';
  unsigned long long startSeconds = 0;  // since boot
};

enum class StatResult { kRead, kGone, kUnknown };

StatResult readThreadStat(uint32_t tid, ThreadStat* out) {
  char path[40];
  std::snprintf(path, sizeof path, "/proc/%u/stat", tid);
  // open/read/close are cancellation points; a lock call is not.
  int cancelState;
  pthread_setcancelstate(PTHREAD_CANCEL_DISABLE, &cancelState);
  char text[1024];
  ssize_t length = -1;
  int error = 0;
  const int fd = ::open(path, O_RDONLY | O_CLOEXEC);
  if (fd < 0) {
    error = errno;
  } else {
    do {
      length = ::read(fd, text, sizeof text - 1);
    } while (length < 0 && errno == EINTR);
    ::close(fd);
  }
  pthread_setcancelstate(cancelState, nullptr);
  if (fd < 0) return error == ENOENT || error == ESRCH ? StatResult::kGone : StatResult::kUnknown;
  if (length <= 0) return StatResult::kUnknown;
  text[length] = '\0';
  // "tid (comm) state ppid ... starttime ...": the command name may hold
  // spaces and parentheses, so the fields are counted from its last ')'.
  const char* p = std::strrchr(text, ')');
  if (p == nullptr) return StatResult::kUnknown;
  ++p;
  // Field 3 is the state, field 22 the start time in clock ticks.
  for (int field = 3; field <= 22; ++field) {
    while (*p == ' ') ++p;
    if (*p == '\0') return StatResult::kUnknown;
    if (field == 3) out->state = *p;
    if (field == 22) {
      static const long ticksPerSecond = sysconf(_SC_CLK_TCK);
      if (ticksPerSecond <= 0) return StatResult::kUnknown;
      out->startSeconds = std::strtoull(p, nullptr, 10) / static_cast<unsigned long long>(ticksPerSecond);
      return StatResult::kRead;
    }
    while (*p != ' ' && *p != '\0') ++p;
  }
  return StatResult::kUnknown;
}

}  // namespace

uint64_t initLockOwner() {
  static const int registered = pthread_atfork(nullptr, nullptr, &forgetOwnerAfterFork);
  (void)registered;
  // Thread ids fit kThreadIdMask, so the identity is never 0.
  tlsLockOwner = makeLockOwner(static_cast<uint32_t>(::syscall(SYS_gettid)), bootSeconds());
  return tlsLockOwner;
}

bool ownerHasEnded(uint64_t owner) {
  const uint32_t tid = ownerThreadId(owner);
  if (tid == 0) return true;  // no owner recorded
  // kill() finds any thread by its id, not only process leaders; EPERM (a
  // thread of another user) means it exists.
  if (::kill(static_cast<pid_t>(tid), 0) != 0 && errno == ESRCH) return true;
  ThreadStat stat;
  switch (readThreadStat(tid, &stat)) {
    case StatResult::kGone:
      return true;
    case StatResult::kUnknown:
      return false;
    case StatResult::kRead:
      break;
  }
  // A zombie has ended (a killed process stays one until it is reaped);
  // a thread that started after the identity was made is not its owner.
  // The identity's seconds are truncated and the start time is at most as
  // late as them for the true owner, so only a later second proves reuse.
  if (stat.state == 'Z' || stat.state == 'X' || stat.state == 'x') return true;
  return stat.startSeconds > (owner >> 32);
}

}  // namespace platform
}  // namespace tvan
