#pragma once
// A cheap handle on the `Log` settings of one XML configuration file.
//
// The handle holds only the file name (empty: the framework configuration
// file). Every call looks up the process-wide shared object for that name
// (LogConfigurationInternal, parsed once and kept for the life of the
// process) and reads it under the object's own lock, so a reader never sees a
// half-applied reload. Handles may be created and used on any thread.
//
// Failures: the first lookup of a name parses the file; when that fails
// (missing or malformed file, after a few attempts reported on standard
// error) the exception (tvan::Error, a thrown char*, ...) reaches the caller
// and no shared object is kept, so the next call tries again.
#include <string>

namespace tvan {

class LogConfigurationInternal;

class LogConfiguration {
 public:
  // Stores the name (null: empty, the default file); reads nothing.
  explicit LogConfiguration(const char* fileName);
  virtual ~LogConfiguration();

  // Re-reads the file when its modification stamp differs from the one of
  // the last read. Concurrent callers re-read once.
  void updateIfNeeded();

  // All seven values at once, consistent with one read of the file.
  void getData(std::string& logFile, long& levelMask, long& locationMask, int& maxSize,
               bool& flushAlways, int& updateTime, bool& memoryProfile);

  // One value each. getLogFile returns a copy held by this handle: valid
  // until the handle is destroyed or getLogFile is called again, unaffected
  // by a concurrent reload.
  const char* getLogFile();
  long getDebugMask();
  long getLocationMask();
  bool getFlushAlways();
  int getUpdateTime();
  int getMaxSize();

  const std::string& getFileName() const { return fileName_; }

 private:
  LogConfigurationInternal* getShared() const;

  std::string fileName_;
  std::string logFileCopy_;  // backs the pointer getLogFile returns
};

}  // namespace tvan
