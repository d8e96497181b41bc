#include "KEF/Jobs/AutoDelJobs/AgeRule.h"

#include <fcntl.h>
#include <strings.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "KEF/Jobs/AutoDelJobs/AgeClock.h"
#include "KEF/Jobs/AutoDelJobs/DeletionPolicy.h"
#include "KEF/Jobs/AutoDelJobs/PatternMatcher.h"

namespace KEF {

namespace {
constexpr double kSecondsPerDay = 86400;
}  // namespace

AgeRule::AgeRule(const DeletionPolicy& policy, const PatternMatcher& matcher, const AgeClock& clock,
                 const FolderIds& roots, FileRemover& remover, DeletionTotals& totals)
    : policy_(policy),
      matcher_(matcher),
      clock_(clock),
      roots_(roots),
      remover_(remover),
      totals_(totals),
      maxAgeNs_(AgeClock::limitNs(policy.maxAgeDays * kSecondsPerDay)) {}

bool AgeRule::isConfigFile(const char* name) {
  return ::strcasecmp(name, "KEFConfiguration.xml") == 0;
}

bool AgeRule::isOldEnough(const struct stat& st) const { return clock_.olderThan(st, maxAgeNs_); }

FileRemover::Fate AgeRule::visitFile(const TreeWalker::Entry& file) {
  ++totals_.scanned;
  if (isConfigFile(file.name)) {
    ++totals_.skippedConfigFiles;
    return FileRemover::Fate::kKept;
  }
  if (matcher_.isProtected(file.name, file.relativePath)) {
    ++totals_.skippedProtected;
    return FileRemover::Fate::kKept;
  }
  if (!matcher_.isIncluded(file.name, file.relativePath)) {
    ++totals_.skippedNotIncluded;
    return FileRemover::Fate::kKept;
  }
  if (!isOldEnough(file.st)) {
    ++totals_.skippedYoung;
    return FileRemover::Fate::kKept;
  }
  return remover_.remove(file.dirFd, file.name, file.fullPath, file.st);
}

FileRemover::Fate AgeRule::leaveFolder(const TreeWalker::Entry& folder, bool empty,
                                       bool removedSome) {
  if (!policy_.removeEmptyDirs || !empty) return FileRemover::Fate::kKept;
  if (!removedSome && !isOldEnough(folder.st)) return FileRemover::Fate::kKept;
  for (const auto& root : roots_) {
    if (root.first == folder.st.st_dev && root.second == folder.st.st_ino) {
      return FileRemover::Fate::kKept;
    }
  }
  if (!remover_.dryRun() && ::unlinkat(folder.dirFd, folder.name, AT_REMOVEDIR) != 0) {
    const int error = errno;
    if (error == ENOENT) return FileRemover::Fate::kVanished;
    // Something new arrived since the folder was listed: it is in use.
    if (error == ENOTEMPTY || error == EEXIST) return FileRemover::Fate::kKept;
    totals_.addError(folder.fullPath, std::string("cannot remove folder: ") + std::strerror(error));
    return FileRemover::Fate::kKept;
  }
  ++totals_.dirsRemoved;
  return FileRemover::Fate::kRemoved;
}

}  // namespace KEF
