#pragma once
// The texts the deletion job reports: the status text of a pass report, the
// one-line summary, the detail listing the first error paths, and the
// figures as named values (kept as attributes in the job data).
#include <string>
#include <utility>
#include <vector>

#include "KEF/Jobs/AutoDelJobs/DeletionTotals.h"

namespace KEF {

class PassReport {
 public:
  using Figures = std::vector<std::pair<std::string, std::string>>;

  // The running totals after `passes` passes, as (name, decimal text) pairs
  // in a fixed order: Pass, Scanned, Deleted, BytesFreed, DirsRemoved,
  // Errors, then one Skipped... per reason, then DryRun and Failed (yes/no).
  static Figures figures(int passes, const DeletionTotals& totals, bool dryRun, bool failed);

  // "Pass 3: scanned 4000, deleted 1200 (5.0 MiB), removed 3 folders,
  // errors 0", with "would delete" in a dry run.
  static std::string summary(int passes, const DeletionTotals& totals, bool dryRun);

  // <StatusText Pass=".." Scanned=".." ...>summary</StatusText>
  static std::string statusText(int passes, const DeletionTotals& totals, bool dryRun,
                                bool failed);

  // The first error paths, one per line; "" when there were none. Control
  // characters of file names are shown as '?', so the text stays XML.
  static std::string errorDetail(const DeletionTotals& totals);

  // A byte count for people: "512 B", "4.0 KiB", "5.0 MiB", "1.2 GiB".
  static std::string bytesText(uint64_t bytes);

  // `text` with &, <, >, " and ' written as entities, and control
  // characters as '?'.
  static std::string escapeXml(const std::string& text);
};

}  // namespace KEF
