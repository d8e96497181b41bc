#pragma once
// Another local user for the tests of who may share the framework's
// objects: `nobody`, whose primary group is `nogroup`, as on any Debian
// system. Only root can become it; tests that need it skip otherwise.
#include <grp.h>
#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>
#include <string>

#include "TestUtil.h"

namespace testutil {

struct OtherUser {
  uid_t uid = 0;
  gid_t group = 0;  // its primary group: objects of this group are shared with it
  bool found = false;

  static const OtherUser& get() {
    static const OtherUser user = [] {
      OtherUser u;
      const passwd* pw = ::getpwnam("nobody");
      const struct group* gr = ::getgrnam("nogroup");
      if (pw != nullptr && gr != nullptr && pw->pw_gid == gr->gr_gid) {
        u.uid = pw->pw_uid;
        u.group = gr->gr_gid;
        u.found = true;
      }
      return u;
    }();
    return user;
  }

  // Why the tests cannot run as this user; empty when they can.
  static std::string unavailable() {
    if (::geteuid() != 0) return "needs root to run a child as another user";
    if (!get().found) return "no user nobody with primary group nogroup";
    return std::string();
  }

  // Becomes the user (with its group only) in a forked child; false when it
  // could not.
  bool become() const {
    const gid_t groups[] = {group};
    return ::setgroups(1, groups) == 0 && ::setgid(group) == 0 && ::setuid(uid) == 0;
  }
};

// Forks a child that becomes the other user and returns body() as its exit
// status (99 when it could not become the user).
template <class Body>
pid_t spawnAsOtherUser(Body body) {
  return spawnChild([&] { return OtherUser::get().become() ? body() : 99; });
}

template <class Body>
int runAsOtherUser(Body body) {
  return exitStatus(spawnAsOtherUser(body));
}

// A scratch folder that the other user may enter and create files in, but
// (sticky, like /tmp) not remove or rename what others made.
inline void openToEveryone(const TempDir& dir) { ::chmod(dir.path().c_str(), 01777); }

// Sets an environment variable for a scope (null: unsets it).
class ScopedEnv {
 public:
  ScopedEnv(const char* name, const char* value) : name_(name) {
    const char* old = std::getenv(name);
    hadOld_ = old != nullptr;
    if (hadOld_) old_ = old;
    if (value != nullptr) {
      ::setenv(name, value, 1);
    } else {
      ::unsetenv(name);
    }
  }
  ~ScopedEnv() {
    if (hadOld_) {
      ::setenv(name_.c_str(), old_.c_str(), 1);
    } else {
      ::unsetenv(name_.c_str());
    }
  }
  ScopedEnv(const ScopedEnv&) = delete;
  ScopedEnv& operator=(const ScopedEnv&) = delete;

 private:
  std::string name_;
  std::string old_;
  bool hadOld_ = false;
};

}  // namespace testutil

// Skips the test unless a child can run as the other user.
#define SKIP_UNLESS_OTHER_USER()                                              \
  do {                                                                        \
    const std::string why = ::testutil::OtherUser::unavailable();             \
    if (!why.empty()) GTEST_SKIP() << why;                                    \
  } while (0)
