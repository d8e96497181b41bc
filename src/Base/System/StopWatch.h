#pragma once
// The process-wide processor clock: the tick source of the timing code and its
// rate. On Linux both tick sources (the time-stamp and the high-resolution
// counter) read CLOCK_MONOTONIC in nanoseconds, whose rate is 1e9 per second.
// The values are written once by StopWatchInit during library initialisation,
// before any service thread runs, and only read afterwards.
#include <cstdint>

#include "Base/System/Processor.h"

namespace tvan {

// Ticks per second of the tick source (0 until initialised).
extern float cpuFrequency;
// Whether StopWatch::tick reads the high-resolution counter.
extern bool usePerformanceCounter;
// The processor detected at initialisation.
extern ProcessorId processor;

class StopWatch {
 public:
  // Time bases of _timeBasePeriod / timeBaseStr.
  static constexpr int kSeconds = 1;
  static constexpr int kMilliseconds = 1000;
  static constexpr int kMicroseconds = 1000000;
  static constexpr int kNanoseconds = 1000000000;

  // The current tick. Throws Error when the high-resolution counter is in use
  // and fails.
  static uint64_t tick();
  // Time base units per tick: timeBase / cpuFrequency. Throws Error "unknown
  // TimeBase type" for any other time base.
  static double _timeBasePeriod(int timeBase);
  // "sec", "msec", "usec", "nsec"; throws the same Error otherwise.
  static const char* timeBaseStr(int timeBase);

  // The frequency estimate: the registry's processor clock in MHz times 1e6
  // when `registryMHz` > 0, else the tick rate measured over about 100 ms
  // against an independent clock.
  static double _estimateFrequency(unsigned long registryMHz = 0);
  // The rule that settles the frequency: the counter's rate unless it differs
  // from the estimate by 10 % of the estimate or more (then the estimate). A
  // failed counter throws Error when `usePerfCounter`, else gives the estimate.
  // An estimate of 0 or less cannot be compared and gives the counter's rate.
  static double chooseFrequency(bool counterOk, double counterFreq, double estimate,
                                bool usePerfCounter);
  // Processors whose time-stamp rate is not constant (mobile models) time
  // with the high-resolution counter instead.
  static bool needsPerformanceCounter(ProcessorId id);
  // Sets cpuFrequency from the platform counter and `estimate`.
  static void _setFrequency(double estimate);
  // The same with a freshly measured estimate (takes about 100 ms).
  static void _setFrequency();
};

}  // namespace tvan
