#include "KEF/Jobs/AutoDelJobs/AutoDelJob.h"

#include <ace/Message_Queue.h>

#include <algorithm>
#include <chrono>
#include <cstring>
#include <exception>
#include <thread>

#include "Base/BaseTypes/Error.h"
#include "Base/BaseTypes/VString.h"
#include "Base/Log/Log.h"
#include "Base/System/FunctionMutex.h"
#include "Base/System/Platform/Clock.h"
#include "Base/XML/XmlDOM.h"
#include "KEF/Jobs/AutoDelJobs/AutoDelJobData.h"
#include "KEF/Jobs/AutoDelJobs/DeletionPass.h"
#include "KEF/Jobs/AutoDelJobs/DeletionPolicy.h"
#include "KEF/Jobs/AutoDelJobs/PassReport.h"
#include "KEF/KEFCore/BaseController.h"
#include "KEF/KEFCore/BaseFSMap.h"
#include "KEF/KEFCore/Trigger.h"

namespace KEF {

const char AutoDelJob::kDoneTrigger[] = "AUTODEL_DONE";
const char AutoDelJob::kErrorTrigger[] = "AUTODEL_ERROR";

namespace {

const char kFile[] = "AutoDelJob.cpp";

// How long one wait slice lasts: the job notices a finish request or a
// waiting trigger within this time.
constexpr int kSliceMillis = 100;
// Interval used when the policy could not be read.
constexpr double kFallbackIntervalSeconds = 600;

int64_t nowMillis() { return static_cast<int64_t>(tvan::platform::monotonicNanos() / 1000000); }

void sleepSlice(int64_t millis) {
  std::this_thread::sleep_for(std::chrono::milliseconds(std::max<int64_t>(1, millis)));
}

// Calls `visit(name)` for each trigger waiting on the queue, oldest first.
// Only the controller thread (the caller) takes blocks off the queue, so the
// blocks stay valid while it walks them; the iterator locks the queue for
// each step.
template <class Visit>
void forEachQueuedTrigger(BaseController* controller, Visit visit) {
  ACE_Message_Queue<ACE_MT_SYNCH>* queue = controller->msg_queue();
  if (queue == nullptr || queue->is_empty()) return;
  ACE_Message_Queue_Iterator<ACE_MT_SYNCH> iterator(*queue);
  for (ACE_Message_Block* block = nullptr; iterator.next(block) != 0; iterator.advance()) {
    visit(std::string(block->rd_ptr(), strnlen(block->rd_ptr(), block->length())));
  }
}

}  // namespace

AutoDelJob::AutoDelJob(BaseController* controller, AutoDelJobData* data, tvan::Log* log)
    : BaseJob(controller, data, log), autoDelJobData(data), nextDueMillis_(0), passes_(0) {}

AutoDelJob::~AutoDelJob() = default;

void AutoDelJob::execute() {
  if (!waitUntilDue()) {
    // Cut short by a trigger (pause, send) or a finish request. Unless the
    // workflow will come back here anyway, queue the way back: behind a
    // pause it is banked, and the resume pulls it.
    if (!finishRequested() && !deletionTriggerQueued()) sendTrigger(kDoneTrigger);
    return;
  }
  bool completed = false;
  try {
    completed = runPass();
  } catch (const tvan::Error& error) {
    tvan::VString text;
    error.constructMessage(text);
    logFailure(text.narrow().c_str());
  } catch (const char* text) {
    logFailure(text);
  } catch (const std::exception& error) {
    logFailure(error.what());
  }
  // A pass stopped by a finish request sends nothing: the cancel trigger
  // takes the workflow on to its closing job.
  if (finishRequested()) return;
  sendTrigger(completed ? kDoneTrigger : kErrorTrigger);
}

bool AutoDelJob::waitUntilDue() {
  for (;;) {
    if (finishRequested() || triggerWaiting()) return false;
    const int64_t left = nextDueMillis_ - nowMillis();
    if (left <= 0) return true;
    sleepSlice(std::min<int64_t>(left, kSliceMillis));
  }
}

bool AutoDelJob::finishRequested() const {
  return controller != nullptr && controller->isCancelRequested();
}

bool AutoDelJob::triggerWaiting() const {
  return controller != nullptr && controller->msg_queue() != nullptr &&
         !controller->msg_queue()->is_empty();
}

bool AutoDelJob::deletionTriggerQueued() const {
  bool queued = false;
  if (controller == nullptr) return false;
  forEachQueuedTrigger(controller, [&](const std::string& name) {
    if (name == kDoneTrigger || name == kErrorTrigger) queued = true;
  });
  return queued;
}

bool AutoDelJob::pauseQueued() const {
  // The last of the pause and resume triggers waiting decides.
  bool paused = false;
  if (controller == nullptr) return false;
  forEachQueuedTrigger(controller, [&](const std::string& name) {
    if (name == BaseFSMap::kPauseTrigger) paused = true;
    if (name == BaseFSMap::kResumeTrigger) paused = false;
  });
  return paused;
}

bool AutoDelJob::runPass() {
  const int64_t startedAt = nowMillis();
  ++passes_;
  updateRequestStatus("RUNNING");

  DeletionPolicy policy;
  std::string error;
  DeletionTotals pass;
  bool completed = DeletionPolicy::read(*data, policy, error);
  nextDueMillis_ = startedAt + static_cast<int64_t>(
                                   (completed ? policy.intervalSeconds : kFallbackIntervalSeconds) *
                                   1000);
  if (completed) {
    if (log != nullptr) {
      log->log(tvan::kDebug2, kFile, __LINE__, "AutoDelJob::execute()", "Pass %d starting%s",
               passes_, policy.dryRun ? " (dry run)" : "");
    }
    DeletionPass deletion(policy);
    // A finish request ends the pass; a pause waiting on the queue holds it
    // until the resume arrives (or the finish).
    deletion.setStopCheck([this] {
      while (!finishRequested() && pauseQueued()) sleepSlice(kSliceMillis);
      return finishRequested();
    });
    const bool dryRun = policy.dryRun;
    deletion.setOnDelete([this, dryRun](const std::string& path, uint64_t size) {
      if (log == nullptr) return;
      log->log(tvan::kDebug1, kFile, __LINE__, "AutoDelJob::execute()", "%s %s (%llu bytes)",
               dryRun ? "Would delete" : "Deleted", path.c_str(),
               static_cast<unsigned long long>(size));
    });
    completed = deletion.run(pass, error);
    if (deletion.wasStopped()) completed = true;  // stopped on request, not failed
  }
  totals_.add(pass);
  // The next pass is due an interval after this one began, and not before
  // this one ended.
  nextDueMillis_ = std::max(nextDueMillis_, nowMillis());
  reportPass(!completed, error, policy.dryRun);
  return completed;
}

void AutoDelJob::reportPass(bool failed, const std::string& error, bool dryRun) {
  const std::string detail = PassReport::errorDetail(totals_);
  const std::string summary = PassReport::summary(passes_, totals_, dryRun);
  storeTotals(failed, dryRun);
  if (failed) {
    if (log != nullptr) {
      log->log(tvan::kError, kFile, __LINE__, "AutoDelJob::execute()", "Pass %d failed: %s",
               passes_, error.c_str());
    }
    const std::string message = PassReport::escapeXml(error);
    // Kept as a status text, so that the closing report repeats it.
    data->setStatusMsg("ERROR", ("<StatusText>" + message + "</StatusText>").c_str());
    reportError(message.c_str(), detail.empty() ? nullptr : detail.c_str(), nullptr);
    return;
  }
  if (log != nullptr) {
    log->log(tvan::kInfo, kFile, __LINE__, "AutoDelJob::execute()", "%s", summary.c_str());
  }
  const std::string text = PassReport::statusText(passes_, totals_, dryRun, false);
  data->setStatusMsg("RUNNING", PassReport::escapeXml(summary).c_str());
  reportStatus("RUNNING", text.c_str(), nullptr, nullptr, detail.empty() ? nullptr : detail.c_str(),
               nullptr);
}

void AutoDelJob::storeTotals(bool failed, bool dryRun) {
  tvan::XmlDOM* document = data->getDocument();
  if (document == nullptr) return;
  tvan::FunctionMutex guard(document->mutex);
  document->resetActiveToRoot();
  int count = 0;
  document->findNodes("Totals", count, true);
  if (count == 0) {
    document->resetActiveToRoot();
    document->createNode("Totals", "", true);
  }
  for (const auto& figure : PassReport::figures(passes_, totals_, dryRun, failed)) {
    document->setAttribute(figure.first.c_str(), figure.second.c_str());
  }
  document->setAttribute("Summary", PassReport::summary(passes_, totals_, dryRun).c_str());
  document->resetActiveToRoot();
}

void AutoDelJob::logFailure(const char* what) {
  // The pass counts as failed; the workflow goes on with the next one.
  if (log != nullptr) {
    log->log(tvan::kError, kFile, __LINE__, "AutoDelJob::execute()", "Pass %d failed: %s",
             passes_, what != nullptr ? what : "");
  }
}

void AutoDelJob::sendTrigger(const char* name) {
  if (controller != nullptr) Trigger(name).send(controller);
}

}  // namespace KEF
