#include "Base/System/ReadDir.h"

#include <dirent.h>
#include <sys/stat.h>

#include <cerrno>

namespace tvan {

ReadDir::ReadDir(Log* log) : log_(log) {}

ReadDir::~ReadDir() { readClose(); }

bool ReadDir::readFirst(const VString& dir) {
  readClose();
  if (!dir.isNarrow()) {
    // File names are bytes; a unit above 255 names no file.
    errno = ENOENT;
    return false;
  }
  path_ = dir.narrow();
  for (char& c : path_) {
    if (c == '\\') c = '/';
  }
  DIR* d = opendir(path_.empty() ? "." : path_.c_str());
  if (d == nullptr) return false;
  dir_ = d;
  return load();
}

bool ReadDir::readNext() {
  if (dir_ == nullptr) return false;
  return load();
}

void ReadDir::readClose() {
  if (dir_ != nullptr) {
    closedir(static_cast<DIR*>(dir_));
    dir_ = nullptr;
  }
  name_.clear();
  isFile_ = isDirectory_ = false;
}

bool ReadDir::load() {
  errno = 0;
  dirent* entry = readdir(static_cast<DIR*>(dir_));
  if (entry == nullptr) {
    name_.clear();
    isFile_ = isDirectory_ = false;
    return false;
  }
  name_ = entry->d_name;
  bool directory = false;
  if (entry->d_type == DT_UNKNOWN) {
    // Some file systems do not report the type: ask without following links.
    struct stat st;
    const std::string full = path_ + "/" + name_;
    directory = lstat(full.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
  } else {
    directory = entry->d_type == DT_DIR;
  }
  isDirectory_ = directory;
  isFile_ = !directory;
  return true;
}

}  // namespace tvan
