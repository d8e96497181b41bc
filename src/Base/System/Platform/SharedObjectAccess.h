#pragma once
// Who may share the framework's machine-wide objects (named mutexes, shared
// counters, log files, the request database file), how they are created and
// when an existing one may be joined.
//
// Processes of the user that created an object and of one group, the shared
// group, share it; nobody else can open it. The group comes from the
// environment variable KEF_SHARED_GROUP: a group name or a numeric gid;
// "none" for no group sharing (objects private to their user); unset or
// empty for the process's effective group. A name that is no group makes
// objects private, and is reported once on standard error.
//
// Creation: an object is created with mode 0600 (nobody else can open it in
// between), then given the shared group with fchown when it has another one
// (a setgid folder, or a group other than the process's) and the process may,
// and its final mode with fchmod, so that the umask neither widens nor
// narrows it: 0660 with a group, 0600 without group sharing or when the group
// could not be given.
//
// Joining an object this process did not create: it must be a regular file
// (opened without following a symbolic link), owned by this user, by root,
// or by a member of the shared group (whose primary group it is, or whom the
// group's member list names), and writable by nobody else: no write bit for
// others, a group write bit only with the shared group as the object's group.
// An object of this user's own that grants more (left 0666 by an earlier
// version of the framework) is first narrowed to what this process creates.
// Anything else is refused with a reason and not used.
#include <sys/stat.h>
#include <sys/types.h>

#include <string>

namespace tvan {
namespace platform {

class SharedObjectAccess {
 public:
  enum Kind {
    kFile,          // a path in the file system
    kSharedMemory,  // a POSIX shared-memory name ("/name")
  };

  // The outcome of open(). fd >= 0: the object, created here (already with
  // its group and mode) or joined. fd < 0: errno says why; `refusal` is set
  // when the object exists and may not be joined (errno EACCES).
  struct Opened {
    int fd = -1;
    bool created = false;
    struct stat status {};  // of the object open on fd
    std::string refusal;
  };

  // The rules for KEF_SHARED_GROUP as it is set now; a program may change
  // the variable before it creates objects.
  static SharedObjectAccess current();

  // The rules for a KEF_SHARED_GROUP value (null: unset).
  explicit SharedObjectAccess(const char* setting);

  bool sharesGroup() const { return shared_; }
  gid_t group() const { return group_; }
  // The mode of objects this process creates.
  mode_t mode() const { return shared_ ? 0660 : 0600; }

  // Opens (and with `create`, creates when missing) the object at `path`,
  // O_RDONLY or O_RDWR by `access`, close-on-exec, never through a symbolic
  // link, and checks an existing one as described above.
  Opened open(Kind kind, const std::string& path, int access, bool create) const;

  // Gives an object that this process created its group and mode; false
  // (errno set) when the mode could not be set.
  bool adopt(int fd) const;

  // Why the object open on `fd` may not be joined (empty when it may), after
  // narrowing one of this user's own that grants too much; `status` is its
  // status afterwards.
  std::string admit(int fd, struct stat& status) const;

  // Why an object of status `status` may not be joined; empty when it may.
  std::string refusal(const struct stat& status) const;

  // Whether user `uid` belongs to the shared group (false without one).
  bool hasMember(uid_t uid) const;

  // The object's place with its owner, group and mode, for diagnostics.
  static std::string describe(Kind kind, const std::string& path);

 private:
  bool shared_ = true;
  gid_t group_ = 0;
};

}  // namespace platform
}  // namespace tvan
