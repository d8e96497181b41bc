#pragma once
// A scope guard over any resource whose acquire and release come from a
// traits class: ScopedGuard<Mutex> locks (blocking, no time-out) on
// construction and unlocks on destruction. The resource must outlive the
// guard; the guard does not own it.
#include "Base/System/Mutex.h"

namespace tvan {

template <class T>
struct ResourceTraits;

template <>
struct ResourceTraits<Mutex> {
  static void acquire(Mutex* m) { m->lock(kBlock, -1); }
  static void release(Mutex* m) { m->unlock(); }
};

template <class T, class Traits = ResourceTraits<T>>
class ScopedGuard {
 public:
  explicit ScopedGuard(T* resource) : resource_(resource) { Traits::acquire(resource_); }
  // A release failure is dropped: a destructor cannot report it.
  ~ScopedGuard() {
    try {
      Traits::release(resource_);
    } catch (...) {
    }
  }

  ScopedGuard(const ScopedGuard&) = delete;
  ScopedGuard& operator=(const ScopedGuard&) = delete;

  T* get() const { return resource_; }

 private:
  T* resource_;  // not owned
};

}  // namespace tvan
