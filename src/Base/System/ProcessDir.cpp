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

// Reads the directory `base`, calling visit(name, isDirectory) for each
// entry except the directories `ignored` names (those are reported). True
// when the listing ran to its end and every visit answered true (a visit
// answers false when its subdirectory listing was incomplete).
template <typename Ignored, typename Visit>
bool listDirectory(Log* log, const VString& base, Ignored ignored, Visit visit) {
  ReadDir reader(log);
  bool more = reader.readFirst(base);
  int error = more ? 0 : errno;
  bool complete = true;
  while (more) {
    const bool directory = reader.isDirectory();
    if (directory && ignored(VString(reader.getName()))) {
      reportDirectoryEvent(log, kLevelDebug3, "Ignoring entry %s", reader.getName().c_str());
    } else if (!visit(reader.getName(), directory)) {
      complete = false;
    }
    more = reader.readNext();
    error = more ? 0 : errno;
  }
  if (error != 0) {
    reportDirectoryEvent(log, kLevelError, "Unable to process directory %s: %d",
                         printable(base).c_str(), error);
    return false;
  }
  return complete;
}
}  // namespace

bool ProcessDir::getDirTree(std::vector<VString>& dirs, const VString& dir, bool recursive) {
  const VString base = prepare(dir);
  const auto ignored = [this](const VString& name) { return isIgnored(name); };
  return listDirectory(log_, base, ignored, [&](const std::string& name, bool directory) {
    if (!directory) return true;
    VString child = childOf(base, name);
    dirs.push_back(child);
    return !recursive || getDirTree(dirs, child, true);
  });
}

bool ProcessDir::getList(std::vector<VString>& files, const VString& dir, bool recursive,
                         bool* inUse) {
  if (inUse != nullptr) *inUse = false;
  const VString base = prepare(dir);
  const auto ignored = [this](const VString& name) { return isIgnored(name); };
  return listDirectory(log_, base, ignored, [&](const std::string& name, bool directory) {
    if (directory) {
      if (!recursive) return true;
      bool childInUse = false;
      const bool complete = getList(files, childOf(base, name), true,
                                    inUse != nullptr ? &childInUse : nullptr);
      if (inUse != nullptr && childInUse) *inUse = true;
      return complete;
    }
    VString file = childOf(base, name);
    if (inUse != nullptr && !FileUtil(file).isFileAvailable()) *inUse = true;
    files.push_back(file);
    return true;
  });
}

}  // namespace tvan
