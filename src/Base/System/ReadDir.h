#pragma once
// ReadDir walks the entries of one directory, "." and ".." included, in the
// order the file system returns them. A symbolic link is an entry of its own
// (reported as a file), never followed. Not copyable; one thread at a time.
#include <string>

#include "Base/BaseTypes/VString.h"

namespace tvan {

class Log;

class ReadDir {
 public:
  // `log` (may be null, not owned) receives failure reports; it must outlive
  // this object.
  explicit ReadDir(Log* log = nullptr);
  ~ReadDir();

  ReadDir(const ReadDir&) = delete;
  ReadDir& operator=(const ReadDir&) = delete;

  // Closes a previous listing, opens `dir` and loads its first entry. False
  // when the directory cannot be opened or is empty (errno tells which).
  bool readFirst(const VString& dir);
  // Loads the next entry; false at the end (errno 0) or on error.
  bool readNext();
  void readClose();

  bool isOpen() const { return dir_ != nullptr; }
  // The current entry's name (its bytes as stored).
  const std::string& getName() const { return name_; }
  bool isFile() const { return isFile_; }
  bool isDirectory() const { return isDirectory_; }

 private:
  bool load();

  std::string path_;   // the directory being read
  void* dir_ = nullptr;  // DIR*, owned
  std::string name_;
  bool isFile_ = false;
  bool isDirectory_ = false;
  Log* log_;  // not owned
};

}  // namespace tvan
