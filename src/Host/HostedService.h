#pragma once
// One service the host runs: its request, the plug-in's service object and
// what the host asked of it.
//
// Lifecycle: create() (the plug-in's create_service and the service's
// initialize), start() (run), then pause/resume/finish as asked, and
// destroy() (the plug-in's delete_service). Only the main thread calls
// these; the workflow runs on the service's controller thread.
#include <cstdint>
#include <string>

#include "Host/ServiceRequest.h"

namespace KEF {
class BaseService;
}

namespace kefhost {

class PluginLibrary;

class HostedService {
 public:
  HostedService(ServiceRequest request, const PluginLibrary& plugin);
  // Destroys a service that destroy() did not.
  ~HostedService();

  HostedService(const HostedService&) = delete;
  HostedService& operator=(const HostedService&) = delete;

  const ServiceRequest& request() const { return request_; }

  // False, with `error`, when the plug-in made no service or its
  // initialize failed.
  bool create(std::string& error);
  // Starts the workflow. False when it did not start; failureReason() then
  // says why.
  bool start();

  // The workflow's controller thread runs.
  bool isRunning() const;
  bool wasStarted() const { return started_; }
  bool isFinishRequested() const { return finishRequested_; }

  // Pause and resume only what the host paused: a resume the workflow does
  // not expect would be a trigger without a transition, which ends it.
  void pause();
  void resume();
  // Asks the workflow to end; a service the host paused is resumed first,
  // or its finish would wait behind the pause.
  void finish();

  // After the controller thread ended: whether the workflow reached its
  // terminal state, and otherwise a reason ("workflow ended in state X,
  // not DONE").
  bool endedNormally() const;
  std::string failureReason() const;

  // Deletes the service through the plug-in (which waits for, or stops, a
  // controller thread still running). False when its controller thread
  // still exists afterwards.
  bool destroy();

 private:
  std::string currentState() const;

  ServiceRequest request_;
  const PluginLibrary& plugin_;
  KEF::BaseService* service_ = nullptr;
  bool started_ = false;
  std::string startError_ = "not started: an earlier service did not start";
  bool paused_ = false;
  bool finishRequested_ = false;
};

}  // namespace kefhost
