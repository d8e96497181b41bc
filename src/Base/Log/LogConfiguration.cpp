#include "Base/Log/LogConfiguration.h"

#include "Base/Log/LogConfigurationInternal.h"

namespace tvan {

LogConfiguration::LogConfiguration(const char* fileName)
    : fileName_(fileName != nullptr ? fileName : "") {}

LogConfiguration::~LogConfiguration() = default;

LogConfigurationInternal* LogConfiguration::getShared() const {
  return ConfigFileInstMgr<LogConfigurationInternal>::instance()->getInternalSharedConfig(
      fileName_);
}

void LogConfiguration::updateIfNeeded() { getShared()->updateIfNeeded(); }

void LogConfiguration::getData(std::string& logFile, long& levelMask, long& locationMask,
                               int& maxSize, bool& flushAlways, int& updateTime,
                               bool& memoryProfile) {
  getShared()->getData(logFile, levelMask, locationMask, maxSize, flushAlways, updateTime,
                       memoryProfile);
}

const char* LogConfiguration::getLogFile() {
  logFileCopy_ = getShared()->getLogFile();
  return logFileCopy_.c_str();
}

long LogConfiguration::getDebugMask() { return getShared()->getDebugMask(); }

long LogConfiguration::getLocationMask() { return getShared()->getLocationMask(); }

bool LogConfiguration::getFlushAlways() { return getShared()->getFlushAlways(); }

int LogConfiguration::getUpdateTime() { return getShared()->getUpdateTime(); }

int LogConfiguration::getMaxSize() { return getShared()->getMaxSize(); }

}  // namespace tvan
