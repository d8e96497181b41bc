#pragma once
// The files the free-space rule may delete, ranked oldest first. This list
// grows with the number of candidates (about 40 bytes and the path below the
// root for each), the one structure of a pass whose memory is not bounded by the
// depth of the tree. Paths share one buffer; the device is the root's for
// every candidate, since the walk stays on the root's file system.
#include <sys/types.h>

#include <cstdint>
#include <string>
#include <vector>

namespace KEF {

class FreeSpaceCandidates {
 public:
  struct Candidate {
    int64_t timeNs;       // the time its age is taken from
    ino_t inode;          // to recognise it again at deletion
    uint64_t spaceBytes;  // allocated space: st_blocks * 512
    size_t pathOffset;    // of its relative path in the shared buffer
  };

  void add(const char* relativePath, ino_t inode, int64_t timeNs, uint64_t spaceBytes);
  // Oldest first; equal times in path order, so runs are repeatable.
  void sortOldestFirst();

  size_t size() const { return items_.size(); }
  const Candidate& operator[](size_t index) const { return items_[index]; }
  const char* relativePath(const Candidate& candidate) const {
    return paths_.c_str() + candidate.pathOffset;
  }

 private:
  std::string paths_;  // NUL-separated relative paths
  std::vector<Candidate> items_;
};

}  // namespace KEF
