#pragma once
// AppInfo: which application the library runs in (name, version, build).
// An application replaces the default by constructing its own derived object
// (typically a static one), which becomes the current instance for its
// lifetime. Without one, info() supplies a default whose texts are
// "unknown", "Unreleased", "Stream", "Build Version" and "Build Date".
#include "Base/BaseTypes/VString.h"

namespace tvan {

class AppInfo {
 public:
  // Becomes the current instance; a default the library created is deleted.
  AppInfo();
  AppInfo(const AppInfo&) = delete;
  AppInfo& operator=(const AppInfo&) = delete;
  // When current, leaves no current instance.
  virtual ~AppInfo();

  // The current instance, created (as a default) when there is none. The
  // reference stays valid until another AppInfo is constructed or this one
  // is destroyed.
  static AppInfo& info();

  virtual VString name() const;
  virtual VString version() const;
  virtual int majorVersion() const;
  virtual int minorVersion() const;
  virtual int subMinorVersion() const;
  virtual int patchVersion() const;
  virtual VString status() const;
  virtual VString buildStream() const;
  virtual VString buildVersion() const;
  virtual VString buildDate() const;

 private:
  struct LibraryDefault {};
  // The default instance info() creates; registered by info() itself.
  explicit AppInfo(LibraryDefault) {}
};

}  // namespace tvan
