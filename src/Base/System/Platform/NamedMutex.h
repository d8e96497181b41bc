#pragma once
// Lock primitives behind tvan::Mutex.
//
// The system-wide named mutex is a process-shared, robust, recursive pthread
// mutex that lives in a POSIX shared-memory object named after the mutex:
//  - every process (of every user) opening one name maps the same object, so
//    they exclude each other; the object is created with mode 0666;
//  - recursion for the owning thread comes from the recursive mutex type;
//  - a holder that dies (its thread or process ends) leaves the mutex in the
//    owner-died state; the next locker makes it consistent and owns it, so a
//    crash never blocks the next run;
//  - the uncontended lock and unlock are a user-space atomic each (no system
//    call), cheap enough for the log writer, which locks on every entry.
// Creation is race-free: whoever opens the object first holds an flock on it
// while sizing and initialising it and sets an "initialised" word with
// release semantics last; an opener that finds the word unset (the creator
// died half-way) initialises it again under the same flock. The object also
// carries a layout version, which is part of its name too, so a later layout
// never misreads an object of this one. The objects stay in /dev/shm after
// the processes end (a few hundred bytes each) and are reused by the next run.
// Each name is mapped once per process (a process-wide table) and never
// unmapped, so any number of Mutex objects of one name are cheap.
//
// Return codes: 0 success, EBUSY (tryLock: held elsewhere), ETIMEDOUT, or
// another errno value.
#include <ctime>
#include <string>

namespace tvan {
namespace platform {

class MutexPrimitive {
 public:
  virtual ~MutexPrimitive() = default;
  virtual int lock() = 0;
  virtual int tryLock() = 0;
  // Waits until `deadline` (CLOCK_REALTIME).
  virtual int timedLock(const timespec& deadline) = 0;
  virtual int unlock() = 0;
};

// The system-wide mutex of `name` (UTF-16 units). An empty name gives an
// unnamed recursive mutex private to this process. Throws std::system_error
// when the shared object cannot be opened or mapped.
MutexPrimitive* openNamedMutex(const std::u16string& name);

// The shared-memory object name used for `name` (for diagnostics and tests).
std::string sharedObjectName(const std::u16string& name);

}  // namespace platform
}  // namespace tvan
