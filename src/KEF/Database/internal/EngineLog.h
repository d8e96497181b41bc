#pragma once
// Entries of the database engines in the framework's log (the log that the
// framework configuration file sets up, as the service manager writes it).
#include <string>

#include "Base/Log/Log.h"

namespace tvan {
namespace dbinternal {

// Writes `text` at `level`; never throws.
void logEngineEvent(ELogLevel level, const char* function, const std::string& text);

}  // namespace dbinternal
}  // namespace tvan
