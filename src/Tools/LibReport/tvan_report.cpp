// Prints what the utility library reports about itself, one item a line:
// application name, application info, processor, clock, cycle-counter
// overhead and a round trip through a system-wide named mutex.
#include <cstdio>
#include <string>
#include <thread>

#include "Base/BaseTypes/AppInfo.h"
#include "Base/BaseTypes/Error.h"
#include "Base/BaseTypes/AutoLibInitialize.h"
#include "Base/System/CycleCounter.h"
#include "Base/System/Mutex.h"
#include "Base/System/Processor.h"
#include "Base/System/StopWatch.h"

namespace {

// Locks, checks that another thread cannot take it at once, unlocks.
std::string mutexRoundTrip() {
  // One fixed name: every run reuses the same shared object.
  const std::string name = "TVAN_REPORT";
  tvan::Mutex mutex(tvan::VString(name), tvan::kProcessMutex);
  if (!mutex.lock(tvan::kBlock, -1)) return "lock failed";
  bool otherGotIt = true;
  std::thread([&] {
    otherGotIt = mutex.lock(tvan::kNoBlock);
    if (otherGotIt) mutex.unlock();
  }).join();
  mutex.unlock();
  return name + ": locked, other thread kNoBlock " + (otherGotIt ? "succeeded (WRONG)" : "refused") +
         ", unlocked";
}

}  // namespace

int main() {
  try {
    tvan::AutoLibInitialize init(tvan::VString("KEF_DLL"));
    tvan::AppInfo& info = tvan::AppInfo::info();
    std::printf("application name: %s\n", tvan::LibInitialize::applicationName().narrow().c_str());
    std::printf("application info: %s %s (%s)\n", info.name().narrow().c_str(),
                info.version().narrow().c_str(), info.status().narrow().c_str());
    std::printf("processor: %s\n", tvan::DetectProcessorStr(tvan::DetectProcessor()));
    std::printf("clock frequency: %.0f ticks/s, performance counter: %s\n",
                static_cast<double>(tvan::cpuFrequency),
                tvan::usePerformanceCounter ? "yes" : "no");
    std::printf("cycle counter overhead: %.1f ticks per start/stop\n", tvan::CycleCounter::overhead());
    std::printf("named mutex: %s\n", mutexRoundTrip().c_str());
  } catch (const tvan::Error& e) {
    std::fprintf(stderr, "tvan_report: %s @ %s:%d\n", e.keystring(), e.file(), e.line());
    return 1;
  }
  return 0;
}
