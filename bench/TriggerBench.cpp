// Triggers per second through a real controller thread (Trigger::send, the
// svc loop with its per-wait time-out lookup, the state machine, a job),
// side by side with a bare ACE queue moving blocks of the same size.
//
//   Controller/SelfEcho   the job re-sends its own trigger; the controller
//                         thread sends and takes every trigger itself.
//   BareQueue/OneThread   its counterpart: allocate, copy, enqueue, dequeue,
//                         release on one thread.
//   Controller/PingPong   the benchmark thread sends a trigger, the job
//                         answers on a reply queue: two thread crossings per
//                         round trip.
//   BareQueue/PingPong    its counterpart: two threads, two queues.
//   Controller/TimeoutLookup  the configuration lookup the controller makes
//                         before every wait on its queue, alone.
//
// The controller's service has a configured time-out of 60 seconds (no wait
// times out) and its log writes errors and warnings only.
#include <ace/Message_Block.h>
#include <ace/Message_Queue_T.h>
#include <ace/Thread_Manager.h>
#include <benchmark/benchmark.h>
#include <sched.h>
#include <stdlib.h>
#include <sys/mman.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <map>
#include <mutex>
#include <string>
#include <thread>

#include "Base/BaseTypes/AutoLibInitialize.h"
#include "Base/BaseTypes/VString.h"
#include "Base/Log/Log.h"
#include "Base/System/GeneralConfiguration.h"
#include "Base/System/Platform/NamedMutex.h"
#include "Base/System/Platform/SharedCounter.h"
#include "KEF/KEFCore/BaseController.h"
#include "KEF/KEFCore/BaseJob.h"
#include "KEF/KEFCore/BaseJobData.h"
#include "KEF/KEFCore/Trigger.h"

#include "RateReporter.h"

namespace {

using Queue = ACE_Message_Queue<ACE_MT_SYNCH>;

// Twelve characters and the NUL: the block size of every variant.
constexpr char kEcho[] = "ECHO_TRIGGER";
constexpr char kStop[] = "STOP_TRIGGER";
constexpr size_t kBlockSize = sizeof(kEcho);
constexpr char kServiceName[] = "TRIGGER_BENCH";
// Round trips per iteration of the self-echo variant: enough that the two
// thread hand-overs of each iteration do not count.
constexpr int kBatch = 100000;

ACE_Message_Block* newBlock(const char* name) {
  ACE_Message_Block* block = new ACE_Message_Block(kBlockSize);
  block->copy(name, kBlockSize);
  return block;
}

// Runs each time its state is entered. Self-echo: re-sends the trigger until
// the batch is used up, then wakes the waiting benchmark thread. Ping-pong:
// answers every trigger on the reply queue.
class EchoJob : public KEF::BaseJob {
 public:
  EchoJob(KEF::BaseController* controller, KEF::BaseJobData* data)
      : BaseJob(controller, data, nullptr) {}

  void execute() override {
    if (replies_ != nullptr) {
      replies_->enqueue_tail(newBlock(kEcho));
      return;
    }
    if (--remaining_ > 0) {
      KEF::Trigger(kEcho).send(controller);
      return;
    }
    std::lock_guard<std::mutex> hold(mutex_);
    batchDone_ = true;
    done_.notify_one();
  }

  // Sends the first trigger of a batch and waits until the job saw the last.
  void runBatch(int roundTrips) {
    remaining_ = roundTrips;
    {
      std::lock_guard<std::mutex> hold(mutex_);
      batchDone_ = false;
    }
    KEF::Trigger(kEcho).send(controller);
    std::unique_lock<std::mutex> hold(mutex_);
    done_.wait(hold, [this] { return batchDone_; });
  }

  void answerOn(Queue* replies) { replies_ = replies; }

