#pragma once
// Base of a configuration parsed from one file and shared by every user in
// the process (see ConfigFileInstMgr). It remembers the file's modification
// stamp of the last read and re-reads the file through update() only when
// the stamp changed.
//
// The update mutex serialises reloads with readers: derived classes hold it
// in update(), in every setter and in every getter, so a reader never sees
// a half-applied reload. It is an in-process, recursive mutex.
#include <cstdio>
#include <string>

#include "Base/BaseTypes/VString.h"
#include "Base/System/Mutex.h"

namespace tvan {

class CachableConfig {
 public:
  // Stores the name; reads nothing (the derived constructor takes the stamp
  // with recordFileStamp() and reads the file).
  explicit CachableConfig(const char* fileName);
  virtual ~CachableConfig();

  CachableConfig(const CachableConfig&) = delete;
  CachableConfig& operator=(const CachableConfig&) = delete;

  // Reads the file again when its current modification stamp differs from
  // the stored one. The new stamp is stored before update() runs, so a file
  // that fails to parse is not read again until it changes once more; the
  // failure itself passes to the caller. Concurrent callers reload once.
  void updateIfNeeded();

  // Re-reads the file. Called with the update mutex held or takes it.
  virtual void update() = 0;

  const std::string& getFileName() const { return fileName_; }
  Mutex& getUpdateMutex() { return updateMutex_; }
  bool isDead() const { return dead_; }

 protected:
  // Stores the file's current modification stamp.
  void recordFileStamp();
  // The file's current modification stamp (empty when it cannot be read).
  void readFileStamp(VString& out) const;

  // Writes the dead-object line to standard output when this object was
  // already destroyed; use goes on.
  void checkAlive(int line) const {
    if (dead_) {
      std::printf("!!!!!!!!!!! ERROR:  Working with a dead object in %s at %d.\n",
                  "../../Base/BaseTypes/CachableConfig", line);
      std::fflush(stdout);
    }
  }

  std::string fileName_;
  Mutex updateMutex_;  // "TQ_CachableConfigUpdate", in-process
  bool dead_;
  VString stamp_;  // guarded by updateMutex_
};

}  // namespace tvan
