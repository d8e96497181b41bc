#include "Base/System/ProcessDir.h"

#include <algorithm>
#include <cerrno>

#include "Base/System/DirectoryReport.h"
#include "Base/System/FileUtil.h"
#include "Base/System/ReadDir.h"

namespace tvan {

namespace {
constexpr int kLevelError = 0x2;
constexpr int kLevelDebug3 = 0x400;

// The directory's name for a report; units above 255 (no file has them)
// become '?'.
std::string printable(const VString& s) {
  std::string out;
  for (char16_t c : s.wide()) out += c > 255 ? '?' : static_cast<char>(c);
  return out;
}
}  // namespace

ProcessDir::ProcessDir(Log* log) : log_(log) {}

void ProcessDir::addIgnoreDir(const VString& name) {
  if (!isIgnored(name)) ignore_.push_back(name);
}

bool ProcessDir::isIgnored(const VString& name) const {
  return std::find(ignore_.begin(), ignore_.end(), name) != ignore_.end();
}

VString ProcessDir::prepare(const VString& dir) {
  addIgnoreDir(VString("."));
  addIgnoreDir(VString(".."));
  std::u16string path = dir.wide();
  for (char16_t& c : path) {
    if (c == u'\\') c = u'/';
  }
  if (path.size() > 1 && path.back() == u'/') path.pop_back();
  return VString(path);
}

namespace {
// dir/name, without doubling the slash of the root directory.
VString childOf(const VString& dir, const std::string& name) {
  const std::u16string& text = dir.wide();
  const bool root = !text.empty() && text.back() == u'/';
  return dir + VString(root ? "" : "/") + VString(name);
}
}  // namespace

bool ProcessDir::getDirTree(std::vector<VString>& dirs, const VString& dir, bool recursive) {
  const VString base = prepare(dir);
  ReadDir reader(log_);
  bool more = reader.readFirst(base);
  int error = more ? 0 : errno;
  bool complete = true;
  while (more) {
    if (reader.isDirectory()) {
      const VString name(reader.getName());
      if (isIgnored(name)) {
        reportDirectoryEvent(log_, kLevelDebug3, "Ignoring entry %s", reader.getName().c_str());
      } else {
        VString child = childOf(base, reader.getName());
        dirs.push_back(child);
        if (recursive && !getDirTree(dirs, child, true)) complete = false;
      }
    }
    more = reader.readNext();
    error = more ? 0 : errno;
  }
  if (error != 0) {
    reportDirectoryEvent(log_, kLevelError, "Unable to process directory %s: %d",
                         printable(base).c_str(), error);
    return false;
  }
  return complete;
}

bool ProcessDir::getList(std::vector<VString>& files, const VString& dir, bool recursive,
                         bool* inUse) {
  if (inUse != nullptr) *inUse = false;
  const VString base = prepare(dir);
  ReadDir reader(log_);
  bool more = reader.readFirst(base);
  int error = more ? 0 : errno;
  bool complete = true;
  while (more) {
    const VString name(reader.getName());
    if (reader.isDirectory()) {
      if (isIgnored(name)) {
        reportDirectoryEvent(log_, kLevelDebug3, "Ignoring entry %s", reader.getName().c_str());
      } else if (recursive) {
        bool childInUse = false;
        if (!getList(files, childOf(base, reader.getName()), true,
                     inUse != nullptr ? &childInUse : nullptr)) {
          complete = false;
        }
        if (inUse != nullptr && childInUse) *inUse = true;
      }
    } else {
      VString file = childOf(base, reader.getName());
      if (inUse != nullptr && !FileUtil(file).isFileAvailable()) *inUse = true;
      files.push_back(file);
    }
    more = reader.readNext();
    error = more ? 0 : errno;
  }
  if (error != 0) {
    reportDirectoryEvent(log_, kLevelError, "Unable to process directory %s: %d",
                         printable(base).c_str(), error);
    return false;
  }
  return complete;
}

}  // namespace tvan