 private:
  Queue* replies_ = nullptr;  // not owned; null: self-echo
  int remaining_ = 0;         // controller thread only, between batches
  std::mutex mutex_;
  std::condition_variable done_;
  bool batchDone_ = false;    // guarded by mutex_
};

// IDLE -ECHO-> ECHO -ECHO-> ECHO; STOP from either ends in DONE.
class EchoController : public KEF::BaseController {
 public:
  explicit EchoController(tvan::Log* log)
      : BaseController(ACE_Thread_Manager::instance(), log), job(this, &data) {
    fsm.log = log;
    fsm.defineState("IDLE");
    fsm.defineState("ECHO", &job, &KEF::BaseJob::execute, 1);
    fsm.defineState("DONE");
    fsm.defineInitial("IDLE");
    fsm.defineTerminate("DONE");
    fsm.defineTransition("IDLE", kEcho, "ECHO");
    fsm.defineTransition("ECHO", kEcho, "ECHO");
    fsm.defineTransition("IDLE", kStop, "DONE");
    fsm.defineTransition("ECHO", kStop, "DONE");
    setServiceName(kServiceName);
  }

  KEF::BaseJobData data;
  EchoJob job;
};

// The scratch configuration, the service's log and one running controller,
// shared by the controller variants.
class Rig {
 public:
  Rig() {
    char pattern[] = "/tmp/kef_trigger_bench.XXXXXX";
    dir_ = ::mkdtemp(pattern) != nullptr ? pattern : "/tmp";
    ::setenv("TVAN_REGISTRY_FILE", (dir_ + "/registry").c_str(), 1);
    ::setenv("KEF_CONFIGURATION", dir_.c_str(), 1);
    std::ofstream(dir_ + "/KEFConfiguration.xml")
        << "<KEFPrefs><VolumePrefs/><SupportedServices><" << kServiceName
        << " ENABLED=\"1\" timeOut=\"60\"/></SupportedServices><StatFile>" << dir_
        << "/statistics.log</StatFile><Log><LogFile>" << dir_
        << "/kef.log</LogFile><LevelMask>0x7</LevelMask><LocationMask>0x1</LocationMask>"
           "<MaximumSize>5</MaximumSize><UpdateTime>60</UpdateTime></Log></KEFPrefs>";
    tvan::Log::SetMutexName("KEF_TRIGGER_BENCH_" + std::to_string(::getpid()));
  }

  // Stops the controller (its thread drains the queue for a second after the
  // terminal state) and removes the scratch files; before the library ends.
  void finish() {
    if (controller_ != nullptr) {
      KEF::Trigger(kStop).send(controller_);
      while (controller_->isThreadManaged()) {
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
      }
      const uint32_t tid = controller_->getThreadId();
      while (::syscall(SYS_tgkill, ::getpid(), static_cast<pid_t>(tid), 0) == 0) {
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
      }
      delete controller_;
      controller_ = nullptr;
      delete log_;
      log_ = nullptr;
    }
    tvan::platform::SharedCounter::removeName(tvan::mutexName);
    ::shm_unlink(tvan::platform::sharedObjectName(tvan::VString(tvan::mutexName).wide()).c_str());
    const std::string command = "rm -rf '" + dir_ + "'";
    if (std::system(command.c_str()) != 0) std::fputs("could not remove bench files\n", stderr);
  }

  // Started on first use, so that the bare variants run without it.
  EchoController& controller() {
    if (controller_ == nullptr) {
      log_ = new tvan::Log(nullptr, tvan::kConfigFileLog);
      log_->setComponentName("KEFCore");
      controller_ = new EchoController(log_);
      controller_->open(nullptr);
    }
    return *controller_;
  }

