#pragma once
// The descriptor-only walk below one root that both rules share.
//
// Every step goes from an open directory descriptor: getdents64 lists it,
// fstatat(AT_SYMLINK_NOFOLLOW) looks at an entry, openat(O_NOFOLLOW |
// O_DIRECTORY) enters a subfolder, whose descriptor must then show the
// device and inode fstatat saw. No path string is ever resolved again, so a
// folder swapped for a link during the walk leads nowhere outside the root.
//
// The walker itself decides what is entered and counts what it does not:
// links, sockets and devices, protected folders, folders of another file
// system and folders locked by another process. Regular files and finished
// folders go to a Visitor, which decides their fate.
//
// Memory: one DirectoryStream per level of the deepest path, reused for
// every folder at that level, and the current path; nothing per file.
#include <sys/stat.h>

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "KEF/Jobs/AutoDelJobs/DeletionTotals.h"
#include "KEF/Jobs/AutoDelJobs/DirectoryStream.h"
#include "KEF/Jobs/AutoDelJobs/FileRemover.h"

namespace KEF {

class PatternMatcher;
class StopPoller;

class TreeWalker {
 public:
  // An entry handed to the visitor; valid only during the call.
  struct Entry {
    int dirFd;                    // the directory that holds it
    const char* name;             // its name in dirFd
    const char* relativePath;     // below the root: "a/b/name"
    const std::string& fullPath;  // the root's path and relativePath
    const struct stat& st;        // as fstatat saw it (for a folder: before it was entered)
  };

  class Visitor {
   public:
    virtual ~Visitor() = default;
    // A regular file.
    virtual FileRemover::Fate visitFile(const Entry& file) = 0;
    // A folder (never the root) whose entries have all been handled and
    // that is still open. `empty`: none is left (or, in a dry run, would
    // be); `removedSome`: this walk removed (would remove) some of them.
    // Return kRemoved when the folder was removed.
    virtual FileRemover::Fate leaveFolder(const Entry& folder, bool empty, bool removedSome) = 0;
  };

  enum class Outcome { kDone, kStopped, kRootUnreadable };

  // Counts skips and errors into `totals`; the arguments must outlive the
  // walker.
  TreeWalker(const PatternMatcher& matcher, StopPoller& stop, DeletionTotals& totals);
  ~TreeWalker();

  // Walks below `rootFd` (not closed; read from its start). `rootPath`
  // prefixes the paths the visitor sees. kRootUnreadable, with `error`, when
  // the root itself cannot be listed.
  Outcome walk(int rootFd, const struct stat& rootStat, const std::string& rootPath,
               Visitor& visitor, std::string& error);

 private:
  // One open folder of the current path.
  struct Level {
    explicit Level(size_t bufferSize) : stream(bufferSize) {}
    DirectoryStream stream;
    size_t pathLength = 0;  // of path_ while at this level
    struct stat st {};
    uint64_t remaining = 0;  // entries left in it
    bool removedSome = false;
    bool complete = true;  // every entry was listed
  };

  void handleEntry(size_t depth, const char* name, unsigned char type);
  // Opens the subfolder path_ names and pushes its level; false when it is
  // skipped (counted) or gone.
  bool enter(size_t depth, const char* name, const struct stat& st);
  void leave(size_t depth);
  void closeLevels();
  const char* relativePath() const { return path_.c_str() + rootLength_ + 1; }

  const PatternMatcher& matcher_;
  StopPoller& stop_;
  DeletionTotals& totals_;
  Visitor* visitor_ = nullptr;
  dev_t rootDevice_ = 0;
  std::string path_;       // full path of the entry at hand
  size_t rootLength_ = 0;  // of the root's path, which path_ starts with
  size_t depth_ = 0;       // levels_[0..depth_] are open
  std::vector<std::unique_ptr<Level>> levels_;
};

}  // namespace KEF
