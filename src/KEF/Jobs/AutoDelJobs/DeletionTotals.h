#pragma once
// The figures of deletion passes: one pass's, or the running totals of a
// service (add() sums them).
#include <cstdint>
#include <string>
#include <vector>

namespace KEF {

struct DeletionTotals {
  // How many error paths are kept ("path: reason"), the first ones.
  static constexpr size_t kMaxErrorPaths = 5;

  uint64_t scanned = 0;     // regular files examined
  uint64_t deleted = 0;     // files deleted (in a dry run: that would be)
  uint64_t bytesFreed = 0;  // their sizes (st_size)
  uint64_t dirsRemoved = 0; // empty folders removed (or that would be)
  // Skipped, by reason.
  uint64_t skippedYoung = 0;        // files not old enough
  uint64_t skippedNotIncluded = 0;  // files no Include pattern matches
  uint64_t skippedProtected = 0;    // files and folders a Protect pattern matches
  uint64_t skippedLocked = 0;       // folders another process holds locked
  uint64_t skippedMountPoints = 0;  // folders of another file system
  uint64_t skippedLinks = 0;        // symbolic links (never followed)
  uint64_t skippedConfigFiles = 0;  // files named KEFConfiguration.xml
  uint64_t skippedOther = 0;        // sockets, devices, pipes
  uint64_t errors = 0;              // entries that could not be read or deleted
  std::vector<std::string> errorPaths;

  // Adds every count of `other`; its error paths while fewer than
  // kMaxErrorPaths are kept.
  void add(const DeletionTotals& other);
  // Records one error.
  void addError(const std::string& path, const std::string& reason);
};

}  // namespace KEF
