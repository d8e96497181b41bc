#include "Host/ProgressWriter.h"

#include "Host/ProgressFormat.h"

namespace kefhost {

void ProgressWriter::write(const std::string& serviceName, int index,
                           const StatusReport& report) {
  std::string line;
  switch (format_) {
    case Format::kNone:
      return;
    case Format::kText:
      line = progressText(serviceName + "[" + std::to_string(index) + "]", report);
      break;
    case Format::kJson:
      line = progressJson(serviceName, index, report);
      break;
  }
  line += '\n';
  std::fwrite(line.data(), 1, line.size(), out_);
  std::fflush(out_);
}

}  // namespace kefhost
