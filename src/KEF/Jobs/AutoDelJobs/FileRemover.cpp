#include "KEF/Jobs/AutoDelJobs/FileRemover.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

namespace KEF {

FileRemover::Fate FileRemover::remove(int dirFd, const char* name, const std::string& path,
                                      const struct stat& st) {
  if (!dryRun_ && ::unlinkat(dirFd, name, 0) != 0) {
    if (errno == ENOENT) return Fate::kVanished;
    totals_.addError(path, std::strerror(errno));
    return Fate::kKept;
  }
  const uint64_t size = st.st_size > 0 ? static_cast<uint64_t>(st.st_size) : 0;
  ++totals_.deleted;
  totals_.bytesFreed += size;
  spaceFreed_ += static_cast<uint64_t>(st.st_blocks) * 512;
  if (onDelete_) onDelete_(path, size);
  return Fate::kRemoved;
}

}  // namespace KEF
