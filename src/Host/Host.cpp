#include "Host/Host.h"

#include <signal.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <map>

#include "Host/ExitCodes.h"
#include "Host/SignalWaiter.h"
#include "KEF/KEFCore/KEFMessage.h"

namespace kefhost {

namespace {

using Clock = std::chrono::steady_clock;

// How often the main thread looks at limits and workflows between signals.
constexpr long kTickMillis = 50;
// How often a long wait for workflows to end is mentioned.
constexpr std::chrono::seconds kWaitNoticeInterval(10);

ProgressWriter::Format formatOf(const HostOptions& options) {
  if (options.quiet) return ProgressWriter::Format::kNone;
  return options.json ? ProgressWriter::Format::kJson : ProgressWriter::Format::kText;
}

bool isStopSignal(int signal) { return signal == SIGINT || signal == SIGTERM; }

}  // namespace

Host::Host(const HostOptions& options, SignalWaiter& signals, FILE* progress)
    : options_(options),
      signals_(signals),
      writer_(progress, formatOf(options)),
      feed_(writer_, stderr),
      manager_(feed_) {}

int Host::run() {
  if (!checkDatabase() || !createServices()) {
    destroyServices();
    return kExitLoadError;
  }
  if (startServices()) supervise();
  finishAndWait();
  // Reports stored after the last notification, if any, still show.
  feed_.poll();
  const int status = conclude();
  destroyServices();
  return status;
}

bool Host::load() {
  std::string error;
  if (!plugin_.open(options_.pluginPath, error)) {
    say(error);
    return false;
  }
  for (size_t i = 0; i < options_.serviceDataFiles.size(); ++i) {
    ServiceRequest request;
    if (!ServiceRequest::load(options_.serviceDataFiles[i], static_cast<int>(i) + 1, request,
                              error)) {
      say(error);
      return false;
    }
    requests_.push_back(std::move(request));
  }
  // The reports of two services with one ServiceID could not be told apart.
  std::map<std::string, std::string> owners;
  for (const ServiceRequest& request : requests_) {
    const std::string id = request.givenServiceID();
    if (id.empty()) continue;
    const auto owner = owners.emplace(id, request.label());
    if (!owner.second) {
      say("service data " + request.file() + " repeats the ServiceID of " + owner.first->second +
          "; each service needs its own");
      return false;
    }
  }
  return true;
}

bool Host::checkDatabase() {
  const std::string databaseProblem = feed_.checkDatabase();
  if (!databaseProblem.empty()) {
    if (options_.passes > 0) {
      say("--passes counts the reports in the request database, which cannot be read: " +
          databaseProblem);
      return false;
    }
    say("the request database cannot be read, so no progress will show: " + databaseProblem);
  }
  return true;
}

bool Host::createServices() {
  // Unique per service, and per process among hosts sharing the database.
  const std::string host = "kefhost-" + std::to_string(::getpid()) + "-";
  for (ServiceRequest& request : requests_) {
    request.bind(&manager_, createServiceID(request.serviceName().c_str(),
                                            (host + std::to_string(request.index())).c_str()));
    feed_.watch(request.index(), request.serviceName(), request.serviceID());
    services_.push_back(std::make_unique<HostedService>(std::move(request), plugin_));
  }
  requests_.clear();
  // Every service is made and initialised before the first runs, so that a
  // bad one stops the host before anything has happened.
  for (const auto& service : services_) {
    std::string error;
    if (!service->create(error)) {
      say(service->request().labelWithFile() + ": " + error);
      return false;
    }
  }
  return true;
}

bool Host::startServices() {
  for (const auto& service : services_) {
    if (!service->start()) return false;
  }
  return true;
}

void Host::supervise() {
  const bool timeLimited = options_.forSeconds > 0;
  const Clock::time_point deadline =
      Clock::now() + std::chrono::duration_cast<Clock::duration>(
                         std::chrono::duration<double>(timeLimited ? options_.forSeconds : 0));
  for (;;) {
    const int signal = signals_.wait(kTickMillis);
    if (isStopSignal(signal)) return;
    if (signal == SIGUSR1) {
      for (const auto& service : services_) service->pause();
    } else if (signal == SIGUSR2) {
      for (const auto& service : services_) service->resume();
    }
    if (timeLimited && Clock::now() >= deadline) return;
    if (options_.passes > 0) {
      for (const auto& service : services_) {
        if (feed_.passes(service->request().index()) >= options_.passes) service->finish();
      }
    }
    if (!anyRunning()) return;
  }
}

void Host::finishAndWait() {
  for (const auto& service : services_) service->finish();
  Clock::time_point nextNotice = Clock::now() + kWaitNoticeInterval;
  while (anyRunning()) {
    if (isStopSignal(signals_.wait(kTickMillis))) {
      abandoned_ = true;
      return;
    }
    if (Clock::now() >= nextNotice) {
      std::string names;
      for (const auto& service : services_) {
        if (service->isRunning()) names += (names.empty() ? "" : ", ") + service->request().label();
      }
      say("waiting for the workflows of " + names +
          " to end (SIGINT or SIGTERM again stops waiting)");
      nextNotice += kWaitNoticeInterval;
    }
  }
}

int Host::conclude() const {
  int status = kExitOk;
  for (const auto& service : services_) {
    if (service->endedNormally()) continue;
    say(service->request().labelWithFile() + ": " + service->failureReason());
    status = kExitWorkflowFailed;
  }
  return abandoned_ ? kExitAbandoned : status;
}

void Host::destroyServices() {
  for (const auto& service : services_) {
    if (service->destroy()) continue;
    say(service->request().labelWithFile() +
        ": its controller thread could not be stopped; the plug-in stays loaded");
    safeToUnload_ = false;
    plugin_.leaveLoaded();
  }
}

bool Host::anyRunning() const {
  for (const auto& service : services_) {
    if (service->isRunning()) return true;
  }
  return false;
}

void Host::say(const std::string& line) const {
  std::fprintf(stderr, "kefhost: %s\n", line.c_str());
  std::fflush(stderr);
}

}  // namespace kefhost
