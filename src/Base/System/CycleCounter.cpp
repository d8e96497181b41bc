#include "Base/System/CycleCounter.h"

#include <atomic>
#include <ostream>

#include "Base/System/Platform/Clock.h"
#include "Base/System/StopWatch.h"

namespace tvan {

namespace {
// Process-wide calibration: ticks one start/stop pair costs (0 until
// calibrated) and the clock rate the counters convert with. Atomic, because
// two counters built at once on two threads may both calibrate.
std::atomic<double> calibratedOverhead{0.0};
std::atomic<double> frequency{0.0};
}  // namespace

uint64_t CycleCounter::timeStamp() {
  // The tick source whose rate is cpuFrequency: CLOCK_MONOTONIC nanoseconds.
  return platform::monotonicNanos();
}

CycleCounter::CycleCounter() : CycleCounter(VString("CycleCounter")) {}

CycleCounter::CycleCounter(const VString& name) : name_(name) {
  calibrate();
  overhead_ = calibratedOverhead.load(std::memory_order_relaxed);
}

CycleCounter::CycleCounter(const CycleCounter& other)
    : uses_(other.uses_),
      count_(other.count_),
      cycles_(other.cycles_),
      startStamp_(other.startStamp_),
      name_(other.name_) {
  calibrate();
  overhead_ = calibratedOverhead.load(std::memory_order_relaxed);
}

CycleCounter& CycleCounter::operator=(const CycleCounter& other) {
  if (this != &other) {
    uses_ = other.uses_;
    count_ = other.count_;
    cycles_ = other.cycles_;
    startStamp_ = other.startStamp_;
    name_ = other.name_;
    calibrate();
    overhead_ = calibratedOverhead.load(std::memory_order_relaxed);
  }
  return *this;
}

CycleCounter::~CycleCounter() = default;

void CycleCounter::start(int weight) {
  count_ += weight;
  uses_ += 1;
  startStamp_ = timeStamp();
}

void CycleCounter::stop() { cycles_ += static_cast<double>(timeStamp() - startStamp_); }

void CycleCounter::reset() {
  count_ = 0;
  cycles_ = 0.0;
  startStamp_ = 0;
}

double CycleCounter::average() const {
  const double rate = frequency.load(std::memory_order_relaxed);
  if (count_ <= 0 || rate <= 0.0) return 0.0;
  return ((cycles_ - uses_ * overhead_) / count_) * (1.0 / (rate * 1e-9));
}

double CycleCounter::total() const { return count_ * average(); }

void CycleCounter::calibrate() {
  if (calibratedOverhead.load(std::memory_order_relaxed) <= 0.0) {
    // Set first, so that the counter built below does not calibrate again.
    calibratedOverhead.store(1.0, std::memory_order_relaxed);
    CycleCounter probe(VString("calibration"));
    for (int i = 0; i < 1000; ++i) {
      probe.start(1);
      probe.stop();
    }
    calibratedOverhead.store(probe.cycles_ / probe.count_, std::memory_order_relaxed);
  }
  frequency.store(static_cast<double>(cpuFrequency), std::memory_order_relaxed);
}

double CycleCounter::overhead() {
  if (calibratedOverhead.load(std::memory_order_relaxed) <= 0.0) calibrate();
  return calibratedOverhead.load(std::memory_order_relaxed);
}

void CycleCounter::debugText(std::ostream& os) const {
  if (count_ <= 0) {
    os << name_ << " never used.\n";
    return;
  }
  os << name_ << " used " << count_ << "x, " << total() / 1000 << " us"
     << " (average " << average() << " ns/use)\n";
}

}  // namespace tvan
