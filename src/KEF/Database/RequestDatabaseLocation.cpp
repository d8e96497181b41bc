#include "KEF/Database/RequestDatabaseLocation.h"

#include <unistd.h>

#include <cstdlib>

#include "Base/System/ConfigurationLocations.h"
#include "Base/System/GeneralConfiguration.h"
#include "Base/XML/XmlDOM.h"

namespace tvan {

std::string requestDatabasePath() {
  const char* fromEnvironment = std::getenv("KEF_REQUEST_DATABASE");
  if (fromEnvironment != nullptr && *fromEnvironment != '\0') return fromEnvironment;
  try {
    // Without a configuration file there is nothing to read; asking
    // GeneralConfiguration would only report a failed load.
    std::string configuration;
    getKEFConfigurationFileName(configuration);
    if (!configuration.empty() && ::access(configuration.c_str(), F_OK) == 0) {
      std::string path;
      if (GeneralConfiguration(configuration.c_str()).getRequestDatabase(path) && !path.empty()) {
        return path;
      }
    }
  } catch (...) {
    // The registry or the configuration cannot be read: the default applies.
  }
  return kDefaultRequestDatabase;
}

std::string requestSpoolPath() {
  const char* fromEnvironment = std::getenv("KEF_REQUEST_SPOOL");
  if (fromEnvironment != nullptr && *fromEnvironment != '\0') return fromEnvironment;
  try {
    std::string configuration;
    getKEFConfigurationFileName(configuration);
    if (!configuration.empty() && ::access(configuration.c_str(), F_OK) == 0) {
      // GeneralConfiguration has no accessor for this element; the file is
      // read directly, which is rare enough (once per new connection).
      XmlDOM document(configuration.c_str(), true);
      int count = 0;
      document.findNodes("//KEFPrefs/RequestSpool", count, true);
      std::string path;
      if (count > 0) document.getNodeValue(path, 0);
      if (!path.empty()) return path;
    }
  } catch (...) {
    // The configuration cannot be read (XmlDOM throws texts too): the
    // default applies.
  }
  return kDefaultRequestSpool;
}

}  // namespace tvan
