#include "KEF/Jobs/AutoDelJobs/SystemFolders.h"

#include <filesystem>

namespace KEF {

namespace {

// Top-level folders that belong to the system or to other users as a whole.
const char* const kTopLevel[] = {
    "bin",  "boot", "dev",  "etc", "home", "lib", "lib32", "lib64", "libx32", "opt",  "proc",
    "root", "run",  "sbin", "srv", "sys",  "usr", "var",   "mnt",   "media",  "snap", "lost+found"};

// Kernel views whose every entry is off limits, not only the folder itself.
const char* const kVirtual[] = {"proc", "sys", "dev"};

}  // namespace

std::string SystemFolders::normalise(const std::string& path) {
  std::string normal = std::filesystem::path(path).lexically_normal().string();
  while (normal.size() > 1 && normal.back() == '/') normal.pop_back();
  return normal;
}

std::string SystemFolders::judge(const std::string& path) {
  if (path == "/") return "the whole file system";
  const size_t slash = path.find('/', 1);
  const std::string top =
      path.substr(1, slash == std::string::npos ? std::string::npos : slash - 1);
  if (slash == std::string::npos) {
    for (const char* name : kTopLevel) {
      if (top == name) return "a system folder";
    }
    return "";
  }
  for (const char* name : kVirtual) {
    if (top == name) return "below the system folder /" + top;
  }
  return "";
}

}  // namespace KEF
