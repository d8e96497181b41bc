#include "Base/System/GeneralConfigurationInternal.h"

#include <cctype>
#include <cstdarg>
#include <cstdlib>
#include <exception>

#include "Base/BaseTypes/Error.h"
#include "Base/BaseTypes/FormatStr.h"
#include "Base/Log/Log.h"
#include "Base/System/ConfigurationLocations.h"
#include "Base/System/FunctionMutex.h"
#include "Base/System/Platform/ThreadStop.h"
#include "Base/System/Registry.h"
#include "Base/XML/XmlDOM.h"

namespace tvan {

template class ConfigFileInstMgr<GeneralConfigurationInternal>;

namespace {

const int kLoadAttempts = 100;

// Holds the object's update mutex for one operation, logs "Enter" and
// "Exit" at kTrace and starts the operation at the root element.
class Operation {
 public:
  Operation(Mutex& mutex, Log* log, XmlDOM* doc, const char* function)
      : guard_(&mutex), log_(log), function_(function) {
    if (log_ != nullptr) log_->log(kTrace, __FILE__, __LINE__, function_, std::string("Enter"));
    doc->resetActiveToRoot();
  }
  ~Operation() {
    if (log_ != nullptr) log_->log(kTrace, __FILE__, __LINE__, function_, std::string("Exit"));
  }
  Operation(const Operation&) = delete;
  Operation& operator=(const Operation&) = delete;

