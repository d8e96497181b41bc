#include "Base/System/Mutex.h"

#include <ace/Recursive_Thread_Mutex.h>

#include <cerrno>
#include <cstring>
#include <ctime>
#include <system_error>

#include "Base/BaseTypes/Error.h"
#include "Base/System/Platform/NamedMutex.h"

namespace tvan {

namespace {

// The in-process kind: recursive, like a critical section.
class ThreadMutex : public platform::MutexPrimitive {
 public:
  int lock() override { return mutex_.acquire() == 0 ? 0 : errno; }
  int tryLock() override { return mutex_.tryacquire() == 0 ? 0 : (errno == 0 ? EBUSY : errno); }
  int timedLock(const timespec&) override { return ENOTSUP; }
  int unlock() override { return mutex_.release() == 0 ? 0 : errno; }

 private:
  ACE_Recursive_Thread_Mutex mutex_;
};

}  // namespace

Mutex::Mutex(const VString& name, MutexType type)
    : name_(name), primitive_(nullptr), process_(type == kProcessMutex) {
  if (process_) {
    try {
      primitive_ = platform::openNamedMutex(name_.wide());
    } catch (const std::system_error& e) {
      const std::string text =
          getExceptionString(std::string("Mutex: Could not create mutex: ") + e.what() + ".");
      throw Error(__FILE__, __LINE__, text.c_str());
    }
  } else {
    primitive_ = new ThreadMutex;
  }
}

Mutex::~Mutex() { delete primitive_; }

bool Mutex::lock(BlockMode mode, long timeout) const {
  static const char kFailed[] = "Mutex: Attempt to acquire lock failed.";
  if (primitive_ == nullptr) {
    throw Error(__FILE__, __LINE__, getExceptionString(kFailed).c_str());
  }
  if (mode != kBlock) {
    const int rc = primitive_->tryLock();
    if (rc == 0) return true;
    if (rc == EBUSY) return false;
    throw Error(__FILE__, __LINE__, getExceptionString(kFailed).c_str());
  }
  if (timeout == -1) {
    if (primitive_->lock() != 0) {
      throw Error(__FILE__, __LINE__, getExceptionString(kFailed).c_str());
    }
    return true;
  }
  if (!process_) {
    // Timed waits are not offered by the in-process kind.
    throw Error(__FILE__, __LINE__, getExceptionString(kFailed).c_str());
  }
  timespec deadline;
  clock_gettime(CLOCK_REALTIME, &deadline);
  deadline.tv_sec += timeout;
  if (primitive_->timedLock(deadline) != 0) {
    throw Error(__FILE__, __LINE__, getExceptionString(kFailed).c_str());
  }
  return true;
}

void Mutex::unlock() const {
  if (primitive_ == nullptr || primitive_->unlock() != 0) {
    if (process_ || primitive_ == nullptr) {
      throw Error(__FILE__, __LINE__, getExceptionString("Mutex: Could not release lock.").c_str());
    }
  }
}

bool Mutex::isValid() const { return primitive_ != nullptr; }

std::string Mutex::getExceptionString(const std::string& message) const {
  return message + " (Name: " + name_.narrow() + ", Process Mutex: " +
         (process_ ? "True" : "False") + ")";
}

}  // namespace tvan
