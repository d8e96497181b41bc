#include "Host/HostedService.h"

#include <signal.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <vector>

#include "Host/ExceptionText.h"
#include "Host/PluginLibrary.h"
#include "KEF/KEFCore/BaseController.h"
#include "KEF/KEFCore/BaseService.h"

namespace kefhost {

namespace {

bool threadExists(uint32_t threadId) {
  return threadId != 0 && ::syscall(SYS_tgkill, ::getpid(), static_cast<pid_t>(threadId), 0) == 0;
}

}  // namespace

HostedService::HostedService(ServiceRequest request, const PluginLibrary& plugin)
    : request_(std::move(request)), plugin_(plugin) {}

HostedService::~HostedService() { destroy(); }

bool HostedService::create(std::string& error) {
  try {
    service_ = plugin_.createService();
  } catch (...) {
    error = "the plug-in's create_service failed: " + currentExceptionText();
    return false;
  }
  if (service_ == nullptr) {
    error = "the plug-in's create_service made no service";
    return false;
  }
  service_->setServiceName(request_.serviceName());
  std::string text = request_.text();
  // initialize takes a writable text (the framework's interface).
  std::vector<char> data(text.begin(), text.end());
  data.push_back('\0');
  try {
    service_->initialize(data.data());
  } catch (...) {
    error = "initialize failed: " + currentExceptionText();
    return false;
  }
  return true;
}

bool HostedService::start() {
  int result = -1;
  try {
    result = service_->run();
  } catch (...) {
    startError_ = "workflow did not start: " + currentExceptionText();
    return false;
  }
  if (result != 0) {
    startError_ = "workflow did not start: the service has none (run returned " +
                  std::to_string(result) + ")";
    return false;
  }
  started_ = true;
  return true;
}

bool HostedService::isRunning() const {
  return service_ != nullptr && started_ && service_->isControllerThreadAlive();
}

void HostedService::pause() {
  if (paused_ || !isRunning()) return;
  service_->pause();
  paused_ = true;
}

void HostedService::resume() {
  if (!paused_ || !isRunning()) return;
  service_->resume();
  paused_ = false;
}

void HostedService::finish() {
  if (finishRequested_ || !isRunning()) return;
  resume();
  service_->finish();
  finishRequested_ = true;
}

std::string HostedService::currentState() const {
  KEF::BaseController* controller = service_->getController();
  if (controller == nullptr) return std::string();
  const KEF::State* state = controller->getFSM().getCurrentState();
  return state != nullptr ? state->name : std::string();
}

bool HostedService::endedNormally() const {
  if (!started_ || isRunning()) return false;
  KEF::BaseController* controller = service_->getController();
  return controller != nullptr && currentState() == controller->getFSM().getTerminalState();
}

std::string HostedService::failureReason() const {
  if (!started_) return startError_;
  if (isRunning()) return "workflow still running when the host stopped waiting";
  KEF::BaseController* controller = service_->getController();
  if (controller == nullptr) return "service has no workflow";
  const std::string state = currentState();
  return "workflow ended in state " + (state.empty() ? std::string("(none)") : state) + ", not " +
         controller->getFSM().getTerminalState();
}

bool HostedService::destroy() {
  if (service_ == nullptr) return true;
  KEF::BaseController* controller = service_->getController();
  const uint32_t threadId = controller != nullptr ? controller->getThreadId() : 0;
  plugin_.deleteService(service_);
  service_ = nullptr;
  return !threadExists(threadId);
}

}  // namespace kefhost
