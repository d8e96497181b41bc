#include "Host/ProgressFormat.h"

#include <vector>

#include "Host/ByteSize.h"
#include "Host/JsonObject.h"

namespace kefhost {

namespace {

// The text's lines, trimmed, empty ones dropped, joined by "; "; any other
// control character becomes a space, so that a report is one line.
std::string oneLine(const std::string& text) {
  std::string out;
  std::string line;
  const auto flush = [&] {
    const size_t first = line.find_first_not_of(' ');
    if (first != std::string::npos) {
      const size_t last = line.find_last_not_of(' ');
      if (!out.empty()) out += "; ";
      out.append(line, first, last - first + 1);
    }
    line.clear();
  };
  for (const char c : text) {
    if (c == '\n' || c == '\r') {
      flush();
    } else {
      const unsigned char byte = static_cast<unsigned char>(c);
      line += (byte < 0x20 || byte == 0x7F) ? ' ' : c;
    }
  }
  flush();
  return out;
}

std::string figures(const StatusReport& report) {
  std::vector<std::string> parts;
  if (report.scanned) parts.push_back("scanned " + std::to_string(*report.scanned));
  if (report.deleted) parts.push_back("deleted " + std::to_string(*report.deleted));
  if (report.bytesFreed) parts.push_back("freed " + formatByteSize(*report.bytesFreed));
  if (report.errors) parts.push_back("errors " + std::to_string(*report.errors));
  if (report.dryRun.value_or(false)) parts.push_back("dry run");
  if (report.failed.value_or(false)) parts.push_back("failed");
  std::string out;
  for (const std::string& part : parts) out += (out.empty() ? "" : ", ") + part;
  return out;
}

}  // namespace

std::string progressText(const std::string& label, const StatusReport& report) {
  if (report.isStateChange()) return label + " state " + oneLine(report.state);
  if (report.status == "RUNNING" && report.hasFigures()) {
    const std::string head =
        report.pass ? "pass " + std::to_string(*report.pass) : std::string("RUNNING");
    const std::string counts = figures(report);
    return label + " " + head + (counts.empty() ? "" : ": " + counts);
  }
  std::string line = label + " " + oneLine(report.status);
  const std::string text = oneLine(report.text);
  const std::string detail = oneLine(report.detail);
  if (!text.empty() || !detail.empty()) line += ":";
  if (!text.empty()) line += " " + text;
  if (!detail.empty()) line += (text.empty() ? " " : "; ") + detail;
  return line;
}

std::string progressJson(const std::string& serviceName, int index, const StatusReport& report) {
  JsonObject object;
  object.addString("service", serviceName)
      .addNumber("index", index)
      .addString("serviceID", report.serviceID)
      .addString("status", report.status);
  if (report.pass) object.addNumber("pass", *report.pass);
  if (report.scanned) object.addNumber("scanned", *report.scanned);
  if (report.deleted) object.addNumber("deleted", *report.deleted);
  if (report.bytesFreed) object.addNumber("bytesFreed", *report.bytesFreed);
  if (report.dirsRemoved) object.addNumber("dirsRemoved", *report.dirsRemoved);
  if (report.errors) object.addNumber("errors", *report.errors);
  if (report.dryRun) object.addBool("dryRun", *report.dryRun);
  if (report.failed) object.addBool("failed", *report.failed);
  if (report.isStateChange()) object.addString("state", report.state);
  object.addString("text", report.text);
  if (!report.detail.empty()) object.addString("detail", report.detail);
  return object.text();
}

}  // namespace kefhost
