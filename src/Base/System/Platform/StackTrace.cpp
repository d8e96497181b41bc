#include "Base/System/Platform/StackTrace.h"

#include <execinfo.h>

namespace tvan {
namespace platform {

void writeStackTrace(int fd) {
  void* frames[64];
  const int n = backtrace(frames, 64);
  backtrace_symbols_fd(frames, n, fd);
}

}  // namespace platform
}  // namespace tvan
