#pragma once
// The loaded framework configuration file, one per file name per process,
// shared by every GeneralConfiguration handle through
// ConfigFileInstMgr<GeneralConfigurationInternal>.
//
// The document is loaded once at construction and not reloaded by the
// operations. Every operation holds the update mutex for its whole run,
// starts its searches at the root element, logs to the object's own log
// (component "GeneralConfiguration", configured from the same file) and
// catches its own failures ("System exception"), answering with defaults.
#include <string>
#include <vector>

#include "Base/BaseTypes/CachableConfig.h"
#include "Base/System/ConfigFileInstMgr.h"
#include "Base/System/GeneralConfiguration.h"

namespace tvan {

class Log;
class XmlDOM;

class GeneralConfigurationInternal : public CachableConfig {
 public:
  // Stores the name, takes the file's stamp, creates the log (non-empty
  // name) and loads the file (update()); throws when it cannot be loaded.
  explicit GeneralConfigurationInternal(const char* fileName);
  ~GeneralConfigurationInternal() override;

  // Loads the file: up to 100 attempts in a row, failures logged; after the
  // last one the exception passes to the caller and the previous document
  // (if any) stays.
  void update() override;

  int getServicesTimeout(const std::string& serviceName);
  bool getStatisticsFile(std::string& path);
  bool getRequestDatabase(std::string& path);
  bool getServiceOptions(const std::string& serviceName, bool& enabled, int& singleton,
                         bool& persistent, bool& exe, PriorityEnum& priority, std::string& value,
                         bool& remote);

  bool test();
  int getKEFNumber();
  void setKEFNumber(int number);
  void setStatisticsFile(const std::string& path);
  std::string getVersion();
  void setVersion(const std::string& version);
  void merge(const char* fileName);
  void save();
  bool getSupportedServices(std::vector<std::string>& names);
  void setSupportedServices(const std::vector<std::string>& names);
  bool getStartupServices(std::vector<std::string>& names);
  void setStartupServices(const std::vector<std::string>& names);
  int getRetryCount();
  void setRetryCount(int count);
  int getRetryTimeout();
  void setRetryTimeout(int seconds);
  int getCompleteTimeout();
  void setCompleteTimeout(int seconds);
  std::string getServiceExeName();
  bool getKEFRootDir(std::string& dir);
  int getMaxActiveServices();
  void setMaxActiveServices(int count);
  int getMaxExeRuns();
  int getMinAvailableExes();
  int getMaxBlockTime();

  // The framework configuration file name.
  static void getDefaultConfigName(std::string& name);

  // The answer of getServiceOptions for a service that is not configured.
  static void clearServiceOptions(bool& enabled, int& singleton, bool& persistent, bool& exe,
                                  PriorityEnum& priority, std::string& value, bool& remote);

 private:
  // Runs `body` as one operation: reports use of a destroyed object, holds
  // the update mutex, traces "Enter"/"Exit" and starts at the root element.
  // When `body` throws, logs "System exception" and answers `fallback`.
  template <typename Result, typename Body>
  Result operation(const char* function, Result fallback, Body body);
  // The same for an operation without an answer.
  template <typename Body>
  void operation(const char* function, Body body);

  // Text of the first match of `path` from the root; false when none.
  bool readText(const char* path, std::string& text);
  // Decimal value of the first match of `path`, or `fallback`.
  int readInt(const char* path, int fallback);
  // Sets the text of the first match of `element` from the active node (the
  // root in an operation), creating it below the root when there is none.
  void writeRootElement(const char* element, const std::string& text);
  // Sets the text of KEFPrefs/<element>, creating the element when missing.
  void writeElement(const char* element, const std::string& text);
  // readInt, writing `fallback` into the file when the element is missing.
  int readIntWritingDefault(const char* element, int fallback);
  // Writes a message to the owned log, if any.
  void logMessage(long level, const char* function, int line, const char* format, ...)
      __attribute__((format(printf, 5, 6)));

  // State below is protected by updateMutex_.
  XmlDOM* document_;  // owned
  Log* log_;          // owned; null for an empty file name
};

// The one manager instance lives in the library.
extern template class ConfigFileInstMgr<GeneralConfigurationInternal>;

}  // namespace tvan
