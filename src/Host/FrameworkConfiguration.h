#pragma once
// Makes sure the framework finds a configuration it can read.
//
// The framework reads its configuration file (KEFConfiguration.xml, named by
// the registry or by KEF_CONFIGURATION) again wherever it makes a log or
// looks up a service option, and reports every failed load on standard
// error and standard output. A host without a configuration would drown its
// own output in those reports. So the host looks first: when no file is
// named, or the file is missing or not well-formed, it says so once and
// points KEF_CONFIGURATION at a private copy of the built-in defaults for
// the rest of the process. The copy (in a fresh folder below $TMPDIR, else
// /tmp) logs to $TMPDIR/kefhost-<uid>.log and is removed when the object
// goes. A file named by the registry cannot be replaced that way: then the
// host only says so.
//
// Make it on the main thread before anything reads the configuration.
#include <cstdio>
#include <string>

namespace kefhost {

class FrameworkConfiguration {
 public:
  // Checks the configuration; problems go to `diagnostics`, one line.
  explicit FrameworkConfiguration(FILE* diagnostics);
  ~FrameworkConfiguration();

  FrameworkConfiguration(const FrameworkConfiguration&) = delete;
  FrameworkConfiguration& operator=(const FrameworkConfiguration&) = delete;

  // True when the process runs on the private copy of the defaults.
  bool usesDefaults() const { return !privateDir_.empty(); }
  // Removes the private copy now (for an exit that skips destructors).
  void removePrivateCopy();

  // The built-in defaults as a configuration file's text.
  static std::string defaultsText(const std::string& logFile, const std::string& statisticsFile);

 private:
  // Why the named file cannot serve; "" when it can.
  static std::string problemWith(const std::string& fileName);
  // Writes the defaults into a fresh folder; "" or why it failed.
  std::string writePrivateCopy(const std::string& logFile, const std::string& statisticsFile);

  std::string privateDir_;  // empty unless the defaults are in use
};

}  // namespace kefhost
