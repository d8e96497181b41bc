#pragma once
// Process-wide cache of shared configuration objects, one per file name.
//
// ConfigFileInstMgr<T>::instance() is the one manager for T in the process;
// getInternalSharedConfig(name) returns the shared T for a file name, built
// (`new T(name)`, which reads and parses the file) on the first request.
// Entries are owned by the manager and live until process exit; callers get
// plain pointers they never delete.
//
// Locking: every access to the map holds the process-wide lock of
// ConfigFileInstMgrLockGuard (one for every T). A new object is built and
// read outside that lock: building may write log entries, and a log that
// re-reads its settings takes the log's own lock first and this one second;
// building under this lock would invert that order. Two threads asking for a
// new name at once may therefore both build; the first stored wins and the
// other copy is discarded.
//
// Failure: when building throws, the exception reaches the caller and no
// entry is made, so the next request tries again.
//
// At process exit the manager is shut down: its dead flags are set and its
// entries deleted, but its own storage stays valid, so a late user (a static
// object's destructor) gets the dead-object line on standard output instead
// of touching freed memory.
#include <cstdio>
#include <map>
#include <memory>
#include <string>

#include "Base/System/ConfigFileInstMgrSchwarzCounter.h"

namespace tvan {

template <class T>
class ConfigFileInstMgrAbstract {
 public:
  ConfigFileInstMgrAbstract() : dead_(false) {}
  virtual ~ConfigFileInstMgrAbstract() { shutdown(); }

  ConfigFileInstMgrAbstract(const ConfigFileInstMgrAbstract&) = delete;
  ConfigFileInstMgrAbstract& operator=(const ConfigFileInstMgrAbstract&) = delete;

  // Builds and reads the shared object for a file name; may throw.
  virtual std::unique_ptr<T> buildNewConfig(const std::string& name) = 0;

  // The shared object for `name` (empty: the default name). The key is the
  // name unchanged: two spellings of one path are two entries.
  T* getInternalSharedConfig(const std::string& name);

  const std::string& getDefaultName() const { return defaultName_; }
  void setDefaultName(const std::string& name) { defaultName_ = name; }

  bool isDead() const { return dead_; }

  // Sets the dead flags, deletes every entry and empties the map.
  virtual void shutdown();

 protected:
  void checkAlive(int line) const {
    if (dead_) {
      std::printf("!!!!!!!!!!! ERROR:  Working with a dead object in %s%d\n",
                  "../../Base/System/ConfigFileInstMgr", line);
      std::fflush(stdout);
    }
  }

  std::string defaultName_;
  bool dead_;
  // State below is protected by the ConfigFileInstMgrLockGuard lock.
  std::map<std::string, T*> configs_;  // values owned
};

template <class T>
class ConfigFileInstMgr : public ConfigFileInstMgrAbstract<T> {
 public:
  // The process's manager for T, created on first use with its default name
  // from T::getDefaultConfigName(std::string&).
  static ConfigFileInstMgr<T>* instance();

  std::unique_ptr<T> buildNewConfig(const std::string& name) override {
    return std::unique_ptr<T>(new T(name.c_str()));
  }

  void shutdown() override {
    mgrDead_ = true;
    ConfigFileInstMgrAbstract<T>::shutdown();
  }

  bool isDead() const { return mgrDead_ || ConfigFileInstMgrAbstract<T>::isDead(); }

 private:
  ConfigFileInstMgr() : mgrDead_(false) {}

  // Shuts the manager down at process exit (see the file comment).
  struct Holder {
    ConfigFileInstMgr<T>* manager = nullptr;  // never freed: see above
    ~Holder() {
      if (manager != nullptr) manager->shutdown();
    }
  };

  bool mgrDead_;
};

template <class T>
T* ConfigFileInstMgrAbstract<T>::getInternalSharedConfig(const std::string& name) {
  checkAlive(__LINE__);
  const std::string key = name.empty() ? defaultName_ : name;
  {
    ConfigFileInstMgrLockGuard guard;
    typename std::map<std::string, T*>::iterator it = configs_.find(key);
    if (it != configs_.end()) return it->second;
  }
  std::unique_ptr<T> built = buildNewConfig(key);
  ConfigFileInstMgrLockGuard guard;
  T*& slot = configs_[key];
  if (slot == nullptr) slot = built.release();
  return slot;
}

template <class T>
void ConfigFileInstMgrAbstract<T>::shutdown() {
  ConfigFileInstMgrLockGuard guard;
  dead_ = true;
  for (typename std::map<std::string, T*>::iterator it = configs_.begin(); it != configs_.end();
       ++it) {
    delete it->second;
  }
  configs_.clear();
}

template <class T>
ConfigFileInstMgr<T>* ConfigFileInstMgr<T>::instance() {
  ConfigFileInstMgrLockGuard guard;
  static Holder holder;
  if (holder.manager == nullptr) {
    holder.manager = new ConfigFileInstMgr<T>();
    if (holder.manager->defaultName_.empty()) {
      std::string name;
      T::getDefaultConfigName(name);
      holder.manager->defaultName_ = name;
    }
  } else if (holder.manager->mgrDead_) {
    holder.manager->checkAlive(__LINE__);
  }
  return holder.manager;
}

}  // namespace tvan
