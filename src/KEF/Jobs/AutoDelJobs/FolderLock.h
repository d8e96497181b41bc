#pragma once
// The flock(2) convention by which a writer keeps deletions out of a folder:
// a process that holds the folder locked (shared or exclusive) is at work in
// it. The pass takes the folder exclusively without waiting, to learn whether
// anyone holds it, then keeps only a shared lock while it works there, so a
// writer that wants the folder to itself waits for the pass instead of being
// shut out of reading. The lock goes with the descriptor's close.
namespace KEF {

class FolderLock {
 public:
  enum class State { kHeldShared, kBusy };

  // Tries to hold `fd` shared as described. kBusy when another open file
  // description holds it; a file system without flock support counts as
  // free, since nobody can be holding a lock there.
  static State holdShared(int fd);
};

}  // namespace KEF
