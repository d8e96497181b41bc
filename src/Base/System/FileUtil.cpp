#include "Base/System/FileUtil.h"

#include <acl/libacl.h>
#include <fcntl.h>
#include <grp.h>
#include <limits.h>
#include <pwd.h>
#include <sys/acl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <vector>

#include "Base/System/Platform/StackTrace.h"
#include "Base/System/ProcessDir.h"

namespace tvan {

namespace {

const char kProtectedName[] = "kefconfiguration.xml";

VString normalised(const VString& path) {
  std::u16string text = path.wide();
  for (char16_t& c : text) {
    if (c == u'\\') c = u'/';
  }
  return VString(text);
}

// The path as the bytes the file system takes. False for an empty path and
// for one holding units above 255 (no file name has them).
bool native(const VString& path, std::string& out) {
  if (path.empty() || !path.isNarrow()) return false;
  out = path.narrow();
  return true;
}

bool isProtected(std::string path) {
  while (path.size() > 1 && path.back() == '/') path.pop_back();
  const size_t n = sizeof kProtectedName - 1;
  if (path.size() < n) return false;
  return strncasecmp(path.c_str() + path.size() - n, kProtectedName, n) == 0;
}

void refuseProtected(const std::string& path) {
  std::fprintf(stderr, "Refusing to remove the configuration file %s\n", path.c_str());
  std::fflush(stderr);
  platform::writeStackTrace(STDERR_FILENO);
}

std::string parentOf(const std::string& path) {
  const size_t slash = path.rfind('/');
  if (slash == std::string::npos) return ".";
  if (slash == 0) return "/";
  return path.substr(0, slash);
}

bool syncPath(const std::string& path, int flags) {
  const int fd = ::open(path.c_str(), flags | O_CLOEXEC);
  if (fd < 0) return false;
  const bool ok = ::fsync(fd) == 0;
  ::close(fd);
  return ok;
}

// Makes a completed rename or link durable: the file and its directory entry.
void syncFileAndDirectory(const std::string& path) {
  syncPath(path, O_RDONLY);
  syncPath(parentOf(path), O_RDONLY | O_DIRECTORY);
}

bool writeAll(int fd, const char* data, ssize_t size) {
  while (size > 0) {
    const ssize_t n = ::write(fd, data, static_cast<size_t>(size));
    if (n < 0) {
      if (errno == EINTR) continue;
      return false;
    }
    data += n;
    size -= n;
  }
  return true;
}

// Copies the regular file `src` to `dst` through a synced temporary file in
// the destination directory, so that `dst` is either untouched or complete.
// With `replace` an existing `dst` is replaced, otherwise the copy fails when
// it exists.
bool copyDurably(const std::string& src, const std::string& dst, bool replace) {
  const int in = ::open(src.c_str(), O_RDONLY | O_CLOEXEC);
  if (in < 0) return false;
  struct stat st;
  if (::fstat(in, &st) != 0) {
    ::close(in);
    return false;
  }
  if (!S_ISREG(st.st_mode)) {
    ::close(in);
    errno = EISDIR;
    return false;
  }
  std::vector<char> tmpl(dst.begin(), dst.end());
  const char suffix[] = ".tmpXXXXXX";
  tmpl.insert(tmpl.end(), suffix, suffix + sizeof suffix);
  const int out = ::mkstemp(tmpl.data());
  if (out < 0) {
    ::close(in);
    return false;
  }
  const std::string tmp(tmpl.data());
  bool ok = true;
  char buffer[65536];
  for (;;) {
    const ssize_t n = ::read(in, buffer, sizeof buffer);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) {
      ok = n == 0;
      break;
    }
    if (!writeAll(out, buffer, n)) {
      ok = false;
      break;
    }
  }
  ok = ok && ::fchmod(out, st.st_mode & 07777) == 0 && ::fsync(out) == 0;
  int savedErrno = errno;
  ::close(out);
  ::close(in);
  if (ok) {
    ok = replace ? ::rename(tmp.c_str(), dst.c_str()) == 0
                 : ::link(tmp.c_str(), dst.c_str()) == 0;
    savedErrno = errno;
  }
  ::unlink(tmp.c_str());
  if (ok) syncPath(parentOf(dst), O_RDONLY | O_DIRECTORY);
  errno = savedErrno;
  return ok;
}

// rename(2) that refuses an existing destination unless `replace`.
bool renameFile(const std::string& src, const std::string& dst, bool replace) {
  if (replace) return ::rename(src.c_str(), dst.c_str()) == 0;
  if (::renameat2(AT_FDCWD, src.c_str(), AT_FDCWD, dst.c_str(), RENAME_NOREPLACE) == 0) {
    return true;
  }
  if (errno != EINVAL && errno != ENOSYS) return false;
  // The file system cannot refuse atomically: test first.
  struct stat st;
  if (::lstat(dst.c_str(), &st) == 0) {
    errno = EEXIST;
    return false;
  }
  return ::rename(src.c_str(), dst.c_str()) == 0;
}

// Clears the "read-only attribute" (sets the owner write bit) of a file or
// directory; symbolic links are left alone (chmod would reach their target).
void makeWritable(const std::string& path, mode_t extra = 0) {
  struct stat st;
  if (::lstat(path.c_str(), &st) != 0 || S_ISLNK(st.st_mode)) return;
  const mode_t wanted = st.st_mode | S_IWUSR | extra;
  if (wanted != st.st_mode) ::chmod(path.c_str(), wanted & 07777);
}

bool removeEntry(const std::string& path) {
  makeWritable(path);
  return ::unlink(path.c_str()) == 0;
}

void permsFor(unsigned long permissions, acl_perm_t (&perms)[3], int& count) {
  count = 0;
  const bool all = (permissions & FileUtil::kGenericAll) != 0 || (permissions & 0x1F01FFul) == 0x1F01FFul;
  if (all || (permissions & (FileUtil::kGenericRead | FileUtil::kFileReadData)) != 0) {
    perms[count++] = ACL_READ;
  }
  if (all || (permissions & (FileUtil::kGenericWrite | FileUtil::kFileWriteData)) != 0) {
    perms[count++] = ACL_WRITE;
  }
  if (all || (permissions & (FileUtil::kGenericExecute | FileUtil::kFileExecute)) != 0) {
    perms[count++] = ACL_EXECUTE;
  }
}

// Finds the user or group called `name`.
bool lookupTrustee(const std::string& name, acl_tag_t& tag, id_t& id) {
  std::vector<char> buffer(16384);
  struct passwd pw, *pwResult = nullptr;
  if (getpwnam_r(name.c_str(), &pw, buffer.data(), buffer.size(), &pwResult) == 0 && pwResult) {
    tag = ACL_USER;
    id = pw.pw_uid;
    return true;
  }
  struct group gr, *grResult = nullptr;
  if (getgrnam_r(name.c_str(), &gr, buffer.data(), buffer.size(), &grResult) == 0 && grResult) {
    tag = ACL_GROUP;
    id = gr.gr_gid;
    return true;
  }
  errno = EINVAL;
  return false;
}

acl_entry_t findEntry(acl_t acl, acl_tag_t tag, id_t id) {
  acl_entry_t entry;
  for (int which = ACL_FIRST_ENTRY; acl_get_entry(acl, which, &entry) == 1; which = ACL_NEXT_ENTRY) {
    acl_tag_t entryTag;
    if (acl_get_tag_type(entry, &entryTag) != 0 || entryTag != tag) continue;
    void* qualifier = acl_get_qualifier(entry);
    if (qualifier == nullptr) continue;
    const bool same = *static_cast<id_t*>(qualifier) == id;
    acl_free(qualifier);
    if (same) return entry;
  }
  return nullptr;
}

// Merges one entry for (tag, id) into `acl`.
bool mergeEntry(acl_t* acl, acl_tag_t tag, id_t id, int accessMode, unsigned long permissions) {
  acl_perm_t perms[3];
  int count = 0;
  permsFor(permissions, perms, count);
  acl_entry_t entry = findEntry(*acl, tag, id);
  if (accessMode == FileUtil::kRevokeAccess) {
    return entry == nullptr || acl_delete_entry(*acl, entry) == 0;
  }
  if (entry == nullptr) {
    if (accessMode == FileUtil::kDenyAccess) return true;
    if (acl_create_entry(acl, &entry) != 0 || acl_set_tag_type(entry, tag) != 0 ||
        acl_set_qualifier(entry, &id) != 0) {
      return false;
    }
    acl_permset_t fresh;
    if (acl_get_permset(entry, &fresh) != 0 || acl_clear_perms(fresh) != 0) return false;
  }
  acl_permset_t permset;
  if (acl_get_permset(entry, &permset) != 0) return false;
  if (accessMode == FileUtil::kSetAccess && acl_clear_perms(permset) != 0) return false;
  for (int i = 0; i < count; ++i) {
    const int rc = accessMode == FileUtil::kDenyAccess ? acl_delete_perm(permset, perms[i])
                                                       : acl_add_perm(permset, perms[i]);
    if (rc != 0) return false;
  }
  return acl_set_permset(entry, permset) == 0;
}

// Collapses "//", "." and ".." of an absolute path.
std::string normaliseAbsolute(const std::string& path) {
  std::vector<std::string> parts;
  size_t pos = 0;
  while (pos <= path.size()) {
    size_t next = path.find('/', pos);
    if (next == std::string::npos) next = path.size();
    const std::string part = path.substr(pos, next - pos);
    if (part == "..") {
      if (!parts.empty()) parts.pop_back();
    } else if (!part.empty() && part != ".") {
      parts.push_back(part);
    }
    pos = next + 1;
  }
  std::string out;
  for (const std::string& part : parts) out += "/" + part;
  return out.empty() ? "/" : out;
}

}  // namespace

