#include "KEF/Jobs/AutoDelJobs/DeletionPass.h"

#include <fcntl.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <cstring>
#include <mutex>

#include "KEF/Jobs/AutoDelJobs/AgeClock.h"
#include "KEF/Jobs/AutoDelJobs/AgeRule.h"
#include "KEF/Jobs/AutoDelJobs/FileRemover.h"
#include "KEF/Jobs/AutoDelJobs/FolderLock.h"
#include "KEF/Jobs/AutoDelJobs/FreeSpaceRule.h"
#include "KEF/Jobs/AutoDelJobs/PatternMatcher.h"
#include "KEF/Jobs/AutoDelJobs/ScopedFd.h"
#include "KEF/Jobs/AutoDelJobs/StopPoller.h"
#include "KEF/Jobs/AutoDelJobs/SystemFolders.h"
#include "KEF/Jobs/AutoDelJobs/TreeWalker.h"

namespace KEF {

namespace {

// A walk holds one descriptor per level of the tree; the soft limit is often
// far below the hard one, which the process may raise itself to.
void raiseFileLimitOnce() {
  static std::once_flag once;
  std::call_once(once, [] {
    rlimit limit{};
    if (::getrlimit(RLIMIT_NOFILE, &limit) != 0 || limit.rlim_cur >= limit.rlim_max) return;
    limit.rlim_cur = limit.rlim_max;
    ::setrlimit(RLIMIT_NOFILE, &limit);  // failing leaves the walk to count EMFILE
  });
}

// Where the opened root really is, judged again: the path was checked before
// it was opened, and a link along it may have changed in between.
std::string refuseOpenedRoot(int fd, const std::string& root) {
  const std::string link = "/proc/self/fd/" + std::to_string(fd);
  char target[PATH_MAX];
  const ssize_t length = ::readlink(link.c_str(), target, sizeof(target) - 1);
  if (length <= 0) return "";  // no /proc to ask: the check before opening stands
  const std::string opened(target, static_cast<size_t>(length));
  const std::string verdict = SystemFolders::judge(opened);
  return verdict.empty() ? "" : "Root \"" + root + "\" leads to " + opened + ", " + verdict;
}

// Opens a root that refuseRoot() allows, checks where it really is, and
// reads its identity; why not, or "".
std::string openRoot(const std::string& root, ScopedFd& fd, struct stat& st) {
  std::string failure = DeletionPolicy::refuseRoot(root);
  if (!failure.empty()) return failure;
  fd.reset(::open(root.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
  if (!fd.valid() || ::fstat(fd.get(), &st) != 0) {
    const int error = errno;
    return "Root \"" + root + "\" cannot be opened: " + std::strerror(error);
  }
  return refuseOpenedRoot(fd.get(), root);
}

}  // namespace

DeletionPass::DeletionPass(const DeletionPolicy& policy) : policy_(policy) {}

bool DeletionPass::run(DeletionTotals& totals, std::string& error) {
  stopped_ = false;
  error.clear();
  raiseFileLimitOnce();
  StopPoller stop(stopCheck_);
  const PatternMatcher matcher(policy_.include, policy_.protect);
  const AgeClock clock(policy_.ageBy, AgeClock::wallNowNs());
  AgeRule::FolderIds rootIds;
  for (const std::string& root : policy_.roots) {
    struct stat st;
    if (::stat(root.c_str(), &st) == 0) rootIds.emplace_back(st.st_dev, st.st_ino);
  }

  for (const std::string& root : policy_.roots) {
    if (stop.askNow()) {
      stopped_ = true;
      break;
    }
    ScopedFd rootFd;
    struct stat rootStat;
    std::string failure = openRoot(root, rootFd, rootStat);
    if (failure.empty() && FolderLock::holdShared(rootFd.get()) == FolderLock::State::kBusy) {
      ++totals.skippedLocked;
      continue;
    }
    if (failure.empty()) {
      FileRemover remover(policy_.dryRun, onDelete_, totals);
      AgeRule ageRule(policy_, matcher, clock, rootIds, remover, totals);
      TreeWalker walker(matcher, stop, totals);
      TreeWalker::Outcome outcome = walker.walk(rootFd.get(), rootStat, root, ageRule, failure);
      if (outcome == TreeWalker::Outcome::kDone && policy_.hasFreeSpaceRule()) {
        FreeSpaceRule freeSpace(policy_, matcher, clock, ageRule, freeSpaceProbe_, stop, remover,
                                totals);
        // The probe cannot see what a dry run only pretended to free.
        outcome = freeSpace.apply(rootFd.get(), rootStat, root,
                                  policy_.dryRun ? remover.spaceFreed() : 0);
      }
      if (outcome == TreeWalker::Outcome::kStopped) {
        stopped_ = true;
        break;
      }
    }
    if (!failure.empty()) error += (error.empty() ? "" : "; ") + failure;
  }
  if (stopped_) {
    error = "stopped";
    return false;
  }
  return error.empty();
}

}  // namespace KEF
