#include "KEF/Jobs/AutoDelJobs/TreeWalker.h"

#include <fcntl.h>

#include <cerrno>
#include <cstring>

#include "KEF/Jobs/AutoDelJobs/FolderLock.h"
#include "KEF/Jobs/AutoDelJobs/PatternMatcher.h"
#include "KEF/Jobs/AutoDelJobs/ScopedFd.h"
#include "KEF/Jobs/AutoDelJobs/StopPoller.h"

namespace KEF {

namespace {

// Large buffers near the top, where the folders with many entries usually
// are, fewer system calls per entry; small ones deeper down, so that a very
// deep tree costs little memory per level.
constexpr size_t kShallowLevels = 8;
constexpr size_t kShallowBuffer = 32 * 1024;
constexpr size_t kDeepBuffer = 4 * 1024;

bool isDotOrDotDot(const char* name) {
  return name[0] == '.' && (name[1] == '\0' || (name[1] == '.' && name[2] == '\0'));
}

std::string reason(const char* what, int error) {
  return std::string(what) + ": " + std::strerror(error);
}

}  // namespace

TreeWalker::TreeWalker(const PatternMatcher& matcher, StopPoller& stop, DeletionTotals& totals)
    : matcher_(matcher), stop_(stop), totals_(totals) {}

TreeWalker::~TreeWalker() { closeLevels(); }

TreeWalker::Outcome TreeWalker::walk(int rootFd, const struct stat& rootStat,
                                     const std::string& rootPath, Visitor& visitor,
                                     std::string& error) {
  visitor_ = &visitor;
  rootDevice_ = rootStat.st_dev;
  path_ = rootPath;
  while (path_.size() > 1 && path_.back() == '/') path_.pop_back();
  rootLength_ = path_.size();
  if (levels_.empty()) levels_.push_back(std::make_unique<Level>(kShallowBuffer));
  Level& root = *levels_[0];
  root.stream.open(rootFd, false);
  root.pathLength = rootLength_;
  root.st = rootStat;
  root.remaining = 0;
  root.removedSome = false;
  root.complete = true;
  depth_ = 0;

  struct CloseOnExit {
    TreeWalker& walker;
    ~CloseOnExit() { walker.closeLevels(); }
  } closeOnExit{*this};

  for (;;) {
    if (stop_.stopRequested()) return Outcome::kStopped;
    Level& level = *levels_[depth_];
    int readError = 0;
    const struct dirent64* entry = level.stream.next(readError);
    if (entry == nullptr) {
      if (readError != 0) {
        if (depth_ == 0) {
          error = "Root \"" + rootPath + "\" cannot be read: " + std::strerror(readError);
          return Outcome::kRootUnreadable;
        }
        path_.resize(level.pathLength);
        totals_.addError(path_, reason("cannot read folder", readError));
        level.complete = false;
      }
      if (depth_ == 0) return Outcome::kDone;
      leave(depth_);
      --depth_;
      continue;
    }
    if (isDotOrDotDot(entry->d_name)) continue;
    path_.resize(level.pathLength);
    path_ += '/';
    path_ += entry->d_name;
    handleEntry(depth_, entry->d_name, entry->d_type);
  }
}

void TreeWalker::handleEntry(size_t depth, const char* name, unsigned char type) {
  Level& level = *levels_[depth];
  // The listing's type spares a look at entries that are skipped anyway.
  switch (type) {
    case DT_LNK:
      ++totals_.skippedLinks;
      ++level.remaining;
      return;
    case DT_FIFO:
    case DT_SOCK:
    case DT_CHR:
    case DT_BLK:
      ++totals_.skippedOther;
      ++level.remaining;
      return;
    default:
      break;
  }
  struct stat st;
  if (::fstatat(level.stream.fd(), name, &st, AT_SYMLINK_NOFOLLOW) != 0) {
    if (errno != ENOENT) {  // gone meanwhile: nothing to do, nothing left
      totals_.addError(path_, reason("cannot read", errno));
      ++level.remaining;
    }
    return;
  }
  if (S_ISREG(st.st_mode)) {
    const FileRemover::Fate fate =
        visitor_->visitFile(Entry{level.stream.fd(), name, relativePath(), path_, st});
    if (fate == FileRemover::Fate::kKept) ++level.remaining;
    if (fate == FileRemover::Fate::kRemoved) level.removedSome = true;
    return;
  }
  if (S_ISDIR(st.st_mode)) {
    enter(depth, name, st);
    return;
  }
  if (S_ISLNK(st.st_mode)) {
    ++totals_.skippedLinks;
  } else {
    ++totals_.skippedOther;
  }
  ++level.remaining;
}

bool TreeWalker::enter(size_t depth, const char* name, const struct stat& st) {
  Level& parent = *levels_[depth];
  if (matcher_.isProtected(name, relativePath())) {
    ++totals_.skippedProtected;
    ++parent.remaining;
    return false;
  }
  if (st.st_dev != rootDevice_) {
    ++totals_.skippedMountPoints;
    ++parent.remaining;
    return false;
  }
  ScopedFd fd(::openat(parent.stream.fd(), name, O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC));
  if (!fd.valid()) {
    const int error = errno;
    if (error == ENOENT) return false;
    ++parent.remaining;
    if (error == ELOOP) {
      ++totals_.skippedLinks;       // became a link after fstatat looked
    } else if (error != ENOTDIR) {  // ENOTDIR: became a file; the next pass sees it
      totals_.addError(path_, reason("cannot open folder", error));
    }
    return false;
  }
  // Another folder renamed into its place between the look and the open is
  // left alone: it is not the one that was judged.
  struct stat opened;
  if (::fstat(fd.get(), &opened) != 0 || opened.st_dev != st.st_dev || opened.st_ino != st.st_ino) {
    ++parent.remaining;
    return false;
  }
  if (FolderLock::holdShared(fd.get()) == FolderLock::State::kBusy) {
    ++totals_.skippedLocked;
    ++parent.remaining;
    return false;
  }
  const size_t childDepth = depth + 1;
  if (levels_.size() <= childDepth) {
    levels_.push_back(
        std::make_unique<Level>(childDepth < kShallowLevels ? kShallowBuffer : kDeepBuffer));
  }
  Level& child = *levels_[childDepth];
  child.stream.open(fd.release(), true);
  child.pathLength = path_.size();
  child.st = st;
  child.remaining = 0;
  child.removedSome = false;
  child.complete = true;
  depth_ = childDepth;
  return true;
}

void TreeWalker::leave(size_t depth) {
  Level& child = *levels_[depth];
  Level& parent = *levels_[depth - 1];
  path_.resize(child.pathLength);
  const char* name = path_.c_str() + parent.pathLength + 1;
  const bool empty = child.complete && child.remaining == 0;
  // The folder stays open (and locked) until the visitor is done with it.
  const FileRemover::Fate fate = visitor_->leaveFolder(
      Entry{parent.stream.fd(), name, relativePath(), path_, child.st}, empty, child.removedSome);
  child.stream.close();
  if (fate == FileRemover::Fate::kKept) ++parent.remaining;
  if (fate == FileRemover::Fate::kRemoved) parent.removedSome = true;
}

void TreeWalker::closeLevels() {
  for (size_t depth = 0; depth <= depth_ && depth < levels_.size(); ++depth) {
    levels_[depth]->stream.close();
  }
  depth_ = 0;
}

}  // namespace KEF
