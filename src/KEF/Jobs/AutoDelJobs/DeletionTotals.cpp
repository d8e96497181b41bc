#include "KEF/Jobs/AutoDelJobs/DeletionTotals.h"

namespace KEF {

void DeletionTotals::add(const DeletionTotals& other) {
  scanned += other.scanned;
  deleted += other.deleted;
  bytesFreed += other.bytesFreed;
  dirsRemoved += other.dirsRemoved;
  skippedYoung += other.skippedYoung;
  skippedNotIncluded += other.skippedNotIncluded;
  skippedProtected += other.skippedProtected;
  skippedLocked += other.skippedLocked;
  skippedMountPoints += other.skippedMountPoints;
  skippedLinks += other.skippedLinks;
  skippedConfigFiles += other.skippedConfigFiles;
  skippedOther += other.skippedOther;
  errors += other.errors;
  for (const std::string& path : other.errorPaths) {
    if (errorPaths.size() >= kMaxErrorPaths) break;
    errorPaths.push_back(path);
  }
}

void DeletionTotals::addError(const std::string& path, const std::string& reason) {
  ++errors;
  if (errorPaths.size() < kMaxErrorPaths) errorPaths.push_back(path + ": " + reason);
}

}  // namespace KEF
