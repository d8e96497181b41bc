// Lock+unlock of the library's mutex kinds beside the standard mutexes, as a
// user of each sees it (std::mutex inlined in the loop). The system-wide kind
// is taken by the log writer on every entry.
//
// Three settings, in this order:
//  - uncontended, while the process has a single thread: glibc then drops the
//    bus lock from std::mutex's atomic instructions (so does the in-process
//    kind), while the system-wide kind must keep it for other processes;
//  - uncontended, once the process has had a second thread, as in a service;
//  - contended: two threads on one mutex around a shared counter.
// The run ends with each time as a multiple of std::mutex's in the same
// setting (CPU time for one thread, which other load on the machine disturbs
// least; real time for two). With --benchmark_repetitions the fastest
// repetition counts.
#include <benchmark/benchmark.h>
#include <sys/mman.h>
#include <unistd.h>

#include <cstdio>
#include <map>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "Base/BaseTypes/AutoLibInitialize.h"
#include "Base/System/Mutex.h"
#include "Base/System/Platform/NamedMutex.h"

namespace {

const std::string& processMutexName() {
  static const std::string name = "KEF_BENCH_" + std::to_string(getpid());
  return name;
}

// The locks under test, one of each for the whole run (contended runs share
// them between their threads).
tvan::Mutex& processMutex() {
  static tvan::Mutex m(tvan::VString(processMutexName()), tvan::kProcessMutex);
  return m;
}
tvan::Mutex& threadMutex() {
  static tvan::Mutex m(tvan::VString("bench"), tvan::kThreadMutex);
  return m;
}
std::mutex stdMutex;
std::recursive_mutex stdRecursiveMutex;

// Written under the lock by the contended runs.
long sharedCounter = 0;

template <class Lock>
void uncontended(benchmark::State& state, Lock& lock) {
  for (auto _ : state) {
    lock.lock();
    lock.unlock();
  }
}

// The same once the process has had a second thread (it need not live on).
template <class Lock>
void uncontendedInThreadedProcess(benchmark::State& state, Lock& lock) {
  static const bool threaded = (std::thread([] {}).join(), true);
  benchmark::DoNotOptimize(threaded);
  uncontended(state, lock);
}

// About 100 ns of work that the compiler cannot drop.
void work() {
  unsigned x = 1;
  for (int i = 0; i < 60; ++i) {
    x = x * 1664525u + 1013904223u;
    benchmark::DoNotOptimize(x);
  }
}

// Each thread works as long inside the lock as outside it, so that the lock
// changes hands often and waiters do sleep and wake.
template <class Lock>
void contended(benchmark::State& state, Lock& lock) {
  for (auto _ : state) {
    lock.lock();
    ++sharedCounter;
    work();
    lock.unlock();
    work();
  }
}

// Registers one setting for every lock; settings run in registration order.
enum class Setting { kUncontended, kThreadedProcess, kContended };

template <class Lock>
void add(Setting setting, const char* name, Lock& (*lock)()) {
  switch (setting) {
    case Setting::kUncontended:
      benchmark::RegisterBenchmark(name, [lock](benchmark::State& s) { uncontended(s, lock()); });
      break;
    case Setting::kThreadedProcess:
      benchmark::RegisterBenchmark((std::string(name) + "/threaded_process").c_str(),
                                   [lock](benchmark::State& s) { uncontendedInThreadedProcess(s, lock()); });
      break;
    case Setting::kContended:
      benchmark::RegisterBenchmark((std::string(name) + "/contended").c_str(),
                                   [lock](benchmark::State& s) { contended(s, lock()); })
          ->Threads(2)
          ->UseRealTime();
      break;
  }
}

std::mutex& theStdMutex() { return stdMutex; }
std::recursive_mutex& theStdRecursiveMutex() { return stdRecursiveMutex; }

// The console output, then per setting a table of each benchmark's time over
// BM_StdMutex's.
class RatioReporter : public benchmark::ConsoleReporter {
 public:
  // Colours only on a terminal.
  RatioReporter() : ConsoleReporter(isatty(STDOUT_FILENO) ? OO_ColorTabular : OO_Tabular) {}

  void ReportRuns(const std::vector<Run>& runs) override {
    ConsoleReporter::ReportRuns(runs);
    for (const Run& run : runs) {
      if (run.run_type != Run::RT_Iteration || run.error_occurred) continue;
      // "BM_X/setting...": the setting groups the rows, BM_X names them.
      const std::string full = run.benchmark_name();
      const size_t slash = full.find('/');
      const std::string name = full.substr(0, slash);
      const std::string setting = slash == std::string::npos ? "uncontended" : full.substr(slash + 1);
      const double measured = run.threads == 1 ? run.GetAdjustedCPUTime() : run.GetAdjustedRealTime();
      if (times_.find(setting) == times_.end()) order_.push_back(setting);
      double& time = times_[setting][name];
      if (time == 0 || measured < time) time = measured;
    }
  }

  void Finalize() override {
    ConsoleReporter::Finalize();
    for (const std::string& setting : order_) {
      const std::map<std::string, double>& byName = times_[setting];
      const auto base = byName.find("BM_StdMutex");
      if (base == byName.end() || base->second <= 0) continue;
      std::printf("\n%-22s %9s %7s   %s\n", "vs std::mutex", "ns", "ratio", setting.c_str());
      for (const auto& [name, time] : byName) {
        std::printf("%-22s %9.2f %6.2fx\n", name.c_str(), time, time / base->second);
      }
    }
  }

 private:
  std::vector<std::string> order_;  // settings in the order they ran
  std::map<std::string, std::map<std::string, double>> times_;
};

}  // namespace

int main(int argc, char** argv) {
  tvan::AutoLibInitialize init(tvan::VString("KEF_BENCH"));
  for (Setting setting : {Setting::kUncontended, Setting::kThreadedProcess, Setting::kContended}) {
    add(setting, "BM_ProcessMutex", &processMutex);
    add(setting, "BM_ThreadMutex", &threadMutex);
    add(setting, "BM_StdMutex", &theStdMutex);
    add(setting, "BM_StdRecursiveMutex", &theStdRecursiveMutex);
  }
  benchmark::Initialize(&argc, argv);
  RatioReporter reporter;
  benchmark::RunSpecifiedBenchmarks(&reporter);
  benchmark::Shutdown();
  shm_unlink(tvan::platform::sharedObjectName(tvan::VString(processMutexName()).wide()).c_str());
  return 0;
}