FileUtil::FileUtil(const VString& path) : path_(normalised(path)) {}

void FileUtil::setFile(const VString& path) { path_ = normalised(path); }

bool FileUtil::exists() const {
  std::string p;
  return native(path_, p) && ::access(p.c_str(), F_OK) == 0;
}

bool FileUtil::isDirectory() const {
  std::string p;
  struct stat st;
  return native(path_, p) && ::stat(p.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

bool FileUtil::isFileAvailable() const {
  std::string p;
  if (!native(path_, p) || !exists()) return false;
  const int fd = ::open(p.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
  if (fd < 0) return false;
  const bool locked = ::flock(fd, LOCK_EX | LOCK_NB) == 0;
  if (locked) ::flock(fd, LOCK_UN);
  ::close(fd);
  return locked;
}

int64_t FileUtil::getFileSize() const {
  std::string p;
  struct stat st;
  if (!native(path_, p) || ::stat(p.c_str(), &st) != 0) return -1;
  return static_cast<int64_t>(st.st_size);
}

bool FileUtil::getFileModificationTime(VString& out) const {
  std::string p;
  struct stat st;
  if (!native(path_, p) || ::stat(p.c_str(), &st) != 0) {
    out.clear();
    return false;
  }
  char token[128];
  std::snprintf(token, sizeof token, "%llx.%09lx:%llx@%llx:%llx",
                static_cast<long long>(st.st_mtim.tv_sec), static_cast<long>(st.st_mtim.tv_nsec),
                static_cast<long long>(st.st_size), static_cast<unsigned long long>(st.st_ino),
                static_cast<unsigned long long>(st.st_dev));
  out = token;
  return true;
}

bool FileUtil::getStrippedFilename(VString& out) const {
  if (path_.empty()) return false;
  const std::u16string& text = path_.wide();
  const size_t slash = text.rfind(u'/');
  out = slash == std::u16string::npos ? path_ : VString(text.substr(slash + 1));
  return true;
}

bool FileUtil::getPath(VString& out) const {
  if (path_.empty()) return false;
  if (isDirectory()) {
    out = path_;
    return true;
  }
  const std::u16string& text = path_.wide();
  const size_t slash = text.rfind(u'/');
  if (slash == std::u16string::npos) {
    out = path_;
  } else {
    out = VString(text.substr(0, slash == 0 ? 1 : slash));
  }
  return true;
}

bool FileUtil::getFullName(VString& out) const {
  std::string p;
  if (!native(path_, p)) return false;
  if (p[0] != '/') {
    char cwd[PATH_MAX];
    if (::getcwd(cwd, sizeof cwd) == nullptr) return false;
    p = std::string(cwd) + "/" + p;
  }
  const std::string full = normaliseAbsolute(p);
  if (full.size() >= PATH_MAX) return false;
  out = VString(full);
  return true;
}

bool FileUtil::getPermissions(bool& read, bool& write) const {
  read = write = false;
  std::string p;
  struct stat st;
  if (!native(path_, p) || ::stat(p.c_str(), &st) != 0) return false;
  read = (st.st_mode & S_IRUSR) != 0;
  write = (st.st_mode & S_IWUSR) != 0;
  return true;
}

bool FileUtil::setPermissions(bool /*read*/, bool write) {
  std::string p;
  if (!native(path_, p)) return false;
  struct stat st;
  bool ok = ::stat(p.c_str(), &st) == 0;
  if (ok) {
    const mode_t mode = write ? (st.st_mode | S_IWUSR) : (st.st_mode & ~S_IWUSR);
    ok = ::chmod(p.c_str(), mode & 07777) == 0;
  }
  if (!ok) {
    std::fprintf(stderr, "setPermissions failed (%s): GetLastError returned %u\n", p.c_str(),
                 static_cast<unsigned>(errno));
  }
  return ok;
}

bool FileUtil::moveFile(const VString& dest, bool overwrite) {
  std::string src, dst;
  const VString target = normalised(dest);
  if (!native(path_, src) || !exists() || !native(target, dst)) return false;
  if (renameFile(src, dst, overwrite)) {
    syncFileAndDirectory(dst);
  } else {
    // Another file system: copy durably, then drop the source.
    if (errno != EXDEV || !copyDurably(src, dst, overwrite)) return false;
    ::unlink(src.c_str());
    syncPath(parentOf(src), O_RDONLY | O_DIRECTORY);
  }
  path_ = target;
  return true;
}

bool FileUtil::copyFile(const VString& dest, bool /*unused*/) {
  std::string src, dst;
  const VString target = normalised(dest);
  if (!native(path_, src) || !exists() || !native(target, dst)) return false;
  if (!copyDurably(src, dst, true)) return false;
  path_ = target;
  return true;
}

bool FileUtil::createDirectory() {
  std::string p;
  if (!native(path_, p)) return false;
  if (exists()) return isDirectory();
  std::string prefix = p[0] == '/' ? "/" : "";
  size_t pos = 0;
  while (pos < p.size()) {
    size_t next = p.find('/', pos);
    if (next == std::string::npos) next = p.size();
    if (next > pos) {
      prefix += p.substr(pos, next - pos) + "/";
      struct stat st;
      if (::stat(prefix.c_str(), &st) != 0) {
        // Another process may create it at the same moment: that is fine.
        if (::mkdir(prefix.c_str(), 0777) != 0 && errno != EEXIST) {
          std::printf("Unable to create dir %s, Error %d\n", prefix.c_str(), errno);
          std::fflush(stdout);
          return false;
        }
        if (::stat(prefix.c_str(), &st) != 0) return false;
      }
      if (!S_ISDIR(st.st_mode)) return false;
    }
    pos = next + 1;
  }
  return true;
}

bool FileUtil::removeFile(bool force) {
  std::string p;
  if (!native(path_, p)) return false;
  if (isProtected(p)) {
    refuseProtected(p);
    return false;
  }
  struct stat st;
  if (::lstat(p.c_str(), &st) != 0) return false;
  // A plain file, or a symbolic link (removed itself, its target never).
  if (!S_ISDIR(st.st_mode)) return removeEntry(p);

  ProcessDir lister;
  std::vector<VString> files, dirs;
  lister.getList(files, path_, true);
  lister.getDirTree(dirs, path_, true);
  if (!force && !files.empty() && dirs.size() > 2) return false;
  std::vector<std::string> nativeFiles(files.size());
  for (size_t i = 0; i < files.size(); ++i) {
    if (!native(files[i], nativeFiles[i])) return false;
    if (isProtected(nativeFiles[i])) {
      refuseProtected(nativeFiles[i]);
      return false;
    }
  }
  // Entries can only go from writable directories.
  makeWritable(p, S_IXUSR);
  for (const VString& dir : dirs) makeWritable(dir.narrow(), S_IXUSR);
  for (const std::string& file : nativeFiles) {
    if (!removeEntry(file)) return false;
  }
  for (auto it = dirs.rbegin(); it != dirs.rend(); ++it) {
    if (::rmdir(it->narrow().c_str()) != 0) return false;
  }
  return ::rmdir(p.c_str()) == 0;
}

bool FileUtil::setAcl(const std::string& trustee, int accessMode, unsigned long permissions,
                      unsigned long /*inheritance*/) {
  std::string p;
  if (!native(path_, p)) return false;
  if (trustee == "Everyone") {
    struct stat st;
    if (::stat(p.c_str(), &st) != 0) {
      DisplayLastError("GetNamedSecurityInfo");
      return false;
    }
    const mode_t rw = S_IRUSR | S_IWUSR | S_IRGRP | S_IWGRP | S_IROTH | S_IWOTH;
    const bool remove = accessMode == kDenyAccess || accessMode == kRevokeAccess;
    const mode_t mode = remove ? (st.st_mode & ~(rw & ~(S_IRUSR | S_IWUSR))) : (st.st_mode | rw);
    if (::chmod(p.c_str(), mode & 07777) != 0) {
      DisplayLastError("SetNamedSecurityInfo");
      return false;
    }
    return true;
  }
  acl_tag_t tag;
  id_t id;
  if (!lookupTrustee(trustee, tag, id)) {
    DisplayLastError("SetEntriesInAcl");
    return false;
  }
  acl_t acl = acl_get_file(p.c_str(), ACL_TYPE_ACCESS);
  if (acl == nullptr) {
    DisplayLastError("GetNamedSecurityInfo");
    return false;
  }
  bool ok = mergeEntry(&acl, tag, id, accessMode, permissions) && acl_calc_mask(&acl) == 0 &&
            acl_valid(acl) == 0;
  if (!ok) {
    DisplayLastError("SetEntriesInAcl");
  } else if (acl_set_file(p.c_str(), ACL_TYPE_ACCESS, acl) != 0) {
    DisplayLastError("SetNamedSecurityInfo");
    ok = false;
  }
  acl_free(acl);
  return ok;
}

void FileUtil::DisplayLastError(const char* operation) {
  const int code = errno;
  char text[256];
  const char* message = strerror_r(code, text, sizeof text);
  std::printf("%s error! (rc=%lu)\n%s\n", operation != nullptr ? operation : "",
              static_cast<unsigned long>(code), message);
  std::fflush(stdout);
}

}  // namespace tvan
