#pragma once
// Holds a Mutex locked for the rest of a scope: locks (blocking, no time-out)
// on construction, unlocks on destruction. The Mutex must outlive the guard.
#include "Base/System/Mutex.h"

namespace tvan {

class FunctionMutex {
 public:
  explicit FunctionMutex(Mutex* mutex) : mutex_(mutex) { mutex_->lock(kBlock, -1); }
  explicit FunctionMutex(const Mutex& mutex) : FunctionMutex(const_cast<Mutex*>(&mutex)) {}
  // A release failure cannot be reported from a destructor (it may run while
  // an exception unwinds); it is dropped rather than ending the process.
  ~FunctionMutex() {
    try {
      mutex_->unlock();
    } catch (...) {
    }
  }

  FunctionMutex(const FunctionMutex&) = delete;
  FunctionMutex& operator=(const FunctionMutex&) = delete;

 private:
  Mutex* mutex_;  // not owned
};

}  // namespace tvan
