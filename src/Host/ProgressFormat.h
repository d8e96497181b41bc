#pragma once
// How a status report reads on the host's standard output: one line of text
// for people, or one JSON object for programs (--json).
#include <string>

#include "Host/StatusReport.h"

namespace kefhost {

// One line, without the line feed, for example
//   AUTODELETE[1] pass 3: scanned 4000, deleted 1200, freed 5.0 MiB, errors 0
//   AUTODELETE[1] DONE: OK; <the closing totals>
//   AUTODELETE[1] ERROR: <message>; <detail lines joined by "; ">
//   AUTODELETE[1] state AUTODELJOB
// `label` names the service ("AUTODELETE[1]").
std::string progressText(const std::string& label, const StatusReport& report);

// One JSON object, without the line feed: service, index, serviceID,
// status, then the figures the report has (pass, scanned, deleted,
// bytesFreed, dirsRemoved, errors, dryRun, failed), state for a change of
// state, text, and detail when there is one.
std::string progressJson(const std::string& serviceName, int index, const StatusReport& report);

}  // namespace kefhost
