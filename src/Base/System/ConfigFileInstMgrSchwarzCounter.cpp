#include "Base/System/ConfigFileInstMgrSchwarzCounter.h"

#include "Base/System/Mutex.h"
#include "Base/System/Platform/ThreadStop.h"

namespace tvan {

namespace {
// Both are zero-initialised before any constructor runs, so counters built
// during static initialisation of any unit find them in a known state.
// Static initialisation and destruction run on one thread.
int counterCount;
Mutex* processMutex;  // owned; created by the first counter
}  // namespace

ConfigFileInstMgrSchwarzCounter::ConfigFileInstMgrSchwarzCounter() {
  if (counterCount++ == 0) {
    processMutex = new Mutex(VString("TQ_ConfigFileMgrInst"), kThreadMutex);
  }
}

ConfigFileInstMgrSchwarzCounter::~ConfigFileInstMgrSchwarzCounter() {
  if (--counterCount == 0) {
    delete processMutex;
    processMutex = nullptr;
  }
}

Mutex* ConfigFileInstMgrSchwarzCounter::mutex() { return processMutex; }

class ConfigFileInstMgrLockGuard::Lock {
 public:
  explicit Lock(Mutex* mutex) : mutex_(mutex) {
    if (mutex_ != nullptr) mutex_->lock(kBlock, -1);
  }
  ~Lock() {
    if (mutex_ != nullptr) mutex_->unlock();
  }
  Lock(const Lock&) = delete;
  Lock& operator=(const Lock&) = delete;

 private:
  // The cache loads files under this lock: no cancellation may end the
  // thread half-way (declared first, so it ends after the unlock).
  platform::NoCancelScope noCancel_;
  Mutex* mutex_;  // not owned
};

ConfigFileInstMgrLockGuard::ConfigFileInstMgrLockGuard()
    : lock_(std::make_shared<Lock>(ConfigFileInstMgrSchwarzCounter::mutex())) {}

}  // namespace tvan
