#include "KEF/Database/internal/EngineLog.h"

#include "Base/System/ConfigurationLocations.h"

namespace tvan {
namespace dbinternal {

void logEngineEvent(ELogLevel level, const char* function, const std::string& text) {
  try {
    std::string configuration;
    getKEFConfigurationFileName(configuration);
    Log log(configuration.c_str(), kConfigFileLog);
    log.log(level, __FILE__, __LINE__, function, text);
  } catch (...) {
    // A log that cannot be written must not fail the write it reports on.
  }
}

}  // namespace dbinternal
}  // namespace tvan
