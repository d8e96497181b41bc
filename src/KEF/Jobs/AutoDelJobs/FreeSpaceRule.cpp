#include "KEF/Jobs/AutoDelJobs/FreeSpaceRule.h"

#include <cerrno>
#include <cmath>
#include <cstring>

#include "KEF/Jobs/AutoDelJobs/AgeClock.h"
#include "KEF/Jobs/AutoDelJobs/AgeRule.h"
#include "KEF/Jobs/AutoDelJobs/CandidateUnlinker.h"
#include "KEF/Jobs/AutoDelJobs/DeletionPolicy.h"
#include "KEF/Jobs/AutoDelJobs/FreeSpaceCandidates.h"
#include "KEF/Jobs/AutoDelJobs/PatternMatcher.h"
#include "KEF/Jobs/AutoDelJobs/StopPoller.h"

namespace KEF {

namespace {

constexpr double kSecondsPerHour = 3600;

// Collects candidates during a walk; deletes nothing, so every folder stays.
class CandidateCollector : public TreeWalker::Visitor {
 public:
  CandidateCollector(const PatternMatcher& matcher, const AgeClock& clock, const AgeRule& ageRule,
                     int64_t minAgeNs, FreeSpaceCandidates& out)
      : matcher_(matcher), clock_(clock), ageRule_(ageRule), minAgeNs_(minAgeNs), out_(out) {}

  FileRemover::Fate visitFile(const TreeWalker::Entry& file) override {
    if (AgeRule::isConfigFile(file.name) || matcher_.isProtected(file.name, file.relativePath) ||
        !matcher_.isIncluded(file.name, file.relativePath) ||
        !clock_.olderThan(file.st, minAgeNs_) || ageRule_.isOldEnough(file.st)) {
      return FileRemover::Fate::kKept;
    }
    out_.add(file.relativePath, file.st.st_ino, clock_.timeOf(file.st),
             static_cast<uint64_t>(file.st.st_blocks) * 512);
    return FileRemover::Fate::kKept;
  }
  FileRemover::Fate leaveFolder(const TreeWalker::Entry&, bool, bool) override {
    return FileRemover::Fate::kKept;
  }

 private:
  const PatternMatcher& matcher_;
  const AgeClock& clock_;
  const AgeRule& ageRule_;
  int64_t minAgeNs_;
  FreeSpaceCandidates& out_;
};

}  // namespace

FreeSpaceRule::FreeSpaceRule(const DeletionPolicy& policy, const PatternMatcher& matcher,
                             const AgeClock& clock, const AgeRule& ageRule, const Probe& probe,
                             StopPoller& stop, FileRemover& remover, DeletionTotals& totals)
    : policy_(policy),
      matcher_(matcher),
      clock_(clock),
      ageRule_(ageRule),
      probe_(probe),
      stop_(stop),
      remover_(remover),
      totals_(totals) {}

uint64_t FreeSpaceRule::shortfall(int rootFd, const std::string& rootPath, uint64_t alreadyFreed) {
  struct statvfs space {};
  const int result = probe_ ? probe_(rootFd, &space) : ::fstatvfs(rootFd, &space);
  if (result != 0) {
    const int error = errno;
    totals_.addError(rootPath, std::string("cannot read free space: ") + std::strerror(error));
    return 0;
  }
  const double total = static_cast<double>(space.f_blocks) * space.f_frsize;
  const double available = static_cast<double>(space.f_bavail) * space.f_frsize + alreadyFreed;
  const double goal = std::ceil(total * policy_.minFreePercent / 100);
  return available >= goal ? 0 : static_cast<uint64_t>(goal - available);
}

TreeWalker::Outcome FreeSpaceRule::apply(int rootFd, const struct stat& rootStat,
                                         const std::string& rootPath, uint64_t alreadyFreed) {
  const uint64_t needed = shortfall(rootFd, rootPath, alreadyFreed);
  if (needed == 0) return TreeWalker::Outcome::kDone;

  // The ranking walk sees again what the age rule counted: its skips and
  // errors go to scratch figures, so that nothing is counted twice.
  FreeSpaceCandidates candidates;
  {
    DeletionTotals uncounted;
    TreeWalker walker(matcher_, stop_, uncounted);
    CandidateCollector collector(matcher_, clock_, ageRule_,
                                 AgeClock::limitNs(policy_.minAgeHours * kSecondsPerHour),
                                 candidates);
    std::string unused;
    const TreeWalker::Outcome outcome = walker.walk(rootFd, rootStat, rootPath, collector, unused);
    if (outcome == TreeWalker::Outcome::kStopped) return outcome;
    // The age rule's walk has reported an unreadable root already.
    if (outcome == TreeWalker::Outcome::kRootUnreadable) return TreeWalker::Outcome::kDone;
  }
  candidates.sortOldestFirst();

  CandidateUnlinker unlinker(rootFd, rootStat, rootPath, remover_, totals_);
  uint64_t freed = 0;
  for (size_t i = 0; i < candidates.size() && freed < needed; ++i) {
    if (stop_.stopRequested()) return TreeWalker::Outcome::kStopped;
    const FreeSpaceCandidates::Candidate& candidate = candidates[i];
    freed += unlinker.remove(candidates.relativePath(candidate), candidate.inode);
  }
  return TreeWalker::Outcome::kDone;
}

}  // namespace KEF
