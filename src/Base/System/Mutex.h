#pragma once
// The library's lock: an in-process recursive mutex or a named, system-wide
// mutex shared by the processes of the owning user and of the shared group
// (KEF_SHARED_GROUP) that open the same name; others are refused.
//
// In-process kind (kThreadMutex): recursive like a critical section; a thread
// may lock it again while holding it and must unlock as often. Two in-process
// mutexes of one name are independent locks; the name is diagnostic only.
//
// System-wide kind (kProcessMutex): every Mutex of one name in every process
// of the machine excludes every other; recursive for the owning thread; a
// holder that died counts as released (the next lock acquires it). See
// Base/System/Platform/NamedMutex.h for how this is built. An empty name gives
// an unnamed mutex private to this process (still recursive). A thread holds
// at most eight distinct system-wide mutexes at once (each any number of
// times); locking a ninth fails.
//
// Both kinds lock and unlock without a system call when uncontended. Every
// successful acquisition (each recursion level, also kNoBlock and timed ones)
// enters a library critical section of the calling thread and every release
// leaves one (Base/System/Platform/ThreadStop.h).
//
// Failures throw tvan::Error whose text comes from getExceptionString().
// Locks are not released on exceptions unless taken through FunctionMutex or
// ScopedGuard. A Mutex may be used by any number of threads at once; it must
// outlive every lock taken on it.
#include <string>

#include "Base/BaseTypes/VString.h"

namespace tvan {

enum MutexType {
  kThreadMutex = 0,   // in-process, recursive
  kProcessMutex = 1,  // system-wide, named, recursive for its owning thread
};

enum BlockMode {
  kBlock = 0,    // wait for the lock
  kNoBlock = 1,  // try once without waiting
};

namespace platform {
class ThreadLock;
class NamedLock;
}

class Mutex {
 public:
  // Any type other than kProcessMutex gives an in-process mutex.
  Mutex(const VString& name, MutexType type = kThreadMutex);
  virtual ~Mutex();

  Mutex(const Mutex&) = delete;
  Mutex& operator=(const Mutex&) = delete;

  // kNoBlock: true when acquired at once, false when another thread or process
  // holds it. kBlock with timeout -1: waits without limit, true.
  // kBlock with timeout >= 0 (seconds): system-wide kind waits until that
  // deadline and throws when it passes; the in-process kind does not support
  // timed waits and always throws. Any other failure throws.
  bool lock(BlockMode mode = kBlock, long timeout = -1) const;

  // Releases one level of the calling thread's hold. Throws when the
  // system-wide kind is not held by the caller; for the in-process kind that
  // has no effect (like leaving a critical section not entered).
  void unlock() const;

  // True when the primitive exists.
  bool isValid() const;

  // message + " (Name: " + narrow name + ", Process Mutex: True|False)".
  // Throws when the name cannot be narrowed (characters above 255).
  std::string getExceptionString(const std::string& message) const;

  const VString& name() const { return name_; }
  bool isProcessMutex() const { return process_; }

 private:
  bool lockWithMode(BlockMode mode, long timeout) const;
  void unlockSlowPath() const;

  VString name_;
  // The in-process lock (owned), or null for the system-wide kind.
  platform::ThreadLock* thread_;
  // The system-wide kind's lock, shared with every Mutex of the name in this
  // process; given back through platform::closeNamedMutex. Null otherwise.
  platform::NamedLock* named_;
  bool process_;
};

}  // namespace tvan
