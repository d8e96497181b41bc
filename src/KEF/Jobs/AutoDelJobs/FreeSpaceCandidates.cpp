#include "KEF/Jobs/AutoDelJobs/FreeSpaceCandidates.h"

#include <algorithm>
#include <cstring>

namespace KEF {

void FreeSpaceCandidates::add(const char* relativePath, ino_t inode, int64_t timeNs,
                              uint64_t spaceBytes) {
  items_.push_back(Candidate{timeNs, inode, spaceBytes, paths_.size()});
  paths_.append(relativePath);
  paths_.push_back('\0');
}

void FreeSpaceCandidates::sortOldestFirst() {
  std::sort(items_.begin(), items_.end(), [this](const Candidate& a, const Candidate& b) {
    if (a.timeNs != b.timeNs) return a.timeNs < b.timeNs;
    return std::strcmp(relativePath(a), relativePath(b)) < 0;
  });
}

}  // namespace KEF
