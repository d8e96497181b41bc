#include "Base/System/GeneralConfiguration.h"

#include <cstdio>
#include <map>
#include <mutex>

#include "Base/BaseTypes/Error.h"
#include "Base/System/FileUtil.h"
#include "Base/System/GeneralConfigurationInternal.h"

namespace tvan {

namespace {

// Files that failed to load, with their modification stamp at that time.
// A file is loaded again only once its stamp differs (it was created,
// rewritten or touched): loading makes up to 100 attempts, and the
// controller asks for its time-out before every wait.
std::mutex failedLoadsMutex;
std::map<std::string, VString>& failedLoads() {
  static std::map<std::string, VString>* loads = new std::map<std::string, VString>();
  return *loads;  // kept until exit: handles may be used by static destructors
}

VString currentStamp(const std::string& fileName) {
  VString stamp;
  FileUtil file{VString(fileName)};
  if (!file.getFileModificationTime(stamp)) stamp = VString();
  return stamp;
}

}  // namespace

GeneralConfiguration::GeneralConfiguration(const char* fileName)
    : fileName_(fileName != nullptr ? fileName : "") {}

GeneralConfiguration::~GeneralConfiguration() = default;

GeneralConfigurationInternal* GeneralConfiguration::tryShared() {
  ConfigFileInstMgr<GeneralConfigurationInternal>* manager =
      ConfigFileInstMgr<GeneralConfigurationInternal>::instance();
  const std::string key = fileName_.empty() ? manager->getDefaultName() : fileName_;
  {
    // Only a file that failed to load needs its stamp: one that loaded stays
    // loaded, and asking the file system on every call would cost more than
    // the lookup itself.
    std::lock_guard<std::mutex> lock(failedLoadsMutex);
    std::map<std::string, VString>::const_iterator it = failedLoads().find(key);
    if (it != failedLoads().end() && it->second == currentStamp(key)) return nullptr;
  }
  std::string reason;
  try {
    GeneralConfigurationInternal* shared = manager->getInternalSharedConfig(key);
    std::lock_guard<std::mutex> lock(failedLoadsMutex);
    failedLoads().erase(key);
    return shared;
  } catch (const Error& e) {
    VString message;
    e.constructMessage(message);
    reason = message.narrow();
  } catch (const char* text) {
    reason = text != nullptr ? text : "";
  } catch (const std::string& text) {
    reason = text;
  } catch (...) {
    reason = "unknown exception";
  }
  std::fprintf(stderr, "GeneralConfiguration: Failed loading config file %s (Reason: %s)\n",
               key.c_str(), reason.c_str());
  const VString stamp = currentStamp(key);
  std::lock_guard<std::mutex> lock(failedLoadsMutex);
  failedLoads()[key] = stamp;
  return nullptr;
}

GeneralConfigurationInternal* GeneralConfiguration::shared() {
  GeneralConfigurationInternal* internal = tryShared();
  if (internal == nullptr) {
    const std::string message = "GeneralConfiguration: Failed loading config file " + fileName_;
    throw Error(__FILE__, __LINE__, message.c_str());
  }
  return internal;
}

int GeneralConfiguration::getServicesTimeout(std::string serviceName) {
  GeneralConfigurationInternal* internal = tryShared();
  return internal != nullptr ? internal->getServicesTimeout(serviceName) : -1;
}

bool GeneralConfiguration::getStatisticsFile(std::string& path) {
  GeneralConfigurationInternal* internal = tryShared();
  return internal != nullptr && internal->getStatisticsFile(path);
}

bool GeneralConfiguration::getRequestDatabase(std::string& path) {
  GeneralConfigurationInternal* internal = tryShared();
  return internal != nullptr && internal->getRequestDatabase(path);
}

bool GeneralConfiguration::getServiceOptions(const std::string& serviceName, bool& enabled,
                                             int& singleton, bool& persistent, bool& exe,
                                             PriorityEnum& priority, std::string& value,
                                             bool& remote) {
  GeneralConfigurationInternal::clearServiceOptions(enabled, singleton, persistent, exe, priority,
                                                    value, remote);
  GeneralConfigurationInternal* internal = tryShared();
  return internal != nullptr && internal->getServiceOptions(serviceName, enabled, singleton,
                                                            persistent, exe, priority, value,
                                                            remote);
}

bool GeneralConfiguration::test() { return shared()->test(); }
int GeneralConfiguration::getKEFNumber() { return shared()->getKEFNumber(); }
void GeneralConfiguration::setKEFNumber(int number) { shared()->setKEFNumber(number); }
void GeneralConfiguration::setStatisticsFile(const std::string& path) {
  shared()->setStatisticsFile(path);
}
std::string GeneralConfiguration::getVersion() { return shared()->getVersion(); }
void GeneralConfiguration::setVersion(const std::string& version) {
  shared()->setVersion(version);
}
void GeneralConfiguration::merge(const char* fileName) { shared()->merge(fileName); }
void GeneralConfiguration::save() { shared()->save(); }
bool GeneralConfiguration::getSupportedServices(std::vector<std::string>& names) {
  return shared()->getSupportedServices(names);
}
void GeneralConfiguration::setSupportedServices(const std::vector<std::string>& names) {
  shared()->setSupportedServices(names);
}
bool GeneralConfiguration::getStartupServices(std::vector<std::string>& names) {
  return shared()->getStartupServices(names);
}
void GeneralConfiguration::setStartupServices(const std::vector<std::string>& names) {
  shared()->setStartupServices(names);
}
int GeneralConfiguration::getRetryCount() { return shared()->getRetryCount(); }
void GeneralConfiguration::setRetryCount(int count) { shared()->setRetryCount(count); }
int GeneralConfiguration::getRetryTimeout() { return shared()->getRetryTimeout(); }
void GeneralConfiguration::setRetryTimeout(int seconds) { shared()->setRetryTimeout(seconds); }
int GeneralConfiguration::getCompleteTimeout() { return shared()->getCompleteTimeout(); }
void GeneralConfiguration::setCompleteTimeout(int seconds) {
  shared()->setCompleteTimeout(seconds);
}
std::string GeneralConfiguration::getServiceExeName() { return shared()->getServiceExeName(); }
bool GeneralConfiguration::getKEFRootDir(std::string& dir) { return shared()->getKEFRootDir(dir); }
int GeneralConfiguration::getMaxActiveServices() { return shared()->getMaxActiveServices(); }
void GeneralConfiguration::setMaxActiveServices(int count) {
  shared()->setMaxActiveServices(count);
}
int GeneralConfiguration::getMaxExeRuns() { return shared()->getMaxExeRuns(); }
int GeneralConfiguration::getMinAvailableExes() { return shared()->getMinAvailableExes(); }
int GeneralConfiguration::getMaxBlockTime() { return shared()->getMaxBlockTime(); }

}  // namespace tvan
