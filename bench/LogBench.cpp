// Entries per second of the log writer, side by side with spdlog's file sink
// writing an equivalent line, and the cost of a call whose level is masked out.
#include <benchmark/benchmark.h>
#include <spdlog/sinks/basic_file_sink.h>
#include <spdlog/spdlog.h>
#include <stdlib.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <string>

#include "Base/BaseTypes/AutoLibInitialize.h"
#include "Base/BaseTypes/VString.h"
#include "Base/Log/Log.h"
#include "Base/System/Platform/SharedCounter.h"

namespace {

// A private directory for the files of this run, removed at exit.
const std::string& benchDir() {
  static const std::string dir = [] {
    char pattern[] = "/tmp/tvan_log_bench.XXXXXX";
    const char* made = ::mkdtemp(pattern);
    std::string path = made ? made : "/tmp";
    static const std::string removeCommand = "rm -rf '" + path + "'";
    std::atexit([] {
      if (std::system(removeCommand.c_str()) != 0) std::fputs("could not remove bench files\n", stderr);
    });
    return path;
  }();
  return dir;
}

std::string benchFile(const std::string& name) {
  const std::string path = benchDir() + "/" + name;
  ::unlink(path.c_str());
  ::unlink((path + ".old").c_str());
  return path;
}

// Settings: file location only, flush always off, no rollover during a run.
constexpr int kMaxSizeMillions = 2000;

void useBenchMutex() {
  static const bool set = [] {
    tvan::Log::SetMutexName("TVAN_LOG_BENCH_" + std::to_string(::getpid()));
    return true;
  }();
  (void)set;
}

void BM_LogOneProcess(benchmark::State& state) {
  useBenchMutex();
  tvan::Log log(benchFile("one.log").c_str(), 0xFF, tvan::kLocationFile, kMaxSizeMillions, false, false);
  log.setComponentName("Bench");
  int i = 0;
  for (auto _ : state) {
    log.log(tvan::kInfo, __FILE__, __LINE__, "BM_LogOneProcess", "entry %d of the benchmark, value %s", ++i,
            "abcdef");
  }
  state.SetItemsProcessed(state.iterations());
}
BENCHMARK(BM_LogOneProcess);

void BM_SpdlogFileSink(benchmark::State& state) {
  auto sink = std::make_shared<spdlog::sinks::basic_file_sink_mt>(benchFile("spdlog.log"), true);
  spdlog::logger logger("Bench", sink);
  logger.set_pattern("%Y/%m/%d %H:%M:%S.%e\t%n\t%P\t%t\t%s\t%#\t%!\t%l:\t%v");
  logger.set_level(spdlog::level::trace);
  int i = 0;
  for (auto _ : state) {
    logger.log(spdlog::source_loc{__FILE__, __LINE__, "BM_SpdlogFileSink"}, spdlog::level::info,
               "entry {} of the benchmark, value {}", ++i, "abcdef");
  }
  logger.flush();
  state.SetItemsProcessed(state.iterations());
}
BENCHMARK(BM_SpdlogFileSink);

// `processes` children write `perProcess` entries each to one file; the
// time is the wall time from the first fork to the last child's exit.
void writeFromProcesses(benchmark::State& state, int processes, int perProcess) {
  useBenchMutex();
  for (auto _ : state) {
    const std::string path = benchFile("shared.log");
    const auto start = std::chrono::steady_clock::now();
    for (int p = 0; p < processes; ++p) {
      if (::fork() == 0) {
        tvan::Log log(path.c_str(), 0xFF, tvan::kLocationFile, kMaxSizeMillions, false, false);
        log.setComponentName("Bench");
        for (int i = 0; i < perProcess; ++i) {
          log.log(tvan::kInfo, __FILE__, __LINE__, "writeFromProcesses", "entry %d of the benchmark, value %s", i,
                  "abcdef");
        }
        ::_exit(0);
      }
    }
    for (int p = 0; p < processes; ++p) ::wait(nullptr);
    const std::chrono::duration<double> elapsed = std::chrono::steady_clock::now() - start;
    state.SetIterationTime(elapsed.count());
  }
  state.SetItemsProcessed(state.iterations() * processes * perProcess);
}

void BM_LogProcesses(benchmark::State& state) {
  writeFromProcesses(state, static_cast<int>(state.range(0)), 1000000 / static_cast<int>(state.range(0)));
}
BENCHMARK(BM_LogProcesses)->Arg(1)->Arg(4)->UseManualTime()->Iterations(3)->Unit(benchmark::kMillisecond);

void BM_LogMaskedOut(benchmark::State& state) {
  useBenchMutex();
  tvan::Log log(benchFile("masked.log").c_str(), tvan::kError, tvan::kLocationFile, kMaxSizeMillions, false,
                false);
  int i = 0;
  for (auto _ : state) {
    log.log(tvan::kDebug4, __FILE__, __LINE__, "BM_LogMaskedOut", "never written %d", ++i);
  }
}
BENCHMARK(BM_LogMaskedOut);

// A configured log whose settings are fresh: the interval test reads the
// clock (no system call), then the mask.
void BM_LogMaskedOutConfigured(benchmark::State& state) {
  useBenchMutex();
  const std::string config = benchFile("config.xml");
  FILE* out = std::fopen(config.c_str(), "w");
  if (!out) {
    state.SkipWithError("cannot write the configuration");
    return;
  }
  std::fprintf(out,
               "<?xml version=\"1.0\"?>\n<Root><Log><LogFile>%s</LogFile><LevelMask>0x2</LevelMask>"
               "<LocationMask>0x1</LocationMask><MaximumSize>5</MaximumSize><FlushAlways>no</FlushAlways>"
               "<UpdateTime>600</UpdateTime></Log></Root>\n",
               benchFile("configured.log").c_str());
  std::fclose(out);
  tvan::Log log(config.c_str(), tvan::kConfigFileLog);
  log.log(tvan::kDebug4, __FILE__, __LINE__, "BM_LogMaskedOutConfigured", "reads the settings");
  int i = 0;
  for (auto _ : state) {
    log.log(tvan::kDebug4, __FILE__, __LINE__, "BM_LogMaskedOutConfigured", "never written %d", ++i);
  }
}
BENCHMARK(BM_LogMaskedOutConfigured);

}  // namespace

int main(int argc, char** argv) {
  // The configured log parses XML, which needs the library initialised.
  tvan::AutoLibInitialize init(tvan::VString("KEF_BENCH"), false, false);
  benchmark::Initialize(&argc, argv);
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  tvan::platform::SharedCounter::removeName(tvan::mutexName);
  return 0;
}
