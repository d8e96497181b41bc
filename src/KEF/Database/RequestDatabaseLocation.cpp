#include "KEF/Database/RequestDatabaseLocation.h"

#include <unistd.h>

#include <cstdlib>

#include "Base/System/ConfigurationLocations.h"
#include "Base/System/GeneralConfiguration.h"

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

}  // namespace tvan
