#include "Base/BaseTypes/CachableConfig.h"

#include "Base/System/FileUtil.h"
#include "Base/System/FunctionMutex.h"
#include "Base/System/Platform/ThreadStop.h"

namespace tvan {

CachableConfig::CachableConfig(const char* fileName)
    : fileName_(fileName != nullptr ? fileName : ""),
      updateMutex_(VString("TQ_CachableConfigUpdate"), kThreadMutex),
      dead_(false) {}

CachableConfig::~CachableConfig() { dead_ = true; }

void CachableConfig::readFileStamp(VString& out) const {
  out = VString();
  FileUtil file{VString(fileName_)};
  if (!file.getFileModificationTime(out)) out = VString();
}

void CachableConfig::recordFileStamp() {
  VString now;
  readFileStamp(now);
  platform::NoCancelScope noCancel;  // loads files under the lock
  FunctionMutex guard(&updateMutex_);
  stamp_ = now;
}

void CachableConfig::updateIfNeeded() {
  checkAlive(__LINE__);
  VString now;
  readFileStamp(now);
  // The stored stamp is compared under the lock: a reload in progress on
  // another thread has either stored its stamp or not yet begun.
  platform::NoCancelScope noCancel;  // loads files under the lock
  FunctionMutex guard(&updateMutex_);
  if (now == stamp_) return;
  stamp_ = now;
  update();
}

}  // namespace tvan
