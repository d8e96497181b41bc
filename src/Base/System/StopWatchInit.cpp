#include "Base/System/StopWatchInit.h"

#include "Base/System/StopWatch.h"

namespace tvan {

// The process-wide clock values live beside their initialiser, so that every
// program using the clock also links the initialiser that sets them.
float cpuFrequency = 0.0f;
bool usePerformanceCounter = false;
ProcessorId processor = kProcessorUnknown;

namespace {
StopWatchInit stopWatchInit;
}  // namespace

void StopWatchInit::init(const VString& /*applicationName*/) {
  processor = DetectProcessor();
  if (StopWatch::needsPerformanceCounter(processor)) usePerformanceCounter = true;
  // The tick source counts nanoseconds, not processor cycles, so a stored
  // processor clock rate would not be its rate: the estimate is measured
  // against the tick source instead.
  StopWatch::_setFrequency();
}

}  // namespace tvan
