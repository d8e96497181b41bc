#include "Base/System/StopWatch.h"

#include <time.h>

#include <cmath>

#include "Base/BaseTypes/Error.h"

namespace tvan {

namespace {

bool readClock(clockid_t clock, uint64_t& nanos) {
  timespec ts;
  if (clock_gettime(clock, &ts) != 0) return false;
  nanos = static_cast<uint64_t>(ts.tv_sec) * 1000000000ull + static_cast<uint64_t>(ts.tv_nsec);
  return true;
}

// Rate of the high-resolution counter (CLOCK_MONOTONIC in nanoseconds).
constexpr double kCounterFrequency = 1e9;

}  // namespace

uint64_t StopWatch::tick() {
  uint64_t now = 0;
  if (!readClock(CLOCK_MONOTONIC, now) && usePerformanceCounter) {
    throw Error(__FILE__, __LINE__, "QueryPerformanceCounter() failed. Can't make useful measurements");
  }
  return now;
}

double StopWatch::_timeBasePeriod(int timeBase) {
  switch (timeBase) {
    case kSeconds:
    case kMilliseconds:
    case kMicroseconds:
    case kNanoseconds:
      return static_cast<double>(timeBase) / cpuFrequency;
    default:
      throw Error(__FILE__, __LINE__, "unknown TimeBase type");
  }
}

const char* StopWatch::timeBaseStr(int timeBase) {
  switch (timeBase) {
    case kSeconds: return "sec";
    case kMilliseconds: return "msec";
    case kMicroseconds: return "usec";
    case kNanoseconds: return "nsec";
    default: throw Error(__FILE__, __LINE__, "unknown TimeBase type");
  }
}

double StopWatch::_estimateFrequency(unsigned long registryMHz) {
  if (registryMHz > 0) return static_cast<double>(registryMHz) * 1000000.0;
  // Count ticks over about 100 ms and divide by the time that really passed
  // (a raw clock, not the tick source), so an oversleep does not skew it.
  uint64_t rawStart = 0, rawEnd = 0;
  readClock(CLOCK_MONOTONIC_RAW, rawStart);
  const uint64_t first = tick();
  timespec pause{0, 100000000};
  while (nanosleep(&pause, &pause) != 0) {
  }
  const uint64_t second = tick();
  readClock(CLOCK_MONOTONIC_RAW, rawEnd);
  const double elapsedSeconds = static_cast<double>(rawEnd - rawStart) / 1e9;
  if (elapsedSeconds <= 0.0) return static_cast<double>(second - first) * 1000.0 / 100.0;
  return static_cast<double>(second - first) / elapsedSeconds;
}

double StopWatch::chooseFrequency(bool counterOk, double counterFreq, double estimate,
                                  bool usePerfCounter) {
  if (!counterOk) {
    if (usePerfCounter) {
      throw Error(__FILE__, __LINE__, "QueryPerformanceFrequency() failed. Can't make useful measurements");
    }
    return estimate;
  }
  if (estimate <= 0.0) return counterFreq;
  if (std::fabs(counterFreq - estimate) >= 0.1 * estimate) return estimate;
  return counterFreq;
}

bool StopWatch::needsPerformanceCounter(ProcessorId id) {
  return id == kProcessorIntelPentium4M || id == kProcessorIntelPentiumMCentrino;
}

void StopWatch::_setFrequency() { _setFrequency(_estimateFrequency()); }

void StopWatch::_setFrequency(double estimate) {
  timespec resolution;
  const bool counterOk = clock_getres(CLOCK_MONOTONIC, &resolution) == 0;
  cpuFrequency = static_cast<float>(
      chooseFrequency(counterOk, kCounterFrequency, estimate, usePerformanceCounter));
}

}  // namespace tvan
