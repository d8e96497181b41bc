#pragma once
// CycleCounter sums the ticks spent between start() and stop() and converts
// them to nanoseconds with the process-wide clock rate (cpuFrequency,
// StopWatch.h), subtracting the calibrated cost of one start/stop pair per use.
// A counter is used by one thread at a time.
#include <cstdint>
#include <iosfwd>

#include "Base/BaseTypes/VString.h"

namespace tvan {

class CycleCounter {
 public:
  CycleCounter();
  explicit CycleCounter(const VString& name);
  // Copies take every field but re-take the overhead from the calibration.
  CycleCounter(const CycleCounter& other);
  CycleCounter& operator=(const CycleCounter& other);
  virtual ~CycleCounter();

  // Counts `weight` units and one use, then takes the start stamp.
  void start(int weight = 1);
  // Adds the ticks since the last start.
  void stop();
  // count, cycles and start stamp become 0 (uses stay).
  void reset();

  // Nanoseconds per counted unit; 0 when nothing was counted or the clock
  // rate is not known.
  double average() const;
  // count * average(), in nanoseconds.
  double total() const;
  int count() const { return count_; }
  int uses() const { return uses_; }
  double cycles() const { return cycles_; }
  const VString& name() const { return name_; }
  void setName(const VString& name) { name_ = name; }

  // Measures the cost of one start/stop pair (once per process) and takes the
  // current clock rate. Run by every constructor.
  static void calibrate();
  // The calibrated cost in ticks, calibrating first when needed.
  static double overhead();

  // "<name> used <count>x, <total/1000> us (average <average> ns/use)\n", or
  // "<name> never used.\n".
  virtual void debugText(std::ostream& os) const;

 private:
  static uint64_t timeStamp();

  int32_t uses_ = 0;
  int32_t count_ = 0;
  double cycles_ = 0.0;
  uint64_t startStamp_ = 0;
  VString name_;
  double overhead_ = 0.0;
};

}  // namespace tvan
