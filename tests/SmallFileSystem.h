#pragma once
// A small tmpfs of the test's own, to run code against a full disk.
//
// Mounting needs root (CI runs as root); elsewhere `mounted()` is false and
// the test should skip with `skipReason()`. The file system is unmounted and
// its directory removed when the object goes.
#include <sys/mount.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <string>

namespace testutil {

class SmallFileSystem {
 public:
  explicit SmallFileSystem(const std::string& size = "2m") : path_("/tmp/kef_smallfs_XXXXXX") {
    if (::mkdtemp(&path_[0]) == nullptr) {
      reason_ = std::string("mkdtemp: ") + std::strerror(errno);
      return;
    }
    if (::geteuid() != 0) {
      reason_ = "mounting a small tmpfs needs root";
      return;
    }
    const std::string options = "size=" + size + ",mode=0777";
    if (::mount("tmpfs", path_.c_str(), "tmpfs", 0, options.c_str()) != 0) {
      reason_ = std::string("mount tmpfs: ") + std::strerror(errno);
      return;
    }
    mounted_ = true;
  }
  ~SmallFileSystem() {
    if (mounted_) ::umount2(path_.c_str(), MNT_DETACH);
    ::rmdir(path_.c_str());
  }
  SmallFileSystem(const SmallFileSystem&) = delete;
  SmallFileSystem& operator=(const SmallFileSystem&) = delete;

  bool mounted() const { return mounted_; }
  const std::string& skipReason() const { return reason_; }
  const std::string& path() const { return path_; }
  std::string file(const std::string& name) const { return path_ + "/" + name; }

  // Fills the remaining space with the file `name` (removed to free it).
  void fill(const std::string& name = "filler") const {
    std::ofstream out(file(name), std::ios::binary);
    const std::string block(64 * 1024, 'f');
    while (out.write(block.data(), static_cast<std::streamsize>(block.size()))) {
    }
    // The last partial block: byte by byte until the disk refuses.
    out.clear();
    while (out.put('f') && out.flush()) {
    }
  }

 private:
  std::string path_;
  std::string reason_;
  bool mounted_ = false;
};

}  // namespace testutil
