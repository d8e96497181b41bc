#include "Base/System/Platform/SharedObjectAccess.h"

#include <fcntl.h>
#include <grp.h>
#include <pwd.h>
#include <strings.h>
#include <sys/mman.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <map>
#include <mutex>
#include <set>
#include <utility>
#include <vector>

namespace tvan {
namespace platform {

namespace {

constexpr char kVariable[] = "KEF_SHARED_GROUP";
constexpr mode_t kPrivateMode = 0600;
// Attempts at opening an object: a creator that keeps being beaten to the
// name by one that removes it again gives up, and so does a peer waiting for
// a new shared-memory object's mode (a millisecond apart).
constexpr int kOpenRounds = 16;

bool parseId(const char* text, unsigned long& id) {
  if (*text == '\0') return false;
  unsigned long value = 0;
  for (const char* p = text; *p != '\0'; ++p) {
    if (*p < '0' || *p > '9' || value > 0xFFFFFFFFul / 10) return false;
    value = value * 10 + static_cast<unsigned long>(*p - '0');
  }
  id = value;
  return true;
}

// Runs a getpw*_r / getgr*_r style lookup with a buffer that grows until
// the entry fits; true when found.
template <class Entry, class Lookup>
bool lookUp(Entry& entry, std::vector<char>& buffer, Lookup lookup) {
  buffer.resize(1024);
  for (;;) {
    Entry* found = nullptr;
    const int rc = lookup(&entry, buffer.data(), buffer.size(), &found);
    if (rc == ERANGE && buffer.size() < (1u << 20)) {
      buffer.resize(buffer.size() * 2);
      continue;
    }
    return rc == 0 && found != nullptr;
  }
}

bool groupByName(const char* name, gid_t& gid) {
  group entry;
  std::vector<char> buffer;
  if (!lookUp(entry, buffer, [&](group* e, char* b, size_t n, group** r) { return getgrnam_r(name, e, b, n, r); })) {
    return false;
  }
  gid = entry.gr_gid;
  return true;
}

bool computeMembership(uid_t uid, gid_t gid) {
  passwd user;
  std::vector<char> userBuffer;
  if (!lookUp(user, userBuffer, [&](passwd* e, char* b, size_t n, passwd** r) { return getpwuid_r(uid, e, b, n, r); })) {
    return false;  // a user without an entry is nobody's member
  }
  if (user.pw_gid == gid) return true;
  group entry;
  std::vector<char> buffer;
  if (!lookUp(entry, buffer, [&](group* e, char* b, size_t n, group** r) { return getgrgid_r(gid, e, b, n, r); })) {
    return false;
  }
  for (char** member = entry.gr_mem; member != nullptr && *member != nullptr; ++member) {
    if (std::strcmp(*member, user.pw_name) == 0) return true;
  }
  return false;
}

std::string userText(uid_t uid) {
  passwd user;
  std::vector<char> buffer;
  std::string text = "uid " + std::to_string(uid);
  if (lookUp(user, buffer, [&](passwd* e, char* b, size_t n, passwd** r) { return getpwuid_r(uid, e, b, n, r); })) {
    text += std::string(" (") + user.pw_name + ")";
  }
  return text;
}

std::string groupText(gid_t gid) {
  group entry;
  std::vector<char> buffer;
  std::string text = "gid " + std::to_string(gid);
  if (lookUp(entry, buffer, [&](group* e, char* b, size_t n, group** r) { return getgrgid_r(gid, e, b, n, r); })) {
    text += std::string(" (") + entry.gr_name + ")";
  }
  return text;
}

std::string modeText(mode_t mode) {
  char text[8];
  std::snprintf(text, sizeof text, "0%03o", static_cast<unsigned>(mode & 0777));
  return text;
}

int openObject(SharedObjectAccess::Kind kind, const std::string& path, int flags, mode_t mode) {
  if (kind == SharedObjectAccess::kSharedMemory) return ::shm_open(path.c_str(), flags, mode);
  return ::open(path.c_str(), flags, mode);
}

void removeObject(SharedObjectAccess::Kind kind, const std::string& path) {
  if (kind == SharedObjectAccess::kSharedMemory) {
    ::shm_unlink(path.c_str());
  } else {
    ::unlink(path.c_str());
  }
}

// Membership answers by (uid, gid) for the life of the process: the user
// and group databases are read once per owner met, not per object opened.
bool cachedMembership(uid_t uid, gid_t gid) {
  static std::mutex* mutex = new std::mutex;
  static auto* known = new std::map<std::pair<uid_t, gid_t>, bool>;
  {
    std::lock_guard<std::mutex> hold(*mutex);
    const auto found = known->find({uid, gid});
    if (found != known->end()) return found->second;
  }
  const bool member = computeMembership(uid, gid);
  std::lock_guard<std::mutex> hold(*mutex);
  known->emplace(std::make_pair(uid, gid), member);
  return member;
}

void reportUnknownGroup(const char* setting) {
  static std::mutex* mutex = new std::mutex;
  static auto* reported = new std::set<std::string>;
  std::lock_guard<std::mutex> hold(*mutex);
  if (!reported->insert(setting).second) return;
  std::fprintf(stderr, "%s=%s names no group; shared objects are created private to this user.\n", kVariable,
               setting);
}

}  // namespace

SharedObjectAccess::SharedObjectAccess(const char* setting) : group_(::getegid()) {
  if (setting == nullptr || *setting == '\0') return;
  if (::strcasecmp(setting, "none") == 0) {
    shared_ = false;
    return;
  }
  unsigned long id = 0;
  gid_t gid = 0;
  if (parseId(setting, id)) {
    group_ = static_cast<gid_t>(id);
  } else if (groupByName(setting, gid)) {
    group_ = gid;
  } else {
    // Sharing with a group nobody can name would be a guess: nobody shares.
    reportUnknownGroup(setting);
    shared_ = false;
  }
}

SharedObjectAccess SharedObjectAccess::current() {
  // The last rules made, by setting and effective group (the default group
  // follows setgid), so that a group name is looked up once.
  struct Cache {
    std::mutex mutex;
    bool valid = false;
    bool set = false;
    std::string setting;
    gid_t egid = 0;
    SharedObjectAccess access{nullptr};
  };
  static Cache* cache = new Cache;
  const char* setting = std::getenv(kVariable);
  const gid_t egid = ::getegid();
  std::lock_guard<std::mutex> hold(cache->mutex);
  if (!cache->valid || cache->set != (setting != nullptr) || cache->egid != egid ||
      (setting != nullptr && cache->setting != setting)) {
    cache->access = SharedObjectAccess(setting);
    cache->valid = true;
    cache->set = setting != nullptr;
    cache->setting = setting != nullptr ? setting : "";
    cache->egid = egid;
  }
  return cache->access;
}

bool SharedObjectAccess::hasMember(uid_t uid) const { return shared_ && cachedMembership(uid, group_); }

bool SharedObjectAccess::adopt(int fd) const {
  mode_t wanted = mode();
  if (shared_) {
    struct stat st;
    if (::fstat(fd, &st) != 0) return false;
    // A group the process may not give stays out: the object is private.
    if (st.st_gid != group_ && ::fchown(fd, static_cast<uid_t>(-1), group_) != 0) wanted = kPrivateMode;
  }
  return ::fchmod(fd, wanted) == 0;
}

std::string SharedObjectAccess::refusal(const struct stat& st) const {
  if (!S_ISREG(st.st_mode)) return "is not a regular file";
  const uid_t self = ::geteuid();
  if (st.st_uid != self && st.st_uid != 0 && !hasMember(st.st_uid)) {
    return "is owned by " + userText(st.st_uid) + ", who is neither this user (" + userText(self) +
           "), root, nor a member of " +
           (shared_ ? "the shared group " + groupText(group_) : std::string("a shared group (none is set)"));
  }
  if ((st.st_mode & S_IWOTH) != 0) return "is writable by every user (mode " + modeText(st.st_mode) + ")";
  if ((st.st_mode & S_IWGRP) != 0 && !(shared_ && st.st_gid == group_)) {
    return "is writable by " + groupText(st.st_gid) + ", which is not the shared group (mode " +
           modeText(st.st_mode) + ")";
  }
  return std::string();
}

std::string SharedObjectAccess::admit(int fd, struct stat& st) const {
  if (::fstat(fd, &st) != 0) return std::string("cannot be examined (") + std::strerror(errno) + ")";
  std::string why = refusal(st);
  if (why.empty() || st.st_uid != ::geteuid() || !S_ISREG(st.st_mode)) return why;
  // Our own, granting more than we would: narrowed, then judged again.
  adopt(fd);
  if (::fstat(fd, &st) != 0) return std::string("cannot be examined (") + std::strerror(errno) + ")";
  return refusal(st);
}

SharedObjectAccess::Opened SharedObjectAccess::open(Kind kind, const std::string& path, int access,
                                                    bool create) const {
  Opened out;
  // Non-blocking, so that a FIFO put in the object's place cannot stall the
  // open; it has no effect on regular files.
  const int common = O_CLOEXEC | O_NOFOLLOW | (kind == kFile ? O_NONBLOCK | O_NOCTTY : 0);
  for (int round = 0; round < kOpenRounds; ++round) {
    int fd = openObject(kind, path, (access & O_ACCMODE) | common, 0);
    if (fd >= 0) {
      out.refusal = admit(fd, out.status);
      if (out.refusal.empty()) {
        out.fd = fd;
        return out;
      }
      ::close(fd);
      errno = EACCES;
      return out;
    }
    if (errno == ELOOP) {
      out.refusal = "is a symbolic link";
      errno = EACCES;
      return out;
    }
    if (errno == EACCES && kind == kSharedMemory && round + 1 < kOpenRounds) {
      // A creator gives its new object the group and mode a moment after
      // making it 0600: a peer of the group that comes in between waits for
      // that rather than refuse the name for good.
      ::usleep(1000);
      continue;
    }
    if (errno != ENOENT || !create) return out;
    fd = openObject(kind, path, O_RDWR | O_CREAT | O_EXCL | common, kPrivateMode);
    if (fd >= 0) {
      if (!adopt(fd) || ::fstat(fd, &out.status) != 0) {
        const int error = errno;
        ::close(fd);
        removeObject(kind, path);
        errno = error;
        return out;
      }
      out.fd = fd;
      out.created = true;
      return out;
    }
    if (errno != EEXIST) return out;
    // Made by another process in between: judged like any existing object.
  }
  errno = EAGAIN;
  return out;
}

std::string SharedObjectAccess::describe(Kind kind, const std::string& path) {
  const std::string where = kind == kSharedMemory ? "/dev/shm" + path : path;
  struct stat st;
  if (::lstat(where.c_str(), &st) != 0) return where;
  return where + " (owner " + userText(st.st_uid) + ", group " + groupText(st.st_gid) + ", mode " +
         modeText(st.st_mode) + ")";
}

}  // namespace platform
}  // namespace tvan