 private:
  std::string dir_;
  tvan::Log* log_ = nullptr;                // owned
  EchoController* controller_ = nullptr;    // owned
};

Rig* rig = nullptr;

void BM_ControllerSelfEcho(benchmark::State& state) {
  EchoController& controller = rig->controller();
  controller.job.answerOn(nullptr);
  for (auto _ : state) controller.job.runBatch(kBatch);
  state.SetItemsProcessed(state.iterations() * kBatch);
}
BENCHMARK(BM_ControllerSelfEcho)->Name("Controller/SelfEcho")->UseRealTime();

void BM_BareQueueOneThread(benchmark::State& state) {
  Queue queue;
  queue.high_water_mark(KEF::BaseController::kQueueHighWaterMark);
  for (auto _ : state) {
    queue.enqueue_tail(newBlock(kEcho));
    ACE_Message_Block* block = nullptr;
    queue.dequeue_head(block);
    benchmark::DoNotOptimize(block->rd_ptr()[0]);
    block->release();
  }
  state.SetItemsProcessed(state.iterations());
}
BENCHMARK(BM_BareQueueOneThread)->Name("BareQueue/OneThread")->UseRealTime();

void BM_ControllerPingPong(benchmark::State& state) {
  EchoController& controller = rig->controller();
  Queue replies;
  controller.job.answerOn(&replies);
  for (auto _ : state) {
    KEF::Trigger(kEcho).send(&controller);
    ACE_Message_Block* block = nullptr;
    replies.dequeue_head(block);
    block->release();
  }
  controller.job.answerOn(nullptr);
  state.SetItemsProcessed(state.iterations());
}
BENCHMARK(BM_ControllerPingPong)->Name("Controller/PingPong")->UseRealTime();

void BM_BareQueuePingPong(benchmark::State& state) {
  Queue requests, replies;
  std::thread echo([&] {
    for (;;) {
      ACE_Message_Block* block = nullptr;
      requests.dequeue_head(block);
      const bool stop = std::strcmp(block->rd_ptr(), kStop) == 0;
      block->release();
      if (stop) return;
      replies.enqueue_tail(newBlock(kEcho));
    }
  });
  for (auto _ : state) {
    requests.enqueue_tail(newBlock(kEcho));
    ACE_Message_Block* block = nullptr;
    replies.dequeue_head(block);
    block->release();
  }
  requests.enqueue_tail(newBlock(kStop));
  echo.join();
  state.SetItemsProcessed(state.iterations());
}
BENCHMARK(BM_BareQueuePingPong)->Name("BareQueue/PingPong")->UseRealTime();

void BM_ControllerTimeoutLookup(benchmark::State& state) {
  for (auto _ : state) {
    tvan::GeneralConfiguration configuration;
    benchmark::DoNotOptimize(configuration.getServicesTimeout(kServiceName));
  }
  state.SetItemsProcessed(state.iterations());
}
BENCHMARK(BM_ControllerTimeoutLookup)->Name("Controller/TimeoutLookup")->UseRealTime();

}  // namespace

int main(int argc, char** argv) {
  // Every thread on one processor: the variants compare code paths, and the
  // processors of a shared virtual machine can differ twofold in speed,
  // which decided the ratio by where each thread happened to run.
  cpu_set_t one;
  CPU_ZERO(&one);
  CPU_SET(std::max(0, sched_getcpu()), &one);
  sched_setaffinity(0, sizeof one, &one);
  Rig scratch;  // before the library reads any configuration
  rig = &scratch;
  tvan::AutoLibInitialize init(tvan::VString("KEF_BENCH"), false, false);
  benchmark::Initialize(&argc, argv);
  RateReporter reporter;
  benchmark::RunSpecifiedBenchmarks(&reporter);
  // How many times longer a controller round trip takes than a bare one.
  reporter.printRatio("Controller/SelfEcho/real_time", "BareQueue/OneThread/real_time",
                      "cost ratio", "triggers/s", true);
  reporter.printRatio("Controller/PingPong/real_time", "BareQueue/PingPong/real_time",
                      "cost ratio", "triggers/s", true);
  benchmark::Shutdown();
  scratch.finish();
  return 0;
}
