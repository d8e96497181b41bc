#pragma once
// Helpers shared by the test programs: scratch directories, whole-file reads
// and writes, child processes.
#include <dirent.h>
#include <stdlib.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <set>
#include <string>

namespace testutil {

// A fresh directory, removed with everything in it (read-only parts too).
class TempDir {
 public:
  explicit TempDir(const std::string& tag = "tvan_test") : path_("/tmp/" + tag + "_XXXXXX") {
    if (::mkdtemp(&path_[0]) == nullptr) std::abort();
  }
  ~TempDir() {
    const std::string command =
        "chmod -R u+rwx '" + path_ + "' 2>/dev/null; rm -rf '" + path_ + "'";
    if (std::system(command.c_str()) != 0) return;  // leftovers in /tmp are harmless
  }
  const std::string& path() const { return path_; }
  std::string file(const std::string& name) const { return path_ + "/" + name; }

 private:
  std::string path_;
};

inline std::string readFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

inline void writeFile(const std::string& path, const std::string& bytes) {
  std::ofstream(path, std::ios::binary | std::ios::trunc) << bytes;
}

// The names in a directory, without "." and "..".
inline std::set<std::string> filesIn(const std::string& dir) {
  std::set<std::string> names;
  if (DIR* d = ::opendir(dir.c_str())) {
    while (const dirent* entry = ::readdir(d)) {
      const std::string name = entry->d_name;
      if (name != "." && name != "..") names.insert(name);
    }
    ::closedir(d);
  }
  return names;
}

inline size_t countOf(const std::string& text, const std::string& part) {
  size_t n = 0;
  for (size_t at = text.find(part); at != std::string::npos; at = text.find(part, at + 1)) ++n;
  return n;
}

// Forks a child that runs `body` and ends with _exit(body()), skipping the
// test framework's teardown.
template <class Body>
pid_t spawnChild(Body body) {
  std::fflush(nullptr);
  const pid_t pid = ::fork();
  if (pid == 0) ::_exit(body());
  return pid;
}

// The child's exit status, or -1 when it did not exit normally.
inline int exitStatus(pid_t pid) {
  int status = 0;
  if (pid < 0 || ::waitpid(pid, &status, 0) != pid) return -1;
  return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

template <class Body>
int runInChild(Body body) {
  return exitStatus(spawnChild(body));
}

}  // namespace testutil
