#pragma once
// The folders of the operating system a deletion root may never be: "/",
// the top-level system folders, and anything below the kernel's virtual file
// systems (/proc, /sys, /dev). Folders below the others (/var/cache/app) are
// ordinary data and allowed; /tmp itself is allowed.
#include <string>

namespace KEF {

class SystemFolders {
 public:
  // How `path` (absolute and lexically normal, without a trailing slash
  // except for "/") is a system folder, as a phrase that completes
  // "... is ": "the whole file system", "a system folder", "below the system
  // folder /proc". "" when it is none.
  static std::string judge(const std::string& path);

  // `path` made absolute-normal: "." and ".." steps and repeated or trailing
  // slashes removed without consulting the file system. `path` must be
  // absolute.
  static std::string normalise(const std::string& path);
};

}  // namespace KEF
