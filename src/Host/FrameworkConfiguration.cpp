#include "Host/FrameworkConfiguration.h"

#include <stdlib.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <fstream>

#include "Base/System/ConfigurationLocations.h"
#include "Base/XML/XmlDOM.h"
#include "Host/BundledConfiguration.h"
#include "Host/ExceptionText.h"

namespace kefhost {

namespace {

const char kFileName[] = "KEFConfiguration.xml";

// $TMPDIR when it names a folder, else /tmp.
std::string temporaryFolder() {
  const char* value = std::getenv("TMPDIR");
  struct stat info;
  if (value != nullptr && *value != '\0' && ::stat(value, &info) == 0 && S_ISDIR(info.st_mode)) {
    return value;
  }
  return "/tmp";
}

// `text` with the value of the first <element>...</element> replaced by
// `value` (escaped).
void replaceElementText(std::string& text, const std::string& element, std::string value) {
  const std::string open = "<" + element + ">", close = "</" + element + ">";
  const size_t start = text.find(open);
  if (start == std::string::npos) return;
  const size_t end = text.find(close, start);
  if (end == std::string::npos) return;
  tvan::XmlDOM::encode(value);
  text.replace(start + open.size(), end - start - open.size(), value);
}

}  // namespace

FrameworkConfiguration::FrameworkConfiguration(FILE* diagnostics) {
  std::string fileName;
  tvan::getKEFConfigurationFileName(fileName);
  const std::string problem = problemWith(fileName);
  if (problem.empty()) return;

  // One user's log must not collide with another's file of the same name.
  const std::string base = temporaryFolder() + "/kefhost-" + std::to_string(::getuid());
  const std::string logFile = base + ".log";
  const std::string failure = writePrivateCopy(logFile, base + "-statistics.txt");
  if (!failure.empty()) {
    std::fprintf(diagnostics, "kefhost: %s; the built-in defaults cannot be used either (%s)\n",
                 problem.c_str(), failure.c_str());
    return;
  }
  ::setenv("KEF_CONFIGURATION", privateDir_.c_str(), 1);
  std::string inUse;
  tvan::getKEFConfigurationFileName(inUse);
  if (inUse != privateDir_ + "/" + kFileName) {
    // The registry names the file and wins over the environment.
    removePrivateCopy();
    std::fprintf(diagnostics,
                 "kefhost: %s; the registry names it, so the framework will keep reporting it\n",
                 problem.c_str());
    return;
  }
  std::fprintf(diagnostics, "kefhost: %s; using built-in defaults (log: %s)\n", problem.c_str(),
               logFile.c_str());
}

FrameworkConfiguration::~FrameworkConfiguration() { removePrivateCopy(); }

std::string FrameworkConfiguration::problemWith(const std::string& fileName) {
  if (fileName.empty()) return "no framework configuration is named (KEF_CONFIGURATION is not set)";
  if (::access(fileName.c_str(), R_OK) != 0) {
    return "no framework configuration at " + fileName + " (" + std::strerror(errno) + ")";
  }
  try {
    tvan::XmlDOM document(fileName.c_str(), true);
  } catch (...) {
    return "framework configuration " + fileName + " cannot be read (" + currentExceptionText() +
           ")";
  }
  return std::string();
}

std::string FrameworkConfiguration::writePrivateCopy(const std::string& logFile,
                                                     const std::string& statisticsFile) {
  std::string dir = temporaryFolder() + "/kefhost-XXXXXX";
  if (::mkdtemp(&dir[0]) == nullptr) return dir + ": " + std::strerror(errno);
  const std::string file = dir + "/" + kFileName;
  std::ofstream out(file, std::ios::binary | std::ios::trunc);
  out << defaultsText(logFile, statisticsFile);
  out.close();
  if (!out) {
    const std::string reason = file + ": " + std::strerror(errno);
    ::unlink(file.c_str());
    ::rmdir(dir.c_str());
    return reason;
  }
  privateDir_ = dir;
  return std::string();
}

void FrameworkConfiguration::removePrivateCopy() {
  if (privateDir_.empty()) return;
  ::unlink((privateDir_ + "/" + kFileName).c_str());
  ::rmdir(privateDir_.c_str());
  privateDir_.clear();
}

std::string FrameworkConfiguration::defaultsText(const std::string& logFile,
                                                 const std::string& statisticsFile) {
  // The bundled example configuration, with absolute file names: a service
  // unit's working directory is "/", where nothing may be written.
  std::string text = kBundledConfiguration;
  replaceElementText(text, "StatFile", statisticsFile);
  replaceElementText(text, "LogFile", logFile);
  return text;
}

}  // namespace kefhost
