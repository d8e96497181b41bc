#pragma once
// The age rule, as the visitor of a walk: deletes the files older than
// MaxAgeDays that the patterns allow, and, with RemoveEmptyDirs, the
// folders the walk leaves empty.
#include <sys/types.h>

#include <cstdint>
#include <utility>
#include <vector>

#include "KEF/Jobs/AutoDelJobs/TreeWalker.h"

namespace KEF {

class AgeClock;
struct DeletionPolicy;

class AgeRule : public TreeWalker::Visitor {
 public:
  // Device and inode of a folder.
  using FolderIds = std::vector<std::pair<dev_t, ino_t>>;

  // `roots` are never removed, even when one lies below another. All
  // arguments must outlive the rule.
  AgeRule(const DeletionPolicy& policy, const PatternMatcher& matcher, const AgeClock& clock,
          const FolderIds& roots, FileRemover& remover, DeletionTotals& totals);

  FileRemover::Fate visitFile(const TreeWalker::Entry& file) override;
  // Removes a folder left empty when this walk emptied it or when it is old
  // itself (by its time before the walk changed it); a new, empty folder is
  // most likely waiting for files.
  FileRemover::Fate leaveFolder(const TreeWalker::Entry& folder, bool empty,
                                bool removedSome) override;

  // Whether the age rule would delete this file on age alone: the
  // free-space rule leaves those to it.
  bool isOldEnough(const struct stat& st) const;
  // Whether `name` is the service's configuration file, which is never deleted.
  static bool isConfigFile(const char* name);

 private:
  const DeletionPolicy& policy_;
  const PatternMatcher& matcher_;
  const AgeClock& clock_;
  const FolderIds& roots_;
  FileRemover& remover_;
  DeletionTotals& totals_;
  int64_t maxAgeNs_;
};

}  // namespace KEF
