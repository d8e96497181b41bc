#include "Base/System/DirectoryReport.h"

#include <cstdarg>
#include <string>

#include "Base/BaseTypes/FormatStr.h"

namespace tvan {

// Defined with the log writer. Weak, so that a program that links the system
// component without the log writer still links (and reports nothing).
void writeDirectoryEvent(Log* log, int level, const std::string& text) __attribute__((weak));

void reportDirectoryEvent(Log* log, int level, const char* format, ...) {
  if (log == nullptr || writeDirectoryEvent == nullptr) return;
  va_list args;
  va_start(args, format);
  const std::string text = vformatStr(format, args);
  va_end(args);
  writeDirectoryEvent(log, level, text);
}

}  // namespace tvan
