// Uncontended lock+unlock of the library's mutex kinds beside a bare
// std::mutex. The system-wide kind is taken by the log writer on every entry.
#include <benchmark/benchmark.h>
#include <sys/mman.h>
#include <unistd.h>

#include <mutex>
#include <string>

#include "Base/BaseTypes/AutoLibInitialize.h"
#include "Base/System/Mutex.h"
#include "Base/System/Platform/NamedMutex.h"

namespace {

void BM_ProcessMutex(benchmark::State& state) {
  const std::string name = "KEF_BENCH_" + std::to_string(getpid());
  tvan::Mutex m(tvan::VString(name), tvan::kProcessMutex);
  for (auto _ : state) {
    m.lock();
    m.unlock();
  }
  shm_unlink(tvan::platform::sharedObjectName(tvan::VString(name).wide()).c_str());
}
BENCHMARK(BM_ProcessMutex);

void BM_ThreadMutex(benchmark::State& state) {
  tvan::Mutex m(tvan::VString("bench"), tvan::kThreadMutex);
  for (auto _ : state) {
    m.lock();
    m.unlock();
  }
}
BENCHMARK(BM_ThreadMutex);

void BM_StdMutex(benchmark::State& state) {
  std::mutex m;
  for (auto _ : state) {
    m.lock();
    m.unlock();
  }
}
BENCHMARK(BM_StdMutex);

}  // namespace

int main(int argc, char** argv) {
  tvan::AutoLibInitialize init(tvan::VString("KEF_BENCH"));
  benchmark::Initialize(&argc, argv);
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  return 0;
}
