#pragma once
// Shared by the deletion engine's tests: files of a chosen age in a scratch
// tree, and a pass run over it that records what it reported.
#include <fcntl.h>
#include <sys/stat.h>

#include <ctime>
#include <filesystem>
#include <string>
#include <vector>

#include "KEF/Jobs/AutoDelJobs/DeletionPass.h"
#include "TestUtil.h"

namespace deltest {

constexpr double kSecondsPerDay = 86400;

// Sets the file's access and modification times `days` back (not following
// a link).
inline void setAge(const std::string& path, double days) {
  timespec now{};
  ::clock_gettime(CLOCK_REALTIME, &now);
  timespec times[2];
  times[0].tv_sec = now.tv_sec - static_cast<time_t>(days * kSecondsPerDay);
  times[0].tv_nsec = 0;
  times[1] = times[0];
  ::utimensat(AT_FDCWD, path.c_str(), times, AT_SYMLINK_NOFOLLOW);
}

// A file `days` old with `bytes` in it; missing parent folders are made.
inline void makeFile(const std::string& path, double days, const std::string& bytes = "data") {
  std::filesystem::create_directories(std::filesystem::path(path).parent_path());
  testutil::writeFile(path, bytes);
  setAge(path, days);
}

inline bool exists(const std::string& path) {
  struct stat st;
  return ::lstat(path.c_str(), &st) == 0;
}

inline KEF::DeletionPolicy policyFor(const std::string& root, double maxAgeDays) {
  KEF::DeletionPolicy policy;
  policy.roots = {root};
  policy.maxAgeDays = maxAgeDays;
  return policy;
}

// One pass and what it reported.
struct PassResult {
  bool ok = false;
  std::string error;
  KEF::DeletionTotals totals;
  std::vector<std::string> deleted;  // paths given to onDelete
  uint64_t deletedBytes = 0;
};

// Runs a pass; `prepare` may set more callbacks on it (setOnDelete replaces
// the recording one).
template <class Prepare>
PassResult runPass(const KEF::DeletionPolicy& policy, Prepare prepare) {
  PassResult result;
  KEF::DeletionPass pass(policy);
  pass.setOnDelete([&result](const std::string& path, uint64_t size) {
    result.deleted.push_back(path);
    result.deletedBytes += size;
  });
  prepare(pass, result);
  result.ok = pass.run(result.totals, result.error);
  return result;
}

inline PassResult runPass(const KEF::DeletionPolicy& policy) {
  return runPass(policy, [](KEF::DeletionPass&, PassResult&) {});
}

}  // namespace deltest
