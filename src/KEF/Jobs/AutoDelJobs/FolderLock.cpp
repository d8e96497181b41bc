#include "KEF/Jobs/AutoDelJobs/FolderLock.h"

#include <sys/file.h>

#include <cerrno>

namespace KEF {

FolderLock::State FolderLock::holdShared(int fd) {
  if (::flock(fd, LOCK_EX | LOCK_NB) != 0) {
    return errno == EWOULDBLOCK ? State::kBusy : State::kHeldShared;
  }
  // Converting drops the exclusive lock before taking the shared one; a
  // writer that slipped in between has the folder now, so it counts as busy.
  if (::flock(fd, LOCK_SH | LOCK_NB) != 0 && errno == EWOULDBLOCK) return State::kBusy;
  return State::kHeldShared;
}

}  // namespace KEF
