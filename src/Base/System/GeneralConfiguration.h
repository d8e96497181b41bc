#pragma once
// The framework configuration file ("KEFConfiguration.xml", root element
// `KEFPrefs`): supported services with their options and time-outs, the
// statistics file, and limits and retry settings of the service manager.
//
// GeneralConfiguration is a cheap handle holding only a file name (null or
// empty: the default file, getKEFConfigurationFileName). Every operation
// forwards to the one GeneralConfigurationInternal per file name of the
// process, which loads the file once and serialises every operation.
//
// Failure: getServicesTimeout, getStatisticsFile, getRequestDatabase and
// getServiceOptions never throw; when the file cannot be loaded they report
// it on standard error and answer with their defaults (-1; false; the option
// defaults). A file that failed to load is not loaded again until its
// modification stamp changes, so a missing file costs one failed load, not
// one per call. The other operations throw tvan::Error when the file cannot
// be loaded.
#include <string>
#include <vector>

namespace tvan {

class GeneralConfigurationInternal;

// A service's scheduling priority (attribute "Priority").
enum PriorityEnum {
  kPriorityHigh = 0,    // "HIGH"
  kPriorityMedium = 1,  // "MEDIUM"
  kPriorityLow = 2      // "LOW", and the default
};

class GeneralConfiguration {
 public:
  explicit GeneralConfiguration(const char* fileName = nullptr);
  virtual ~GeneralConfiguration();

  // The service's "timeOut" attribute in seconds; -1 when the name is empty,
  // the service or the attribute is missing, or the file cannot be loaded.
  int getServicesTimeout(std::string serviceName);

  // The text of KEFPrefs/StatFile; false when absent or not loadable.
  bool getStatisticsFile(std::string& path);

  // The text of KEFPrefs/RequestDatabase, the request database's file; false
  // when absent or not loadable.
  bool getRequestDatabase(std::string& path);

  // The options of one supported service. Defaults first: enabled false,
  // singleton 999999, persistent false, exe false, priority kPriorityLow,
  // value empty, remote false; false when the service is not configured or
  // the file cannot be loaded. `value` is the service element's text.
  bool getServiceOptions(const std::string& serviceName, bool& enabled, int& singleton,
                         bool& persistent, bool& exe, PriorityEnum& priority, std::string& value,
                         bool& remote);

  // True when the root holds a `Test` element.
  bool test();
  // The root's `KEFNumber` (default 0).
  int getKEFNumber();
  void setKEFNumber(int number);
  void setStatisticsFile(const std::string& path);
  // The root's `Version` (default "4.0").
  std::string getVersion();
  void setVersion(const std::string& version);
  // Adds the supported services of another configuration file that this one
  // lacks (with their attributes and text), then saves this file.
  void merge(const char* fileName);
  // Writes the document back to its file; throws tvan::Error when it cannot
  // be written (a full disk), the file on disk then unchanged.
  void save();
  // Names of the supported services, in the document's order.
  bool getSupportedServices(std::vector<std::string>& names);
  // Makes the supported services exactly `names`: keeps those already there
  // (with their options), removes the others, adds missing ones enabled.
  void setSupportedServices(const std::vector<std::string>& names);
  // The "ServiceName" of every KEFPrefs/StartupServices/Service.
  bool getStartupServices(std::vector<std::string>& names);
  void setStartupServices(const std::vector<std::string>& names);
  int getRetryCount();  // default 5
  void setRetryCount(int count);
  int getRetryTimeout();  // default 5
  void setRetryTimeout(int seconds);
  int getCompleteTimeout();  // default 30
  void setCompleteTimeout(int seconds);
  // KEFPrefs/ExeName (empty when absent).
  std::string getServiceExeName();
  // The registry value "KEFRootDir" of the framework's key; false when unset.
  bool getKEFRootDir(std::string& dir);
  int getMaxActiveServices();  // default 10
  void setMaxActiveServices(int count);
  // These three write their default into the file when it is missing.
  int getMaxExeRuns();        // default 1
  int getMinAvailableExes();  // default 5
  int getMaxBlockTime();      // default 15

  const std::string& getFileName() const { return fileName_; }

 private:
  // The shared object, or null (reported on standard error) when the file
  // cannot be loaded.
  GeneralConfigurationInternal* tryShared();
  // The shared object; throws Error when the file cannot be loaded.
  GeneralConfigurationInternal* shared();

  std::string fileName_;
};

}  // namespace tvan
