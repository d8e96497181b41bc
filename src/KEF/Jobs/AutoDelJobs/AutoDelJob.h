#pragma once
// The deletion job of the AUTODELETE workflow.
//
// Each execute() waits until a pass is due, runs one pass of the policy in
// its data (DeletionPass), reports it and sends "AUTODEL_DONE", or
// "AUTODEL_ERROR" after a pass that failed, and returns. The first pass is
// due at once, each later one IntervalSeconds after the previous one began.
//
// The wait happens inside execute(), on the controller thread, in slices of
// at most 100 ms. It ends early when the service is asked to finish or when a
// trigger waits on the controller's queue (a pause, a send), so those take
// effect at once whatever the interval; a running pass also stops within a
// second of a finish request. When it returns early without a pass it makes
// sure the workflow comes back to it: unless a deletion trigger is already
// queued it sends "AUTODEL_DONE" (a pause banks it, a resume pulls it, and
// the next execute() goes on waiting for the same due time). After a finish
// request it sends nothing: the cancel trigger moves the workflow on.
#include <cstdint>
#include <string>

#include "KEF/Jobs/AutoDelJobs/DeletionTotals.h"
#include "KEF/KEFCore/BaseJob.h"

namespace KEF {

class AutoDelJobData;

class AutoDelJob : public BaseJob {
 public:
  // Triggers the job sends.
  static const char kDoneTrigger[];   // "AUTODEL_DONE"
  static const char kErrorTrigger[];  // "AUTODEL_ERROR"

  AutoDelJob(BaseController* controller, AutoDelJobData* data, tvan::Log* log);
  ~AutoDelJob() override;

  void execute() override;

 protected:
  AutoDelJobData* autoDelJobData;  // the same object as `data`; not owned

 private:
  // Waits until the next pass is due; false when the wait was cut short.
  bool waitUntilDue();
  bool finishRequested() const;
  bool triggerWaiting() const;
  bool deletionTriggerQueued() const;
  // True when a pause waits on the queue with no resume after it.
  bool pauseQueued() const;
  // Runs one pass; true when it completed (or was stopped on request).
  bool runPass();
  // Reports the running totals, or the error of a failed pass.
  void reportPass(bool failed, const std::string& error, bool dryRun);
  // Keeps the running totals in the job data's Totals element.
  void storeTotals(bool failed, bool dryRun);
  // Logs what made a pass fail that its own error handling did not catch.
  void logFailure(const char* what);
  void sendTrigger(const char* name);

  int64_t nextDueMillis_;  // monotonic; 0: at once
  int32_t passes_;
  DeletionTotals totals_;  // running totals over every pass
};

}  // namespace KEF
