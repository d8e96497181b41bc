#include "KEF/Jobs/AutoDelJobs/CandidateUnlinker.h"

#include <fcntl.h>

#include <cerrno>
#include <cstring>

#include "KEF/Jobs/AutoDelJobs/FolderLock.h"

namespace KEF {

CandidateUnlinker::CandidateUnlinker(int rootFd, const struct stat& rootStat,
                                     const std::string& rootPath, FileRemover& remover,
                                     DeletionTotals& totals)
    : rootFd_(rootFd),
      rootDevice_(rootStat.st_dev),
      rootPath_(rootPath),
      remover_(remover),
      totals_(totals) {}

uint64_t CandidateUnlinker::remove(const char* relativePath, ino_t inode) {
  const char* slash = std::strrchr(relativePath, '/');
  const size_t folderLength = slash == nullptr ? 0 : static_cast<size_t>(slash - relativePath);
  const int folderFd = openFolder(relativePath, folderLength);
  if (folderFd < 0) return 0;
  const char* name = slash == nullptr ? relativePath : slash + 1;
  const std::string path = rootPath_ + "/" + relativePath;
  struct stat st;
  if (::fstatat(folderFd, name, &st, AT_SYMLINK_NOFOLLOW) != 0) {
    const int error = errno;
    if (error != ENOENT) totals_.addError(path, std::strerror(error));
    return 0;
  }
  // Replaced since it was ranked: not the file that was judged old.
  if (!S_ISREG(st.st_mode) || st.st_dev != rootDevice_ || st.st_ino != inode) return 0;
  if (remover_.remove(folderFd, name, path, st) != FileRemover::Fate::kRemoved) return 0;
  return static_cast<uint64_t>(st.st_blocks) * 512;
}

int CandidateUnlinker::openFolder(const char* relativePath, size_t length) {
  if (length == 0) return rootFd_;
  if (openFd_.valid() && openPath_.size() == length &&
      openPath_.compare(0, length, relativePath, length) == 0) {
    return openFd_.get();
  }
  openFd_.reset();
  openPath_.assign(relativePath, length);
  ScopedFd current;
  int at = rootFd_;
  size_t start = 0;
  while (start < length) {
    size_t end = openPath_.find('/', start);
    if (end == std::string::npos) end = length;
    const std::string component = openPath_.substr(start, end - start);
    ScopedFd next(::openat(at, component.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC));
    if (!next.valid()) {
      // Gone or turned into a link since the ranking walk: nothing to delete.
      const int error = errno;
      if (error != ENOENT && error != ELOOP && error != ENOTDIR) {
        totals_.addError(rootPath_ + "/" + openPath_.substr(0, end), std::strerror(error));
      }
      return -1;
    }
    struct stat st;
    if (::fstat(next.get(), &st) != 0 || st.st_dev != rootDevice_) return -1;
    if (FolderLock::holdShared(next.get()) == FolderLock::State::kBusy) return -1;
    current.reset(next.release());
    at = current.get();
    start = end + 1;
  }
  openFd_.reset(current.release());
  return openFd_.get();
}

}  // namespace KEF
