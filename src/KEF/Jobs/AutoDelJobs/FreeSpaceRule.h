#pragma once
// The free-space rule, run on a root after the age rule: when the root's
// file system has less than MinFreePercent free, it ranks the files the
// patterns allow that are older than MinAgeHours (but not old enough for the
// age rule, which has had its turn) and deletes them oldest first until the
// space given back reaches the goal.
//
// Ranking needs every candidate at once: memory grows with their number
// (FreeSpaceCandidates), unlike the age rule's.
#include <sys/stat.h>
#include <sys/statvfs.h>

#include <cstdint>
#include <functional>
#include <string>

#include "KEF/Jobs/AutoDelJobs/TreeWalker.h"

namespace KEF {

class AgeClock;
class AgeRule;
class StopPoller;
struct DeletionPolicy;

class FreeSpaceRule {
 public:
  using Probe = std::function<int(int fd, struct statvfs* out)>;

  // All arguments must outlive the rule.
  FreeSpaceRule(const DeletionPolicy& policy, const PatternMatcher& matcher, const AgeClock& clock,
                const AgeRule& ageRule, const Probe& probe, StopPoller& stop, FileRemover& remover,
                DeletionTotals& totals);

  // Applies the rule below `rootFd`. `alreadyFreed` is space the probe does
  // not show yet: what a dry run's age rule would have given back.
  TreeWalker::Outcome apply(int rootFd, const struct stat& rootStat, const std::string& rootPath,
                            uint64_t alreadyFreed);

 private:
  // The bytes still to free to reach the goal; 0 when it is met or the
  // probe fails (counted as an error).
  uint64_t shortfall(int rootFd, const std::string& rootPath, uint64_t alreadyFreed);

  const DeletionPolicy& policy_;
  const PatternMatcher& matcher_;
  const AgeClock& clock_;
  const AgeRule& ageRule_;
  const Probe& probe_;
  StopPoller& stop_;
  FileRemover& remover_;
  DeletionTotals& totals_;
};

}  // namespace KEF
