#include "Host/StatusReport.h"

#include <cerrno>
#include <cstdlib>
#include <initializer_list>
#include <map>

#include "Base/XML/XmlDOM.h"

namespace kefhost {

namespace {

using Attributes = std::map<std::string, std::string>;

std::optional<int64_t> wholeNumber(const Attributes& attributes, const char* name) {
  const auto found = attributes.find(name);
  if (found == attributes.end() || found->second.empty()) return std::nullopt;
  const char* text = found->second.c_str();
  char* end = nullptr;
  errno = 0;
  const long long value = std::strtoll(text, &end, 10);
  if (errno != 0 || end == text || *end != '\0') return std::nullopt;
  return static_cast<int64_t>(value);
}

std::optional<bool> yesNo(const Attributes& attributes, const char* name) {
  const auto found = attributes.find(name);
  if (found == attributes.end()) return std::nullopt;
  if (found->second == "yes") return true;
  if (found->second == "no") return false;
  return std::nullopt;
}

// Selects ServiceStatus, then each step below it; false at the first
// missing element.
bool select(tvan::XmlDOM& document, std::initializer_list<const char*> steps) {
  document.resetActiveToRoot();
  int count = 0;
  document.findNodes("ServiceStatus", count, true);
  for (const char* step : steps) {
    if (count == 0) return false;
    document.findNodes(step, count, true);
  }
  return count > 0;
}

}  // namespace

bool StatusReport::parse(const std::string& xml, StatusReport& report) {
  try {
    tvan::XmlDOM document(xml.c_str(), false);
    StatusReport parsed;
    if (!select(document, {})) return false;
    document.getAttribute("Status", parsed.status, 0);
    if (parsed.status.empty()) return false;
    document.getAttribute("ServiceID", parsed.serviceID, 0);

    if (select(document, {"ServiceStatusResp", "StateName"})) {
      document.getNodeValue(parsed.state, -1);
    } else if (select(document, {"StatusText"})) {
      document.getNodeValue(parsed.text, -1);
      Attributes attributes;
      document.getAttribute(attributes, 0);
      parsed.pass = wholeNumber(attributes, "Pass");
      parsed.scanned = wholeNumber(attributes, "Scanned");
      parsed.deleted = wholeNumber(attributes, "Deleted");
      parsed.bytesFreed = wholeNumber(attributes, "BytesFreed");
      parsed.dirsRemoved = wholeNumber(attributes, "DirsRemoved");
      parsed.errors = wholeNumber(attributes, "Errors");
      parsed.dryRun = yesNo(attributes, "DryRun");
      parsed.failed = yesNo(attributes, "Failed");
      if (select(document, {"StatusText", "Detail"})) document.getNodeValue(parsed.detail, -1);
    } else {
      select(document, {});
      document.getNodeValue(parsed.text, -1);
    }
    report = std::move(parsed);
    return true;
  } catch (...) {
    // Not XML at all: not a report.
    return false;
  }
}

}  // namespace kefhost
