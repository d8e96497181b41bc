#pragma once
// Standard output for the progress lines alone.
//
// The framework's libraries print some lines of their own on standard
// output (a statistics line whenever a workflow ends, configuration
// trouble). Mixed into the progress they would break a reader of --json
// lines. So the host keeps the original standard output on a descriptor of
// its own for the progress, and points descriptor 1 at standard error,
// where everything else the process prints belongs.
//
// Make it on the main thread before the plug-in is loaded; it restores
// descriptor 1 when it goes.
#include <cstdio>

namespace kefhost {

class ProgressStream {
 public:
  ProgressStream();
  ~ProgressStream();

  ProgressStream(const ProgressStream&) = delete;
  ProgressStream& operator=(const ProgressStream&) = delete;

  // Where progress lines go: the original standard output (stdout itself
  // when it could not be set apart).
  FILE* file() const { return file_; }

 private:
  FILE* file_;
  int savedFd_ = -1;  // a copy of the original descriptor 1
};

}  // namespace kefhost
