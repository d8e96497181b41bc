#include "Host/ProgressStream.h"

#include <fcntl.h>
#include <unistd.h>

namespace kefhost {

ProgressStream::ProgressStream() : file_(stdout) {
  std::fflush(stdout);
  const int progressFd = ::fcntl(STDOUT_FILENO, F_DUPFD_CLOEXEC, 3);
  if (progressFd < 0) return;
  FILE* progress = ::fdopen(progressFd, "w");
  if (progress == nullptr) {
    ::close(progressFd);
    return;
  }
  savedFd_ = ::fcntl(STDOUT_FILENO, F_DUPFD_CLOEXEC, 3);
  if (savedFd_ < 0 || ::dup2(STDERR_FILENO, STDOUT_FILENO) < 0) {
    std::fclose(progress);
    if (savedFd_ >= 0) ::close(savedFd_);
    savedFd_ = -1;
    return;
  }
  file_ = progress;
}

ProgressStream::~ProgressStream() {
  if (file_ == stdout) return;
  std::fclose(file_);
  std::fflush(stdout);
  ::dup2(savedFd_, STDOUT_FILENO);
  ::close(savedFd_);
}

}  // namespace kefhost
