#include "KEF/Jobs/AutoDelJobs/PassReport.h"

#include <cstdio>

#include "Base/BaseTypes/FormatStr.h"
#include "Base/XML/XmlDOM.h"

namespace KEF {

namespace {

std::string decimal(uint64_t value) { return std::to_string(value); }

const char* yesNo(bool value) { return value ? "yes" : "no"; }

}  // namespace

PassReport::Figures PassReport::figures(int passes, const DeletionTotals& totals, bool dryRun,
                                        bool failed) {
  return {
      {"Pass", std::to_string(passes)},
      {"Scanned", decimal(totals.scanned)},
      {"Deleted", decimal(totals.deleted)},
      {"BytesFreed", decimal(totals.bytesFreed)},
      {"DirsRemoved", decimal(totals.dirsRemoved)},
      {"Errors", decimal(totals.errors)},
      {"SkippedYoung", decimal(totals.skippedYoung)},
      {"SkippedNotIncluded", decimal(totals.skippedNotIncluded)},
      {"SkippedProtected", decimal(totals.skippedProtected)},
      {"SkippedLocked", decimal(totals.skippedLocked)},
      {"SkippedMountPoints", decimal(totals.skippedMountPoints)},
      {"SkippedLinks", decimal(totals.skippedLinks)},
      {"SkippedConfigFiles", decimal(totals.skippedConfigFiles)},
      {"SkippedOther", decimal(totals.skippedOther)},
      {"DryRun", yesNo(dryRun)},
      {"Failed", yesNo(failed)},
  };
}

std::string PassReport::summary(int passes, const DeletionTotals& totals, bool dryRun) {
  return formatStr("Pass %d: scanned %llu, %s %llu (%s), removed %llu folders, errors %llu",
                   passes, static_cast<unsigned long long>(totals.scanned),
                   dryRun ? "would delete" : "deleted",
                   static_cast<unsigned long long>(totals.deleted),
                   bytesText(totals.bytesFreed).c_str(),
                   static_cast<unsigned long long>(totals.dirsRemoved),
                   static_cast<unsigned long long>(totals.errors));
}

std::string PassReport::statusText(int passes, const DeletionTotals& totals, bool dryRun,
                                   bool failed) {
  std::string text = "<StatusText";
  for (const auto& figure : figures(passes, totals, dryRun, failed)) {
    text += " " + figure.first + "=\"" + figure.second + "\"";
  }
  text += ">" + escapeXml(summary(passes, totals, dryRun)) + "</StatusText>";
  return text;
}

std::string PassReport::errorDetail(const DeletionTotals& totals) {
  std::string text;
  for (const std::string& path : totals.errorPaths) {
    if (!text.empty()) text += "\n";
    for (char c : path) text += static_cast<unsigned char>(c) < 0x20 ? '?' : c;
  }
  return text;
}

std::string PassReport::bytesText(uint64_t bytes) {
  static const char* const kUnits[] = {"KiB", "MiB", "GiB", "TiB", "PiB"};
  if (bytes < 1024) return std::to_string(bytes) + " B";
  double value = static_cast<double>(bytes) / 1024;
  size_t unit = 0;
  while (value >= 1024 && unit + 1 < sizeof kUnits / sizeof kUnits[0]) {
    value /= 1024;
    ++unit;
  }
  return formatStr("%.1f %s", value, kUnits[unit]);
}

std::string PassReport::escapeXml(const std::string& text) {
  std::string out = text;
  for (char& c : out) {
    if (static_cast<unsigned char>(c) < 0x20) c = '?';
  }
  tvan::XmlDOM::encode(out);
  return out;
}

}  // namespace KEF