 private:
  platform::NoCancelScope noCancel_;  // may save the file under the lock
  FunctionMutex guard_;
  Log* log_;
  const char* function_;
};

bool isYes(const std::string& text) { return text == "yes"; }

}  // namespace

GeneralConfigurationInternal::GeneralConfigurationInternal(const char* fileName)
    : CachableConfig(fileName), document_(nullptr), log_(nullptr) {
  recordFileStamp();
  if (!fileName_.empty()) {
    log_ = new Log(fileName_.c_str(), kConfigFileLog);
    log_->setComponentName("GeneralConfiguration");
  }
  try {
    update();
  } catch (...) {
    delete document_;
    delete log_;
    throw;
  }
}

GeneralConfigurationInternal::~GeneralConfigurationInternal() {
  checkAlive(__LINE__);
  delete document_;
  document_ = nullptr;
  delete log_;
  log_ = nullptr;
}

void GeneralConfigurationInternal::getDefaultConfigName(std::string& name) {
  getKEFConfigurationFileName(name);
}

void GeneralConfigurationInternal::logMessage(long level, const char* function, int line,
                                              const char* format, ...) {
  if (log_ == nullptr) return;
  va_list args;
  va_start(args, format);
  std::string text = vformatStr(format, args);
  va_end(args);
  log_->log(static_cast<ELogLevel>(level), __FILE__, line, function, text);
}

void GeneralConfigurationInternal::update() {
  static const char* const kFunction = "GeneralConfigurationInternal::update()";
  checkAlive(__LINE__);
  platform::NoCancelScope noCancel;  // loads files under the lock
  FunctionMutex guard(&updateMutex_);
  // The owned log takes its settings from this same file: while the file
  // has never loaded, the log cannot have read them either, and every entry
  // would only make it try (and fail) to read the file again. Failures of a
  // first load therefore reach the caller alone, which reports them.
  Log* const failureLog = document_ != nullptr ? log_ : nullptr;
  for (int attempt = 1; attempt <= kLoadAttempts; ++attempt) {
    std::string reason;
    bool known = true;
    std::exception_ptr failure;
    try {
      XmlDOM* loaded = new XmlDOM(fileName_.c_str(), true);
      delete document_;
      document_ = loaded;
      break;
    } catch (const Error& e) {
      VString message;
      e.constructMessage(message);
      reason = " Exception:" + message.narrow();
      failure = std::current_exception();
    } catch (const char* text) {
      reason = std::string(" ") + text;
      failure = std::current_exception();
    } catch (const std::string& text) {
      reason = " " + text;
      failure = std::current_exception();
    } catch (...) {
      known = false;
      failure = std::current_exception();
    }
    if (attempt == kLoadAttempts) {
      if (failureLog != nullptr) {
        logMessage(kError, kFunction, __LINE__, "Failed loading config file:%s",
                   known ? reason.c_str() : " unknown exception");
      }
      std::rethrow_exception(failure);
    }
    if (failureLog == nullptr) continue;
    if (known) {
      logMessage(kWarning, kFunction, __LINE__, "Failed loading config file:%s.  Trying again...",
                 reason.c_str());
    } else {
      logMessage(kWarning, kFunction, __LINE__, "Failed loading config file, trying again...:");
    }
  }
  int count = 0;
  document_->resetActiveToRoot();
  document_->findNodes("VolumePrefs", count, false);
  if (count == 0) {
    logMessage(kError, kFunction, __LINE__, "No DICOM section in configuration file.");
  }
}

bool GeneralConfigurationInternal::readText(const char* path, std::string& text) {
  int count = 0;
  document_->resetActiveToRoot();
  document_->findNodes(path, count, true);
  if (count == 0) return false;
  document_->getNodeValue(text, 0);
  return true;
}

int GeneralConfigurationInternal::readInt(const char* path, int fallback) {
  std::string text;
  if (!readText(path, text)) return fallback;
  return std::atoi(text.c_str());
}

void GeneralConfigurationInternal::writeRootElement(const char* element, const std::string& text) {
  int count = 0;
  document_->findNodes(element, count, true);
  if (count > 0) {
    document_->setNodeValue(text.c_str(), 0);
    return;
  }
  document_->resetActiveToRoot();
  document_->createNode(element, text.c_str(), false, -1);
}

void GeneralConfigurationInternal::writeElement(const char* element, const std::string& text) {
  int count = 0;
  document_->resetActiveToRoot();
  document_->findNodes(("KEFPrefs/" + std::string(element)).c_str(), count, true);
  if (count > 0) {
    document_->setNodeValue(text.c_str(), 0);
    return;
  }
  document_->resetActiveToRoot();
  document_->findNodes("KEFPrefs", count, true);
  document_->createNode(element, text.c_str(), false, -1);
}

int GeneralConfigurationInternal::readIntWritingDefault(const char* element, int fallback) {
  std::string text;
  if (readText(("KEFPrefs/" + std::string(element)).c_str(), text)) {
    return std::atoi(text.c_str());
  }
  logMessage(kDebug2, "GeneralConfigurationInternal", __LINE__, "%s not found, setting default",
             element);
  writeElement(element, formatStr("%d", fallback));
  document_->saveToFile(nullptr);
  return fallback;
}

// Each operation catches its own failures ("System exception") and answers
// with its default; the lock is released by the scope guard before that.
template <typename Result, typename Body>
Result GeneralConfigurationInternal::operation(const char* function, Result fallback, Body body) {
  checkAlive(__LINE__);
  try {
    Operation op(updateMutex_, log_, document_, function);
    return body();
  } catch (...) {
    logMessage(kError, function, __LINE__, "System exception");
    return fallback;
  }
}

template <typename Body>
void GeneralConfigurationInternal::operation(const char* function, Body body) {
  operation(function, 0, [&body] {
    body();
    return 0;
  });
}

void GeneralConfigurationInternal::clearServiceOptions(bool& enabled, int& singleton,
                                                       bool& persistent, bool& exe,
                                                       PriorityEnum& priority, std::string& value,
                                                       bool& remote) {
  enabled = false;
  singleton = 999999;
  persistent = false;
  exe = false;
  priority = kPriorityLow;
  value.clear();
  remote = false;
}

int GeneralConfigurationInternal::getServicesTimeout(const std::string& serviceName) {
  static const char* const kFunction = "GeneralConfigurationInternal::getServicesTimeout()";
  if (serviceName.empty()) {
    // Answered without taking the lock or tracing.
    checkAlive(__LINE__);
    return -1;
  }
  return operation(kFunction, -1, [&] {
    logMessage(kDebug3, kFunction, __LINE__, "Search for services Timeout");
    int count = 0;
    document_->findNodes(("//KEFPrefs/SupportedServices/" + serviceName).c_str(), count, true);
    if (count == 0) {
      logMessage(kDebug3, kFunction, __LINE__, "Cannot find services tag");
      return -1;
    }
    std::string text;
    if (!document_->getAttribute("timeOut", text, 0)) return -1;
    logMessage(kDebug3, kFunction, __LINE__, "%s Timeout set to %s", serviceName.c_str(),
               text.c_str());
    return std::atoi(text.c_str());
  });
}

bool GeneralConfigurationInternal::getStatisticsFile(std::string& path) {
  static const char* const kFunction = "GeneralConfigurationInternal::getStatisticsFile()";
  return operation(kFunction, false, [&] {
    logMessage(kDebug4, kFunction, __LINE__, "Search for Statistics Filename");
    std::string text;
    if (!readText("//KEFPrefs/StatFile", text)) {
      logMessage(kWarning, kFunction, __LINE__, "Cannot find StatFile tag");
      return false;
    }
    path = text;
    logMessage(kDebug3, kFunction, __LINE__, "StatFile save at %s", path.c_str());
    return true;
  });
}

bool GeneralConfigurationInternal::getRequestDatabase(std::string& path) {
  static const char* const kFunction = "GeneralConfigurationInternal::getRequestDatabase()";
  return operation(kFunction, false, [&] {
    std::string text;
    if (!readText("//KEFPrefs/RequestDatabase", text)) {
      logMessage(kDebug3, kFunction, __LINE__, "Cannot find RequestDatabase tag");
      return false;
    }
    path = text;
    logMessage(kDebug3, kFunction, __LINE__, "Request database at %s", path.c_str());
    return true;
  });
}

bool GeneralConfigurationInternal::getServiceOptions(const std::string& serviceName,
                                                     bool& enabled, int& singleton,
                                                     bool& persistent, bool& exe,
                                                     PriorityEnum& priority, std::string& value,
                                                     bool& remote) {
  static const char* const kFunction = "GeneralConfigurationInternal::getServiceOptions()";
  clearServiceOptions(enabled, singleton, persistent, exe, priority, value, remote);
  return operation(kFunction, false, [&] {
    logMessage(kDebug3, kFunction, __LINE__, "Search for Service");
    const char* const name = serviceName.c_str();
    int count = 0;
    document_->findNodes("KEFPrefs", count, true);
    if (count > 0) document_->findNodes("SupportedServices", count, true);
    if (count > 0 && !serviceName.empty()) document_->findNodes(name, count, true);
    if (count == 0 || serviceName.empty()) {
      logMessage(kDebug2, kFunction, __LINE__, "Service %s not found in configuration", name);
      return false;
    }
    std::string text;
    if (document_->getAttribute("ENABLED", text, 0)) {
      enabled = text == "1";
      logMessage(kDebug2, kFunction, __LINE__, "%s: ENABLED=%c", name, enabled ? 'y' : 'n');
    }
    if (document_->getAttribute("Singleton", text, 0)) {
      if (std::isdigit(static_cast<unsigned char>(text[0]))) {
        singleton = std::atoi(text.c_str());
      } else if (text == "yes") {
        singleton = 1;
      }
      logMessage(kDebug2, kFunction, __LINE__, "%s: Singleton=%d", name, singleton);
    }
    if (document_->getAttribute("Persistent", text, 0)) {
      persistent = isYes(text);
      logMessage(kDebug2, kFunction, __LINE__, "%s: Persistent=%c", name, persistent ? 'y' : 'n');
    }
    if (document_->getAttribute("Exe", text, 0)) {
      exe = isYes(text);
      logMessage(kDebug2, kFunction, __LINE__, "%s: Exe=%c", name, exe ? 'y' : 'n');
    }
    if (document_->getAttribute("Priority", text, 0)) {
      if (text == "HIGH") {
        priority = kPriorityHigh;
      } else if (text == "MEDIUM") {
        priority = kPriorityMedium;
      } else if (text == "LOW") {
        logMessage(kDebug2, kFunction, __LINE__, "%s: Priority=%s", name, text.c_str());
      } else {
        logMessage(kWarning, kFunction, __LINE__,
                   "%s: Priority setting invalid (%s), defaulting to LOW", name, text.c_str());
      }
    }
    if (document_->getAttribute("Remote", text, 0)) {
      remote = isYes(text);
      logMessage(kDebug2, kFunction, __LINE__, "%s: Remote=%c", name, remote ? 'y' : 'n');
    }
    document_->getNodeValue(value, 0);
    return true;
  });
}

bool GeneralConfigurationInternal::test() {
  return operation("GeneralConfigurationInternal::test()", false, [&] {
    int count = 0;
    document_->findNodes("Test", count, false);
    return count > 0;
  });
}

int GeneralConfigurationInternal::getKEFNumber() {
  return operation("GeneralConfigurationInternal::getKEFNumber()", 0, [&] {
    return readInt("KEFNumber", 0);
  });
}

void GeneralConfigurationInternal::setKEFNumber(int number) {
  operation("GeneralConfigurationInternal::setKEFNumber()", [&] {
    writeRootElement("KEFNumber", formatStr("%d", number));
  });
}

void GeneralConfigurationInternal::setStatisticsFile(const std::string& path) {
  operation("GeneralConfigurationInternal::setStatisticsFile()", [&] {
    writeElement("StatFile", path);
  });
}

std::string GeneralConfigurationInternal::getVersion() {
  return operation<std::string>("GeneralConfigurationInternal::getVersion()", "4.0", [&] {
    std::string text;
    if (!readText("Version", text)) text = "4.0";
    return text;
  });
}

void GeneralConfigurationInternal::setVersion(const std::string& version) {
  operation("GeneralConfigurationInternal::setVersion()", [&] {
    writeRootElement("Version", version);
  });
}

void GeneralConfigurationInternal::merge(const char* fileName) {
  static const char* const kFunction = "GeneralConfigurationInternal::merge()";
  operation(kFunction, [&] {
    XmlDOM other(fileName, true);
    int count = 0;
    other.findNodes("KEFPrefs/SupportedServices/*", count, false);
    std::vector<std::string> names;
    for (int i = 0; i < count; ++i) {
      other.setActiveNode(i);
      names.push_back(other.getActiveNodeName());
    }
    for (const std::string& name : names) {
      int here = 0;
      document_->resetActiveToRoot();
      document_->findNodes(("KEFPrefs/SupportedServices/" + name).c_str(), here, false);
      if (here > 0) continue;
      other.resetActiveToRoot();
      other.findNodes(("KEFPrefs/SupportedServices/" + name).c_str(), count, true);
      std::string element;
      other.dump(element, false);
      document_->resetActiveToRoot();
      document_->findNodes("KEFPrefs/SupportedServices", here, true);
      if (here == 0) {
        document_->resetActiveToRoot();
        document_->findNodes("KEFPrefs", here, true);
        document_->createNode("SupportedServices", "", true, -1);
      }
      document_->pasteFragment(element.c_str(), -1);
    }
    document_->saveToFile(nullptr);
    logMessage(kDebug2, kFunction, __LINE__, "Merged %s", fileName != nullptr ? fileName : "");
  });
}

// Unlike the readers, save lets a failed write reach the caller as the
// tvan::Error of XmlDOM::saveToFile (and logs it): the document was not
// saved, and the file keeps its previous content.
void GeneralConfigurationInternal::save() {
  static const char* const kFunction = "GeneralConfigurationInternal::save()";
  checkAlive(__LINE__);
  try {
    Operation op(updateMutex_, log_, document_, kFunction);
    document_->saveToFile(nullptr);
  } catch (const Error& error) {
    logMessage(kError, kFunction, __LINE__, "%s", error.keystring());
    throw;
  } catch (...) {
    logMessage(kError, kFunction, __LINE__, "System exception");
  }
}

bool GeneralConfigurationInternal::getSupportedServices(std::vector<std::string>& names) {
  names.clear();
  return operation("GeneralConfigurationInternal::getSupportedServices()", false, [&] {
    int count = 0;
    document_->findNodes("KEFPrefs/SupportedServices/*", count, false);
    for (int i = 0; i < count; ++i) {
      document_->setActiveNode(i);
      names.push_back(document_->getActiveNodeName());
    }
    return !names.empty();
  });
}

void GeneralConfigurationInternal::setSupportedServices(const std::vector<std::string>& names) {
  operation("GeneralConfigurationInternal::setSupportedServices()", [&] {
    std::vector<std::string> present;
    getSupportedServices(present);
    for (const std::string& name : present) {
      bool wanted = false;
      for (const std::string& n : names) wanted = wanted || n == name;
      if (wanted) continue;
      int count = 0;
      document_->resetActiveToRoot();
      document_->findNodes(("KEFPrefs/SupportedServices/" + name).c_str(), count, false);
      if (count > 0) document_->removeNode(-1);
    }
    for (const std::string& name : names) {
      bool there = false;
      for (const std::string& p : present) there = there || p == name;
      if (there) continue;
      int count = 0;
      document_->resetActiveToRoot();
      document_->findNodes("KEFPrefs/SupportedServices", count, true);
      if (count == 0) {
        document_->resetActiveToRoot();
        document_->findNodes("KEFPrefs", count, true);
        document_->createNode("SupportedServices", "", true, -1);
      }
      document_->createNode(name.c_str(), "", true, -1);
      document_->setAttribute("ENABLED", "1");
    }
  });
}

bool GeneralConfigurationInternal::getStartupServices(std::vector<std::string>& names) {
  names.clear();
  return operation("GeneralConfigurationInternal::getStartupServices()", false, [&] {
    int count = 0;
    document_->findNodes("KEFPrefs/StartupServices/Service/ServiceName", count, false);
    for (int i = 0; i < count; ++i) {
      std::string name;
      document_->getNodeValue(name, i);
      names.push_back(name);
    }
    return !names.empty();
  });
}

void GeneralConfigurationInternal::setStartupServices(const std::vector<std::string>& names) {
  operation("GeneralConfigurationInternal::setStartupServices()", [&] {
    int count = 0;
    document_->findNodes("KEFPrefs/StartupServices/Service", count, false);
    if (count > 0) document_->removeNode(-1);
    for (const std::string& name : names) {
      document_->resetActiveToRoot();
      document_->findNodes("KEFPrefs/StartupServices", count, true);
      if (count == 0) {
        document_->resetActiveToRoot();
        document_->findNodes("KEFPrefs", count, true);
        document_->createNode("StartupServices", "", true, -1);
      }
      document_->createNode("Service", "", true, -1);
      document_->createNode("ServiceName", name.c_str(), false, -1);
    }
  });
}

int GeneralConfigurationInternal::getRetryCount() {
  return operation("GeneralConfigurationInternal::getRetryCount()", 5, [&] {
    return readInt("KEFPrefs/RetryCount", 5);
  });
}

void GeneralConfigurationInternal::setRetryCount(int count) {
  operation("GeneralConfigurationInternal::setRetryCount()", [&] {
    writeElement("RetryCount", formatStr("%d", count));
  });
}

int GeneralConfigurationInternal::getRetryTimeout() {
  return operation("GeneralConfigurationInternal::getRetryTimeout()", 5, [&] {
    return readInt("KEFPrefs/RetryTimeout", 5);
  });
}

void GeneralConfigurationInternal::setRetryTimeout(int seconds) {
  operation("GeneralConfigurationInternal::setRetryTimeout()", [&] {
    writeElement("RetryTimeout", formatStr("%d", seconds));
  });
}

int GeneralConfigurationInternal::getCompleteTimeout() {
  return operation("GeneralConfigurationInternal::getCompleteTimeout()", 30, [&] {
    return readInt("KEFPrefs/CompleteTimeout", 30);
  });
}

void GeneralConfigurationInternal::setCompleteTimeout(int seconds) {
  operation("GeneralConfigurationInternal::setCompleteTimeout()", [&] {
    writeElement("CompleteTimeout", formatStr("%d", seconds));
  });
}

std::string GeneralConfigurationInternal::getServiceExeName() {
  return operation<std::string>("GeneralConfigurationInternal::getServiceExeName()", std::string(), [&] {
    std::string text;
    readText("KEFPrefs/ExeName", text);
    return text;
  });
}

bool GeneralConfigurationInternal::getKEFRootDir(std::string& dir) {
  static const char* const kFunction = "GeneralConfigurationInternal::getKEFRootDir()";
  return operation(kFunction, false, [&] {
    VString value;
    if (!Registry::read(value, VString("KEFRootDir"), VString(""), kKEFKey)) {
      logMessage(kWarning, kFunction, __LINE__, "Unable to get temprorary directory from registry");
      return false;
    }
    dir = value.narrow();
    return true;
  });
}

int GeneralConfigurationInternal::getMaxActiveServices() {
  return operation("GeneralConfigurationInternal::getMaxActiveServices()", 10, [&] {
    return readInt("KEFPrefs/MaxActive", 10);
  });
}

void GeneralConfigurationInternal::setMaxActiveServices(int count) {
  operation("GeneralConfigurationInternal::setMaxActiveServices()", [&] {
    writeElement("MaxActive", formatStr("%d", count));
  });
}

int GeneralConfigurationInternal::getMaxExeRuns() {
  return operation("GeneralConfigurationInternal::getMaxExeRuns()", 1, [&] {
    return readIntWritingDefault("MaxExeRuns", 1);
  });
}

int GeneralConfigurationInternal::getMinAvailableExes() {
  return operation("GeneralConfigurationInternal::getMinAvailableExes()", 5, [&] {
    return readIntWritingDefault("MinAvailExes", 5);
  });
}

int GeneralConfigurationInternal::getMaxBlockTime() {
  return operation("GeneralConfigurationInternal::getMaxBlockTime()", 15, [&] {
    return readIntWritingDefault("MaxBlockTime", 15);
  });
}

}  // namespace tvan
