#pragma once
// The one place where directory listing reports its events to a Log. Does
// nothing when `log` is null.
namespace tvan {

class Log;

void reportDirectoryEvent(Log* log, int level, const char* format, ...)
    __attribute__((format(printf, 3, 4)));

}  // namespace tvan
