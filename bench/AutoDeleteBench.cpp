// A deletion pass against find(1) on identical generated trees: deleting the
// files older than 30 days, and only examining them (a dry run against a
// find that lists them). With --million it also measures the peak memory of
// a pass over 1,000,000 files, in a child process of its own.
#include <benchmark/benchmark.h>
#include <fcntl.h>
#include <ftw.h>
#include <spawn.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <thread>
#include <vector>

#include "KEF/Jobs/AutoDelJobs/DeletionPass.h"
#include "RateReporter.h"

extern char** environ;

namespace {

// The compared trees: 10 folders of 10 folders of 1,000 files.
constexpr int kTopFolders = 10;
constexpr int kSubFolders = 10;
constexpr int kFilesPerFolder = 1000;
constexpr int kMillionSubFolders = 100;  // the same shape, ten times wider
constexpr double kMaxAgeDays = 30;

std::string scratch;  // a folder in /tmp for every tree of the run

// Builds root/tNN/sNN/fNNNN for the top folders first, first+step, ...:
// every fifth file a day old, the others 40 days. Returns the number of old
// files.
uint64_t generateTopFolders(const std::string& root, int subFolders, int first, int step) {
  const time_t now = ::time(nullptr);
  const timespec oldTimes[2] = {{now - 40 * 86400, 0}, {now - 40 * 86400, 0}};
  const timespec newTimes[2] = {{now - 86400, 0}, {now - 86400, 0}};
  uint64_t old = 0;
  char name[32];
  for (int t = first; t < kTopFolders; t += step) {
    const std::string top = root + "/t" + std::to_string(t);
    ::mkdir(top.c_str(), 0755);
    for (int s = 0; s < subFolders; ++s) {
      const std::string sub = top + "/s" + std::to_string(s);
      ::mkdir(sub.c_str(), 0755);
      const int dirFd = ::open(sub.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
      for (int f = 0; f < kFilesPerFolder; ++f) {
        std::snprintf(name, sizeof(name), "f%04d", f);
        const int fd = ::openat(dirFd, name, O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0644);
        const bool isOld = f % 5 != 0;
        ::futimens(fd, isOld ? oldTimes : newTimes);
        ::close(fd);
        old += isOld;
      }
      ::close(dirFd);
    }
  }
  return old;
}

// The whole tree, on two threads: creating files is slow on some file
// systems and is not what is measured.
uint64_t generateTree(const std::string& root, int subFolders) {
  ::mkdir(root.c_str(), 0755);
  uint64_t oddOld = 0;
  std::thread odd([&] { oddOld = generateTopFolders(root, subFolders, 1, 2); });
  const uint64_t evenOld = generateTopFolders(root, subFolders, 0, 2);
  odd.join();
  return evenOld + oddOld;
}

int removeEntry(const char* path, const struct stat*, int type, struct FTW*) {
  return type == FTW_DP ? ::rmdir(path) : ::unlink(path);
}

void removeTree(const std::string& root) {
  ::nftw(root.c_str(), removeEntry, 64, FTW_DEPTH | FTW_PHYS);
}

uint64_t regularFiles = 0;
int countRegular(const char*, const struct stat*, int type, struct FTW*) {
  regularFiles += type == FTW_F;
  return 0;
}

uint64_t countFiles(const std::string& root) {
  regularFiles = 0;
  ::nftw(root.c_str(), countRegular, 64, FTW_PHYS);
  return regularFiles;
}

double secondsSince(std::chrono::steady_clock::time_point start) {
  return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
}

// Runs find with `arguments`, its output to /dev/null; its exit status.
int runFind(const std::vector<std::string>& arguments) {
  std::vector<char*> argv;
  argv.push_back(const_cast<char*>("find"));
  for (const std::string& argument : arguments) argv.push_back(const_cast<char*>(argument.c_str()));
  argv.push_back(nullptr);
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_addopen(&actions, STDOUT_FILENO, "/dev/null", O_WRONLY, 0);
  pid_t pid = 0;
  const int spawned = ::posix_spawnp(&pid, "find", &actions, nullptr, argv.data(), environ);
  posix_spawn_file_actions_destroy(&actions);
  int status = 0;
  if (spawned != 0 || ::waitpid(pid, &status, 0) != pid) return -1;
  return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

KEF::DeletionPolicy policyFor(const std::string& root, bool dryRun) {
  KEF::DeletionPolicy policy;
  policy.roots = {root};
  policy.maxAgeDays = kMaxAgeDays;
  policy.dryRun = dryRun;
  return policy;
}

// Generation and clean-up are outside the measured time; the tree's
// metadata is written back first, so that neither side pays for the other's.
template <class Delete>
void measureDeletion(benchmark::State& state, Delete deleteOld) {
  const std::string root = scratch + "/delete";
  uint64_t deleted = 0;
  for (auto _ : state) {
    const uint64_t old = generateTree(root, kSubFolders);
    ::sync();
    const auto start = std::chrono::steady_clock::now();
    const bool ok = deleteOld(root);
    state.SetIterationTime(secondsSince(start));
    const uint64_t left = countFiles(root);
    removeTree(root);
    if (!ok || left != kTopFolders * kSubFolders * kFilesPerFolder - old) {
      state.SkipWithError("the old files were not deleted as expected");
      return;
    }
    deleted += old;
  }
  state.SetItemsProcessed(static_cast<int64_t>(deleted));
  state.counters["deleted"] =
      benchmark::Counter(static_cast<double>(deleted), benchmark::Counter::kIsRate);
}

void BM_PassDelete(benchmark::State& state) {
  measureDeletion(state, [](const std::string& root) {
    KEF::DeletionTotals totals;
    std::string error;
    return KEF::DeletionPass(policyFor(root, false)).run(totals, error);
  });
}

void BM_FindDelete(benchmark::State& state) {
  measureDeletion(state, [](const std::string& root) {
    return runFind({root, "-type", "f", "-mtime", "+30", "-delete"}) == 0;
  });
}

// Both scans read the same tree, made once.
const std::string& scanTree() {
  static const std::string root = [] {
    const std::string path = scratch + "/scan";
    generateTree(path, kSubFolders);
    ::sync();
    return path;
  }();
  return root;
}

template <class Scan>
void measureScan(benchmark::State& state, Scan scan) {
  const std::string& root = scanTree();
  scan(root);  // the same warm caches for both
  for (auto _ : state) {
    const auto start = std::chrono::steady_clock::now();
    if (!scan(root)) {
      state.SkipWithError("the scan failed");
      return;
    }
    state.SetIterationTime(secondsSince(start));
  }
  const int64_t examined = state.iterations() * kTopFolders * kSubFolders * kFilesPerFolder;
  state.SetItemsProcessed(examined);
  state.counters["examined"] =
      benchmark::Counter(static_cast<double>(examined), benchmark::Counter::kIsRate);
}

void BM_PassDryRun(benchmark::State& state) {
  measureScan(state, [](const std::string& root) {
    KEF::DeletionTotals totals;
    std::string error;
    const bool ok = KEF::DeletionPass(policyFor(root, true)).run(totals, error);
    return ok && totals.scanned == kTopFolders * kSubFolders * kFilesPerFolder;
  });
}

void BM_FindList(benchmark::State& state) {
  measureScan(state, [](const std::string& root) {
    return runFind({root, "-type", "f", "-mtime", "+30"}) == 0;
  });
}

// The peak resident memory a pass adds, in MB, measured in a child so that
// nothing the benchmark program did before counts; negative on failure.
double passPeakMegabytes(const std::string& root) {
  int channel[2];
  if (::pipe(channel) != 0) return -1;
  std::fflush(nullptr);
  const pid_t pid = ::fork();
  if (pid == 0) {
    rusage before{}, after{};
    ::getrusage(RUSAGE_SELF, &before);
    KEF::DeletionTotals totals;
    std::string error;
    const bool ok = KEF::DeletionPass(policyFor(root, false)).run(totals, error);
    ::getrusage(RUSAGE_SELF, &after);
    const double megabytes = ok ? (after.ru_maxrss - before.ru_maxrss) / 1024.0 : -1;
    const ssize_t written = ::write(channel[1], &megabytes, sizeof(megabytes));
    ::_exit(written == sizeof(megabytes) ? 0 : 1);
  }
  ::close(channel[1]);
  double megabytes = -1;
  if (::read(channel[0], &megabytes, sizeof(megabytes)) != sizeof(megabytes)) megabytes = -1;
  ::close(channel[0]);
  int status = 0;
  ::waitpid(pid, &status, 0);
  return megabytes;
}

double millionPeakMegabytes = -1;
double millionSeconds = 0;

void BM_PassPeakMemoryMillion(benchmark::State& state) {
  const std::string root = scratch + "/million";
  for (auto _ : state) {
    state.PauseTiming();
    generateTree(root, kMillionSubFolders);
    ::sync();
    state.ResumeTiming();
    const auto start = std::chrono::steady_clock::now();
    millionPeakMegabytes = passPeakMegabytes(root);
    millionSeconds = secondsSince(start);
    state.PauseTiming();
    removeTree(root);
    state.ResumeTiming();
  }
  state.counters["peak_MB"] = millionPeakMegabytes;
}

const char kPassDelete[] = "BM_PassDelete/iterations:3/manual_time";
const char kFindDelete[] = "BM_FindDelete/iterations:3/manual_time";
const char kPassDryRun[] = "BM_PassDryRun/iterations:5/manual_time";
const char kFindList[] = "BM_FindList/iterations:5/manual_time";

}  // namespace

BENCHMARK(BM_PassDelete)->Iterations(3)->UseManualTime()->Unit(benchmark::kMillisecond);
BENCHMARK(BM_FindDelete)->Iterations(3)->UseManualTime()->Unit(benchmark::kMillisecond);
BENCHMARK(BM_PassDryRun)->Iterations(5)->UseManualTime()->Unit(benchmark::kMillisecond);
BENCHMARK(BM_FindList)->Iterations(5)->UseManualTime()->Unit(benchmark::kMillisecond);

int main(int argc, char** argv) {
  // --million: also the memory of a pass over a million files (a few
  // minutes, mostly making and removing the files).
  bool million = false;
  int kept = 1;
  for (int i = 1; i < argc; ++i) {
    if (std::strcmp(argv[i], "--million") == 0) {
      million = true;
    } else {
      argv[kept++] = argv[i];
    }
  }
  argc = kept;
  if (million) {
    benchmark::RegisterBenchmark("BM_PassPeakMemoryMillion", BM_PassPeakMemoryMillion)
        ->Iterations(1)
        ->Unit(benchmark::kSecond);
  }
  char folder[] = "/tmp/kef_autodelete_bench_XXXXXX";
  if (::mkdtemp(folder) == nullptr) return 1;
  scratch = folder;

  benchmark::Initialize(&argc, argv);
  RateReporter reporter;
  benchmark::RunSpecifiedBenchmarks(&reporter);
  reporter.printRatio(kPassDelete, kFindDelete, "rate ratio", "files deleted/s");
  reporter.printRatio(kPassDryRun, kFindList, "rate ratio", "files examined/s");
  if (million) {
    std::printf("pass over 1,000,000 files: peak memory %.1f MB above the process's own, %.1f s\n",
                millionPeakMegabytes, millionSeconds);
  }
  removeTree(scratch);
  benchmark::Shutdown();
  return 0;
}
