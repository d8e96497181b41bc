#pragma once
// ProcessDir lists the files and directories below a directory. Names in the
// ignore list (compared exactly; "." and ".." always) are skipped as
// directories. Symbolic links are listed as files and never descended into.
// Problems are reported to the Log; a directory that cannot be read ends its
// own part of the listing.
#include <vector>

#include "Base/BaseTypes/VString.h"

namespace tvan {

class Log;

class ProcessDir {
 public:
  // `log` may be null (not owned); it must outlive this object.
  explicit ProcessDir(Log* log = nullptr);

  void addIgnoreDir(const VString& name);

  // Appends every file below `dir` as dir/name (descending into directories
  // when `recursive`). When `inUse` is given it is set true if any listed
  // file is not available (FileUtil::isFileAvailable). True when the listing
  // ran to its end.
  bool getList(std::vector<VString>& files, const VString& dir, bool recursive,
               bool* inUse = nullptr);
  // Appends every directory below `dir` as dir/name, parents before their
  // children when `recursive`. True when the listing ran to its end.
  bool getDirTree(std::vector<VString>& dirs, const VString& dir, bool recursive);

 private:
  bool isIgnored(const VString& name) const;
  VString prepare(const VString& dir);

  std::vector<VString> ignore_;
  Log* log_;  // not owned
};

}  // namespace tvan
