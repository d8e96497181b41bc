#pragma once
// Writes the progress lines: one per status report, as text or JSON, or
// none (--quiet). Each line is flushed at once, so that a reader following
// the output (a pipe, the journal) sees it as it happens.
//
// Not locked: the status feed serialises its calls.
#include <cstdio>
#include <string>

#include "Host/StatusReport.h"

namespace kefhost {

class ProgressWriter {
 public:
  enum class Format { kNone, kText, kJson };

  ProgressWriter(FILE* out, Format format) : out_(out), format_(format) {}

  void write(const std::string& serviceName, int index, const StatusReport& report);

 private:
  FILE* out_;
  Format format_;
};

}  // namespace kefhost
