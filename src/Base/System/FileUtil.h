#pragma once
// FileUtil wraps one file-system path and offers the file operations the
// library needs. Failures are reported by the return value, never by an
// exception; every operation on an empty path answers false (-1 for the size)
// without touching the file system.
//
// Paths: `/` is the separator; every `\` in a path given to FileUtil is turned
// into `/`. Symbolic links are never followed into by the recursive removal.
//
// A FileUtil is a value (copyable); it is not synchronised, one thread at a
// time per object.
#include <cstdint>
#include <string>

#include "Base/BaseTypes/VString.h"

namespace tvan {

class FileUtil {
 public:
  // Access modes of setAcl().
  static constexpr int kGrantAccess = 1;   // add the permissions to the entry
  static constexpr int kSetAccess = 2;     // the entry gets exactly these
  static constexpr int kDenyAccess = 3;    // remove the permissions from it
  static constexpr int kRevokeAccess = 4;  // remove the entry
  // Permission bits of setAcl(); the file-level read/write/execute bits and
  // the generic bits both map to r/w/x.
  static constexpr unsigned long kFileReadData = 0x1;
  static constexpr unsigned long kFileWriteData = 0x2;
  static constexpr unsigned long kFileExecute = 0x20;
  static constexpr unsigned long kGenericAll = 0x10000000;
  static constexpr unsigned long kGenericExecute = 0x20000000;
  static constexpr unsigned long kGenericWrite = 0x40000000;
  static constexpr unsigned long kGenericRead = 0x80000000;

  FileUtil() = default;
  explicit FileUtil(const VString& path);
  void setFile(const VString& path);
  const VString& getFile() const { return path_; }

  bool exists() const;
  bool isDirectory() const;
  // True when the file exists, can be opened for reading and no one else
  // holds an exclusive lock on it (a non-blocking exclusive flock succeeds).
  bool isFileAvailable() const;
  // Size in bytes; -1 when the path is empty or does not exist.
  int64_t getFileSize() const;
  // `out` becomes a change token built from the modification time (in
  // nanoseconds), size and identity of the file: it differs whenever one of
  // them changes. Only compare tokens for equality. False (and `out` empty)
  // when the file cannot be examined.
  bool getFileModificationTime(VString& out) const;
  // The part after the last `/`; the whole path when there is none. False
  // (and `out` untouched) for an empty path.
  bool getStrippedFilename(VString& out) const;
  // The path itself when it names a directory; else the part before the last
  // `/` ("/" for a file in the root), or the whole path when there is none.
  // False (and `out` untouched) for an empty path.
  bool getPath(VString& out) const;
  // The absolute, lexically normalised path ("." and ".." resolved, repeated
  // `/` collapsed), whether or not it exists. False and `out` untouched when
  // it cannot be built.
  bool getFullName(VString& out) const;
  // read/write = the owner read/write permission bits; both false first.
  bool getPermissions(bool& read, bool& write) const;
  // write false: clears the owner write bit (read-only); true: sets it.
  // `read` is not used. Failures are reported on standard error.
  bool setPermissions(bool read, bool write);

  // Moves the file to `dest` and makes the move durable (the file and its new
  // directory are synced). Without `overwrite` the move fails when `dest`
  // exists; with it `dest` is replaced atomically. On success the object
  // holds `dest`.
  bool moveFile(const VString& dest, bool overwrite);
  // Copies the file to `dest`, replacing an existing `dest` (the permission
  // bits are copied too). On success the object holds `dest`. The second
  // argument has no effect. Copying a file onto itself fails.
  bool copyFile(const VString& dest, bool unused = false);
  // Creates the directory with all its missing parents. True when the path
  // is (now) a directory.
  bool createDirectory();
  // Removes a file, a symbolic link (never its target) or a directory tree.
  // Never removes a file named "KEFConfiguration.xml" (any letter case): such
  // a request, also for a tree holding one, writes the calling thread's stack
  // to standard error and returns false. Without `force`, a tree with at
  // least one file and more than two directories below it is refused.
  bool removeFile(bool force = false);
  // "Everyone": read and write for owner, group and others. Another trustee
  // name: a POSIX ACL entry for that user (or else group) on the file.
  // False when that cannot be done.
  bool setAcl(const std::string& trustee, int accessMode, unsigned long permissions,
              unsigned long inheritance);

  // Writes "<operation> error! (rc=<errno>)" and the system's text for the
  // current errno to standard output.
  static void DisplayLastError(const char* operation);

 private:
  VString path_;
};

}  // namespace tvan
