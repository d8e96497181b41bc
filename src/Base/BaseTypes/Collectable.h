#pragma once
// Collectable: base of heap objects whose lifetime is shared through an
// intrusive reference count, usually held by Handle<T>. The count is atomic,
// so handles to one object may be copied and released on several threads.
// Objects must live on the heap: the last removeReference() deletes them.
//
// Debugging aid: with time stamping on, every Collectable created is recorded
// with the process clock (milliseconds since start) at its creation, and the
// live objects created in an interval can be listed by dynamic type. Time
// stamping is meant for single-threaded diagnosis: listing reads the dynamic
// type of objects other threads might be destroying.
//
// CollectableInit (priority 0) must have been initialised before the first
// Collectable is created; until then construction throws
// Error "Collectable: Initialization error!".
#include <atomic>
#include <cstdint>
#include <iosfwd>
#include <vector>

namespace tvan {

class VString;

class Collectable {
 public:
  // The count starts at 0 (it is never copied).
  Collectable();
  Collectable(const Collectable& other);
  Collectable& operator=(const Collectable&) { return *this; }

  void addReference();
  // Count - 1; the object deletes itself when the count reaches 0. A count
  // already at 0 or below is decremented without deleting.
  void removeReference();
  int32_t referenceCount() const { return count_.load(std::memory_order_acquire); }

  // "\tReference count: <n>" and, for n == 0 or n < 0, a second line
  // "\tThis should already be deleted!" / "\tThis reference count is ILLEGAL!".
  virtual void debugText(std::ostream& os) const;
  // Count >= 0.
  virtual bool isValid() const;
  // Storage size of the Collectable base.
  virtual long objectSize() const;

  // Turning stamping on or off (a change) empties the stamp list first.
  static void enableTimeStamping(bool on);
  static bool timeStampingEnabled();
  // The stamped objects created in [fromTime, toTime] (toTime 0: now), in
  // creation order, whose dynamic type is `className` (all when empty). The
  // name may be given qualified ("tvan::CollectParser") or plain
  // ("CollectParser").
  static void findByTime(std::vector<Collectable*>& found, long fromTime,
                         const VString& className,
                         std::vector<long>* times = nullptr, long toTime = 0);
  // Writes the objects findByTime finds to standard output, one a line:
  // four blanks, type name, tab, printer(object) or the address, tab,
  // "@ id(<time>)".
  static void printByTime(long fromTime, const VString& className, long toTime = 0,
                          void (*printer)(const Collectable*) = nullptr);

 protected:
  // Reports (on standard output) an object destroyed while referenced.
  virtual ~Collectable();

 private:
  void checkAndStamp();

  std::atomic<int32_t> count_{0};
};

}  // namespace tvan
