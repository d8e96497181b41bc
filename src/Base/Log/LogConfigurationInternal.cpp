#include "Base/Log/LogConfigurationInternal.h"

#include <cstdint>
#include <cstdio>
#include <cstdlib>

#include "Base/BaseTypes/Error.h"
#include "Base/BaseTypes/FormatStr.h"
#include "Base/System/ConfigurationLocations.h"
#include "Base/System/FunctionMutex.h"
#include "Base/System/Platform/ThreadStop.h"
#include "Base/XML/XmlDOM.h"

namespace tvan {

template class ConfigFileInstMgr<LogConfigurationInternal>;

namespace {

const int kLoadAttempts = 5;

// Masks are hexadecimal with or without "0x" and hold 32 bits.
long parseMask(const std::string& text) {
  unsigned long value = std::strtoul(text.c_str(), nullptr, 16);
  return static_cast<long>(static_cast<int32_t>(static_cast<uint32_t>(value)));
}

std::string formatMask(long mask) {
  return formatStr("0x%x", static_cast<unsigned>(static_cast<uint32_t>(mask)));
}

const char* yesNo(bool value) { return value ? "yes" : "no"; }

// The text of the first match of `path` from the root; false when none.
bool readElement(XmlDOM& doc, const char* path, std::string& text) {
  int count = 0;
  doc.resetActiveToRoot();
  doc.findNodes(path, count, true);
  if (count == 0) return false;
  doc.getNodeValue(text, 0);
  return true;
}

}  // namespace

LogConfigurationInternal::LogConfigurationInternal(const char* fileName)
    : CachableConfig(fileName),
      ownsDocument_(false),
      document_(nullptr),
      levelMask_(0),
      locationMask_(0),
      maxSize_(5),
      flushAlways_(false),
      updateTime_(60),
      memoryProfile_(false) {
  recordFileStamp();
  try {
    update();
  } catch (...) {
    // The object is discarded; the document of a partial load goes with it.
    if (ownsDocument_) delete document_;
    throw;
  }
}

LogConfigurationInternal::~LogConfigurationInternal() {
  checkAlive(__LINE__);
  if (ownsDocument_) delete document_;
  document_ = nullptr;
}

void LogConfigurationInternal::getDefaultConfigName(std::string& name) {
  getKEFConfigurationFileName(name);
}

void LogConfigurationInternal::update() {
  checkAlive(__LINE__);
  platform::NoCancelScope noCancel;  // loads files under the lock
  FunctionMutex guard(&updateMutex_);
  for (int attempt = 1; attempt <= kLoadAttempts; ++attempt) {
    const bool last = attempt == kLoadAttempts;
    try {
      XmlDOM* loaded = new XmlDOM(fileName_.c_str(), true);
      if (ownsDocument_) delete document_;
      document_ = loaded;
      ownsDocument_ = true;
      break;
    } catch (const Error& e) {
      VString message;
      e.constructMessage(message);
      std::fprintf(stderr, "Caught Error: Failed loading config file (Reason: %s)\n",
                   message.narrow().c_str());
      if (last) throw;
      std::fprintf(stderr, "Trying again...\n");
    } catch (const char* reason) {
      std::fprintf(stderr, "Failed loading config file (Reason: %s)\n", reason);
      if (last) throw;
      std::fprintf(stderr, "Trying again...\n");
    } catch (const std::string& reason) {
      std::fprintf(stderr, "Failed loading config file (Reason: %s)\n", reason.c_str());
      if (last) throw;
      std::fprintf(stderr, "Trying again...\n");
    } catch (...) {
      std::fprintf(stderr, "Failed loading config file\n");
      if (last) {
        std::fprintf(stderr, "Failed loading config file\n");
        throw;
      }
      std::fprintf(stderr, "Failed loading config file, trying again...\n");
    }
  }

  XmlDOM& doc = *document_;
  int count = 0;
  doc.resetActiveToRoot();
  doc.findNodes("Log", count, true);
  if (count == 0) {
    std::fprintf(stderr, "Unable to find Log node in configuration file (%s).\n",
                 fileName_.c_str());
    return;
  }
  // Each element is looked up below `Log` on its own, so a missing one does
  // not hide the others.
  std::string text;
  if (readElement(doc, "Log/LogFile", text)) logFile_ = text;
  if (readElement(doc, "Log/LevelMask", text)) levelMask_ = parseMask(text);
  if (readElement(doc, "Log/LocationMask", text)) locationMask_ = parseMask(text);
  if (readElement(doc, "Log/MaximumSize", text)) maxSize_ = std::atoi(text.c_str());
  if (readElement(doc, "Log/FlushAlways", text)) flushAlways_ = text == "yes";
  if (readElement(doc, "Log/UpdateTime", text)) updateTime_ = std::atoi(text.c_str());
  memoryProfile_ = readElement(doc, "Log/MemoryProfile", text) && text == "yes";
}

void LogConfigurationInternal::getData(std::string& logFile, long& levelMask, long& locationMask,
                                       int& maxSize, bool& flushAlways, int& updateTime,
                                       bool& memoryProfile) {
  checkAlive(__LINE__);
  platform::NoCancelScope noCancel;  // loads files under the lock
  FunctionMutex guard(&updateMutex_);
  logFile = logFile_;
  levelMask = levelMask_;
  locationMask = locationMask_;
  maxSize = maxSize_;
  flushAlways = flushAlways_;
  updateTime = updateTime_;
  memoryProfile = memoryProfile_;
}

template <typename T>
T LogConfigurationInternal::locked(const T& member) {
  platform::NoCancelScope noCancel;  // loads files under the lock
  FunctionMutex guard(&updateMutex_);
  return member;
}

template <typename T>
void LogConfigurationInternal::setStored(const char* element, const std::string& text, T& member,
                                         const T& value) {
  checkAlive(__LINE__);
  platform::NoCancelScope noCancel;  // loads files under the lock
  FunctionMutex guard(&updateMutex_);
  if (setElement(element, text)) member = value;
}

std::string LogConfigurationInternal::getLogFile() { return locked(logFile_); }

long LogConfigurationInternal::getDebugMask() { return locked(levelMask_); }

long LogConfigurationInternal::getLocationMask() { return locked(locationMask_); }

bool LogConfigurationInternal::getFlushAlways() { return locked(flushAlways_); }

int LogConfigurationInternal::getUpdateTime() { return locked(updateTime_); }

int LogConfigurationInternal::getMaxSize() { return locked(maxSize_); }

bool LogConfigurationInternal::getMemoryProfile() { return locked(memoryProfile_); }

bool LogConfigurationInternal::setElement(const char* element, const std::string& text) {
  XmlDOM& doc = *document_;
  int count = 0;
  doc.resetActiveToRoot();
  doc.findNodes(("Log/" + std::string(element)).c_str(), count, true);
  if (count > 0) {
    doc.setNodeValue(text.c_str(), 0);
    return true;
  }
  doc.resetActiveToRoot();
  doc.findNodes("Log", count, true);
  if (count == 0) return false;
  doc.createNode(element, text.c_str(), false, -1);
  return true;
}

void LogConfigurationInternal::setLogFileName(const char* logFile) {
  const std::string text = logFile != nullptr ? logFile : "";
  setStored("LogFile", text, logFile_, text);
}

void LogConfigurationInternal::setDebugMask(long levelMask) {
  setStored("LevelMask", formatMask(levelMask), levelMask_, levelMask);
}

void LogConfigurationInternal::setLocationMask(long locationMask) {
  setStored("LocationMask", formatMask(locationMask), locationMask_, locationMask);
}

void LogConfigurationInternal::setUpdateTime(int updateTime) {
  setStored("UpdateTime", formatStr("%d", updateTime), updateTime_, updateTime);
}

void LogConfigurationInternal::setMaxSize(int maxSize) {
  setStored("MaximumSize", formatStr("%d", maxSize), maxSize_, maxSize);
}

void LogConfigurationInternal::updateConfiguration(const char* logFile, long levelMask,
                                                   long locationMask, long maxSize,
                                                   bool flushAlways, int updateTime,
                                                   bool memoryProfile) {
  checkAlive(__LINE__);
  platform::NoCancelScope noCancel;  // loads files under the lock
  FunctionMutex guard(&updateMutex_);
  int count = 0;
  document_->resetActiveToRoot();
  document_->findNodes("Log", count, false);
  if (count == 0) {
    document_->resetActiveToRoot();
    document_->createNode("Log", "", false, -1);
  }
  setLogFileName(logFile);
  setDebugMask(levelMask);
  setLocationMask(locationMask);
  setMaxSize(static_cast<int>(maxSize));
  if (setElement("FlushAlways", yesNo(flushAlways))) flushAlways_ = flushAlways;
  setUpdateTime(updateTime);
  if (setElement("MemoryProfile", yesNo(memoryProfile))) memoryProfile_ = memoryProfile;
  save();
}

void LogConfigurationInternal::merge(const char* fileName) {
  checkAlive(__LINE__);
  // A private reading of the other file, not entered into the cache and
  // discarded afterwards.
  LogConfigurationInternal other(fileName);
  std::string logFile;
  long levelMask = 0;
  long locationMask = 0;
  int maxSize = 0;
  bool flushAlways = false;
  int updateTime = 0;
  bool memoryProfile = false;
  other.getData(logFile, levelMask, locationMask, maxSize, flushAlways, updateTime,
                memoryProfile);
  platform::NoCancelScope noCancel;  // loads files under the lock
  FunctionMutex guard(&updateMutex_);
  setLogFileName(logFile.c_str());
  setDebugMask(levelMask);
  setLocationMask(locationMask);
  setUpdateTime(updateTime);
  setMaxSize(maxSize);
  save();
}

void LogConfigurationInternal::save() {
  checkAlive(__LINE__);
  platform::NoCancelScope noCancel;  // loads files under the lock
  FunctionMutex guard(&updateMutex_);
  document_->saveToFile(nullptr);
}

}  // namespace tvan
