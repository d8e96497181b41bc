#pragma once
// The parsed `Log` settings of one configuration file, shared by every
// LogConfiguration handle on that file name (see ConfigFileInstMgr).
//
// File layout (below the document's root element):
//   Log/LogFile       text                         default empty
//   Log/LevelMask     hexadecimal, "0x" optional    default 0
//   Log/LocationMask  hexadecimal                   default 0
//   Log/MaximumSize   decimal, millions of bytes    default 5
//   Log/FlushAlways   true only for "yes"           default false
//   Log/UpdateTime    decimal seconds               default 60
//   Log/MemoryProfile true only for "yes"; false when missing
//
// Every operation holds the update mutex, so getters see either the whole
// previous or the whole new reading of the file.
#include <string>

#include "Base/BaseTypes/CachableConfig.h"
#include "Base/System/ConfigFileInstMgr.h"

namespace tvan {

class XmlDOM;

class LogConfigurationInternal : public CachableConfig {
 public:
  // Records the file's stamp and reads it (update()); throws when the file
  // cannot be read after five attempts.
  explicit LogConfigurationInternal(const char* fileName);
  ~LogConfigurationInternal() override;

  // Re-reads the file: up to five attempts, each failure reported on standard
  // error; after the fifth the exception passes on and the previous values
  // stay. A file without a `Log` element leaves every value as it was.
  void update() override;

  void getData(std::string& logFile, long& levelMask, long& locationMask, int& maxSize,
               bool& flushAlways, int& updateTime, bool& memoryProfile);
  std::string getLogFile();
  long getDebugMask();
  long getLocationMask();
  bool getFlushAlways();
  int getUpdateTime();
  int getMaxSize();
  bool getMemoryProfile();

  // Change one value in the document and in memory; the file is not
  // written. Without a `Log` element nothing changes.
  void setLogFileName(const char* logFile);
  void setDebugMask(long levelMask);
  void setLocationMask(long locationMask);
  void setUpdateTime(int updateTime);
  void setMaxSize(int maxSize);

  // Sets all seven values (creating the `Log` element when missing), then
  // writes the document back to its file.
  void updateConfiguration(const char* logFile, long levelMask, long locationMask, long maxSize,
                           bool flushAlways, int updateTime, bool memoryProfile);

  // Copies log file, level mask, location mask, update time and maximum size
  // from the configuration of another file, then saves this one. Throws when
  // the other file cannot be read.
  void merge(const char* fileName);

  // Writes the document back to its own file.
  void save();

  // The framework configuration file name.
  static void getDefaultConfigName(std::string& name);

 private:
  // Sets the text of Log/<element>, creating it below an existing `Log`;
  // false when there is no `Log` element (nothing changed).
  bool setElement(const char* element, const std::string& text);
  // A copy of `member`, taken under the update mutex.
  template <typename T>
  T locked(const T& member);
  // Under the update mutex: setElement(element, text) and, when it
  // succeeded, `member` = `value`.
  template <typename T>
  void setStored(const char* element, const std::string& text, T& member, const T& value);

  // State below is protected by updateMutex_.
  bool ownsDocument_;
  XmlDOM* document_;  // owned when ownsDocument_
  std::string logFile_;
  long levelMask_;
  long locationMask_;
  int maxSize_;
  bool flushAlways_;
  int updateTime_;
  bool memoryProfile_;
};

// The one manager instance lives in the library.
extern template class ConfigFileInstMgr<LogConfigurationInternal>;

}  // namespace tvan
