#pragma once
// A service's status report as stored in the request database: a response
// document
//   <KEFResponse><ServiceStatus ServiceID=".." Status="RUNNING|DONE|ERROR" ..>
//     <StatusText Pass="3" Scanned="4000" ...>text<Detail>..</Detail></StatusText>
//   </ServiceStatus></KEFResponse>
// or, for a change of state, a ServiceStatusResp document naming the state
// instead of the StatusText. The figures are whatever of them the report
// carries; a figure that is not a whole number counts as absent.
#include <cstdint>
#include <optional>
#include <string>

namespace kefhost {

struct StatusReport {
  std::string serviceID;
  std::string status;  // RUNNING, DONE, ERROR, ...
  std::string text;    // the StatusText's own text (or the status's whole text)
  std::string detail;  // the StatusText's Detail
  std::string state;   // the state entered, for a change-of-state report

  std::optional<int64_t> pass;
  std::optional<int64_t> scanned;
  std::optional<int64_t> deleted;
  std::optional<int64_t> bytesFreed;
  std::optional<int64_t> dirsRemoved;
  std::optional<int64_t> errors;
  std::optional<bool> dryRun;
  std::optional<bool> failed;

  bool isStateChange() const { return !state.empty(); }
  bool hasFigures() const {
    return pass || scanned || deleted || bytesFreed || dirsRemoved || errors;
  }

  // Reads a response document. False when `xml` is not one (not XML, or
  // without a ServiceStatus carrying a Status).
  static bool parse(const std::string& xml, StatusReport& report);
};

}  // namespace kefhost
