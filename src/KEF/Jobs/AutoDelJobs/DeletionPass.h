#pragma once
// One pass of the deletion policy over every root.
//
// The walk goes by directory descriptors (openat with O_NOFOLLOW |
// O_DIRECTORY, fstatat with AT_SYMLINK_NOFOLLOW, unlinkat), never by
// resolving path strings again, so that a folder swapped for a symbolic link
// during the pass cannot lead it outside its root. It never follows a link,
// never crosses into another file system, never deletes a root or a file
// named KEFConfiguration.xml (any letter case), and skips a folder another
// process holds locked with flock, with its contents. Memory grows with the
// depth of the tree, not with the number of files, except for the candidates
// the free-space rule ranks.
//
// Threads: a pass runs on one thread; the stop check may be answered from
// state other threads write.
#include <sys/statvfs.h>

#include <cstdint>
#include <functional>
#include <string>

#include "KEF/Jobs/AutoDelJobs/DeletionPolicy.h"
#include "KEF/Jobs/AutoDelJobs/DeletionTotals.h"

namespace KEF {

class DeletionPass {
 public:
  // Asked at least every 100 ms while the pass runs; true ends it early.
  using StopCheck = std::function<bool()>;
  // Called for each file deleted (or, in a dry run, that would be), with
  // its full path and size.
  using FileVisitor = std::function<void(const std::string& path, uint64_t size)>;
  // fstatvfs(2) as the free-space rule sees it; tests replace it.
  using FreeSpaceProbe = std::function<int(int fd, struct statvfs* out)>;

  explicit DeletionPass(const DeletionPolicy& policy);

  void setStopCheck(StopCheck check) { stopCheck_ = std::move(check); }
  void setOnDelete(FileVisitor visitor) { onDelete_ = std::move(visitor); }
  void setFreeSpaceProbe(FreeSpaceProbe probe) { freeSpaceProbe_ = std::move(probe); }

  // Runs the pass, adding its figures to `totals`. True when every root was
  // walked (entries that failed are counted in `totals`, not failures);
  // false, with `error` set, when a root could not be walked (the others
  // still are) or the pass was stopped.
  bool run(DeletionTotals& totals, std::string& error);

  bool wasStopped() const { return stopped_; }

 private:
  DeletionPolicy policy_;
  StopCheck stopCheck_;
  FileVisitor onDelete_;
  FreeSpaceProbe freeSpaceProbe_;
  bool stopped_ = false;
};

}  // namespace KEF
