#include "Base/System/Mutex.h"

#include <cerrno>
#include <ctime>
#include <system_error>

#include "Base/BaseTypes/Error.h"
#include "Base/System/Platform/NamedMutex.h"
#include "Base/System/Platform/ThreadLock.h"

namespace tvan {

namespace {

const char kLockFailed[] = "Mutex: Attempt to acquire lock failed.";
const char kReleaseFailed[] = "Mutex: Could not release lock.";

// Throws the Error for a failure at `line` of this file.
[[noreturn]] __attribute__((noinline, cold)) void fail(const Mutex& mutex, int line,
                                                        const std::string& message) {
  throw Error(__FILE__, line, mutex.getExceptionString(message).c_str());
}

}  // namespace

Mutex::Mutex(const VString& name, MutexType type)
    : name_(name), thread_(nullptr), named_(nullptr), process_(type == kProcessMutex) {
  if (!process_) {
    thread_ = new platform::ThreadLock;
    return;
  }
  try {
    named_ = platform::openNamedMutex(name_.wide());
  } catch (const std::system_error& e) {
    fail(*this, __LINE__, std::string("Mutex: Could not create mutex: ") + e.what() + ".");
  }
}

Mutex::~Mutex() {
  delete thread_;
  platform::closeNamedMutex(named_);
}

// The common call, lock(kBlock, -1), and unlock() of an uncontended mutex
// stay on the inline fast paths of the two locks; everything else goes
// through the out-of-line paths.
bool Mutex::lock(BlockMode mode, long timeout) const {
  if (__builtin_expect(mode == kBlock && timeout == -1, 1) &&
      (process_ ? named_->lockFast() : thread_->lockFast())) {
    return true;
  }
  return lockWithMode(mode, timeout);
}

void Mutex::unlock() const {
  if (process_ ? named_->unlockFast() : thread_->unlockFast()) return;
  unlockSlowPath();
}

bool Mutex::lockWithMode(BlockMode mode, long timeout) const {
  if (mode != kBlock) {
    if (!process_) return thread_->tryLock();
    const int rc = named_->tryLock();
    if (rc == 0) return true;
    if (rc == EBUSY) return false;
    fail(*this, __LINE__, kLockFailed);
  }
  if (timeout == -1) {
    if (!process_) {
      thread_->lock();
    } else if (named_->lock() != 0) {
      fail(*this, __LINE__, kLockFailed);
    }
    return true;
  }
  // Timed waits are not offered by the in-process kind.
  if (!process_) fail(*this, __LINE__, kLockFailed);
  timespec deadline;
  clock_gettime(CLOCK_REALTIME, &deadline);
  deadline.tv_sec += timeout;
  if (named_->timedLock(deadline) != 0) fail(*this, __LINE__, kLockFailed);
  return true;
}

void Mutex::unlockSlowPath() const {
  // Releasing an in-process mutex the caller does not hold has no effect.
  if (!process_) {
    thread_->unlock();
  } else if (!named_->unlock()) {
    fail(*this, __LINE__, kReleaseFailed);
  }
}

bool Mutex::isValid() const { return thread_ != nullptr || named_ != nullptr; }

std::string Mutex::getExceptionString(const std::string& message) const {
  return message + " (Name: " + name_.narrow() + ", Process Mutex: " +
         (process_ ? "True" : "False") + ")";
}

}  // namespace tvan
