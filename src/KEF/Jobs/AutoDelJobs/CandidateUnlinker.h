#pragma once
// Deletes a ranked free-space candidate by its path below the root without
// trusting that path: it opens one component at a time from the root's
// descriptor (O_NOFOLLOW | O_DIRECTORY, on the root's file system, not
// locked by another process) and deletes the final name only when it is
// still the regular file, by inode, that the ranking walk saw.
//
// Consecutive candidates often share a folder, so the last folder stays open
// (and held with a shared lock) until a candidate elsewhere comes.
#include <sys/stat.h>

#include <cstdint>
#include <string>

#include "KEF/Jobs/AutoDelJobs/FileRemover.h"
#include "KEF/Jobs/AutoDelJobs/ScopedFd.h"

namespace KEF {

class CandidateUnlinker {
 public:
  // `rootFd` stays the caller's; the arguments must outlive the unlinker.
  CandidateUnlinker(int rootFd, const struct stat& rootStat, const std::string& rootPath,
                    FileRemover& remover, DeletionTotals& totals);

  // The space (st_blocks * 512) deleting `relativePath` gave back (or would
  // in a dry run); 0 when it was gone, changed or could not be deleted.
  uint64_t remove(const char* relativePath, ino_t inode);

 private:
  // The open folder of the first `length` bytes of `relativePath` ("" is
  // the root), or -1.
  int openFolder(const char* relativePath, size_t length);

  int rootFd_;
  dev_t rootDevice_;
  std::string rootPath_;
  FileRemover& remover_;
  DeletionTotals& totals_;
  std::string openPath_;  // relative path of the folder held in openFd_
  ScopedFd openFd_;
};

}  // namespace KEF
