#include "Base/System/DirectoryReport.h"

#include <cstdarg>
#include <string>

#include "Base/BaseTypes/FormatStr.h"
#include "Base/Log/Log.h"

namespace tvan {

void reportDirectoryEvent(Log* log, int level, const char* format, ...) {
  if (log == nullptr) return;
  va_list args;
  va_start(args, format);
  const std::string text = vformatStr(format, args);
  va_end(args);
  log->log(static_cast<ELogLevel>(level), __FILE__, __LINE__, "ProcessDir", text);
}

}  // namespace tvan
