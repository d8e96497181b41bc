#include "Base/BaseTypes/AppInfo.h"

#include <mutex>

namespace tvan {

namespace {

// Process-wide; never destroyed (AppInfo objects may die at process exit).
struct AppInfoState {
  std::mutex mutex;
  AppInfo* current = nullptr;  // guarded by mutex
  bool libraryMade = false;    // current was created by info(); owned here
};

AppInfoState& state() {
  static AppInfoState* s = new AppInfoState;
  return *s;
}

}  // namespace

AppInfo::AppInfo() {
  AppInfoState& s = state();
  AppInfo* replaced = nullptr;
  {
    std::lock_guard<std::mutex> lock(s.mutex);
    if (s.libraryMade) replaced = s.current;
    s.current = this;
    s.libraryMade = false;
  }
  delete replaced;  // no longer current, so its destructor leaves state alone
}

AppInfo::~AppInfo() {
  AppInfoState& s = state();
  std::lock_guard<std::mutex> lock(s.mutex);
  if (s.current == this) {
    s.current = nullptr;
    s.libraryMade = false;
  }
}

AppInfo& AppInfo::info() {
  AppInfoState& s = state();
  std::lock_guard<std::mutex> lock(s.mutex);
  if (s.current == nullptr) {
    s.current = new AppInfo(LibraryDefault{});
    s.libraryMade = true;
  }
  return *s.current;
}

VString AppInfo::name() const { return VString("unknown"); }
VString AppInfo::version() const { return VString("unknown"); }
int AppInfo::majorVersion() const { return 0; }
int AppInfo::minorVersion() const { return 0; }
int AppInfo::subMinorVersion() const { return 0; }
int AppInfo::patchVersion() const { return 0; }
VString AppInfo::status() const { return VString("Unreleased"); }
VString AppInfo::buildStream() const { return VString("Stream"); }
VString AppInfo::buildVersion() const { return VString("Build Version"); }
VString AppInfo::buildDate() const { return VString("Build Date"); }

}  // namespace tvan
