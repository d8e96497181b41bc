#pragma once
// What the deletion job deletes: the Policy element of its job data.
//
//   <Policy>
//     <Root>/srv/cache</Root>              one or more absolute folders
//     <MaxAgeDays>30</MaxAgeDays>          files older than this (fractions allowed)
//     <AgeBy>mtime</AgeBy>                 mtime (default), atime or ctime
//     <Include>*.dcm</Include>             zero or more; none: every file
//     <Protect>*.keep</Protect>            zero or more; wins over Include
//     <MinFreePercent>15</MinFreePercent>  optional free-space goal
//     <MinAgeHours>24</MinAgeHours>        floor of the free-space rule
//     <RemoveEmptyDirs>yes</RemoveEmptyDirs>
//     <DryRun>no</DryRun>
//     <IntervalSeconds>600</IntervalSeconds>
//   </Policy>
//
// Patterns are fnmatch(3) patterns matched against a file's name and against
// its path below the root; either match counts.
#include <string>
#include <vector>

namespace KEF {

class BaseJobData;

// Which of a file's times its age is taken from.
enum class AgeBy { kModified, kAccessed, kChanged };

struct DeletionPolicy {
  std::vector<std::string> roots;
  double maxAgeDays = 0;
  AgeBy ageBy = AgeBy::kModified;
  std::vector<std::string> include;
  std::vector<std::string> protect;
  double minFreePercent = -1;  // below 0: no free-space rule
  double minAgeHours = 24;
  bool removeEmptyDirs = false;
  bool dryRun = false;
  double intervalSeconds = 600;

  bool hasFreeSpaceRule() const { return minFreePercent >= 0; }

  // Reads the first Policy element under the data's root. False, with
  // `error` saying which element and value is wrong, when the policy is
  // missing, a value does not parse or is out of range, or a root is
  // refused (refuseRoot). `policy` is only changed on success.
  static bool read(BaseJobData& data, DeletionPolicy& policy, std::string& error);

  // Why `root` may not be a root ("" when it may): not absolute, "/", a
  // top-level system folder or anything below /proc, /sys or /dev, judged
  // both on the path as written (lexically normalised) and on where it
  // resolves.
  static std::string refuseRoot(const std::string& root);
};

}  // namespace KEF
