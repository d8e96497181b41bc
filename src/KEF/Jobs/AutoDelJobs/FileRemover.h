#pragma once
// Deletes one file that a rule chose, from its directory descriptor, and
// accounts for it: the pass's deleted count and bytes, the visitor, and the
// space it gave back. In a dry run it accounts the same and deletes nothing.
#include <sys/stat.h>

#include <cstdint>
#include <functional>
#include <string>

#include "KEF/Jobs/AutoDelJobs/DeletionTotals.h"

namespace KEF {

class FileRemover {
 public:
  // What became of a file the remover was given.
  enum class Fate {
    kRemoved,   // deleted (or would be, in a dry run)
    kVanished,  // someone else deleted it first: not an error, not counted
    kKept,      // could not be deleted; the error is counted
  };
  using Visitor = std::function<void(const std::string& path, uint64_t size)>;

  // `onDelete` may be empty; it and `totals` must outlive the remover.
  FileRemover(bool dryRun, const Visitor& onDelete, DeletionTotals& totals)
      : dryRun_(dryRun), onDelete_(onDelete), totals_(totals) {}

  // Deletes `name` in `dirFd`; `st` is what fstatat said of it and `path`
  // its full path, for the visitor and errors.
  Fate remove(int dirFd, const char* name, const std::string& path, const struct stat& st);

  bool dryRun() const { return dryRun_; }
  // The disk space (allocated blocks) of the files removed so far.
  uint64_t spaceFreed() const { return spaceFreed_; }

 private:
  bool dryRun_;
  const Visitor& onDelete_;
  DeletionTotals& totals_;
  uint64_t spaceFreed_ = 0;
};

}  // namespace KEF
