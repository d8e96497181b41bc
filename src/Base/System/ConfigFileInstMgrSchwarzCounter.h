#pragma once
// Owner of the one process-wide lock of the configuration cache
// ("TQ_ConfigFileMgrInst", in-process and recursive). Every translation unit
// that includes this header holds a counter object; the first one constructed
// creates the mutex and the last one destroyed deletes it, so the lock exists
// before any static initialiser of such a unit can use the cache and until
// its last static destructor ran. The count and the mutex live in the
// library once per process; one mutex serves every ConfigFileInstMgr<T>.
#include <memory>

namespace tvan {

class Mutex;

class ConfigFileInstMgrSchwarzCounter {
 public:
  ConfigFileInstMgrSchwarzCounter();
  ~ConfigFileInstMgrSchwarzCounter();

  ConfigFileInstMgrSchwarzCounter(const ConfigFileInstMgrSchwarzCounter&) = delete;
  ConfigFileInstMgrSchwarzCounter& operator=(const ConfigFileInstMgrSchwarzCounter&) = delete;

  // The process-wide mutex; null before the first counter was built and
  // after the last one was destroyed.
  static Mutex* mutex();
};

// Holds the process-wide lock while any copy of it exists: constructing one
// locks (blocking, no time-out), the last copy to go unlocks. When the mutex
// no longer exists (late in process exit) nothing is locked.
class ConfigFileInstMgrLockGuard {
 public:
  ConfigFileInstMgrLockGuard();

 private:
  class Lock;
  std::shared_ptr<Lock> lock_;
};

namespace {
// One counter per translation unit that uses the cache.
ConfigFileInstMgrSchwarzCounter configFileInstMgrSchwarzCounter;
}  // namespace

}  // namespace tvan
