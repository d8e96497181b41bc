#pragma once
// The host: loads the plug-in, runs one service per service-data file and
// supervises them until they are told to finish and their workflows have
// ended.
//
// Supervision happens on the main thread, between waits for a signal:
//   SIGINT, SIGTERM  finish every service, then wait for every workflow
//                    (a second one stops the wait)
//   SIGUSR1, SIGUSR2 pause, resume every service
// and the limits of --for and --passes. The host also stops when every
// workflow has ended by itself.
#include <cstdio>
#include <memory>
#include <string>
#include <vector>

#include "Host/HostOptions.h"
#include "Host/HostServiceManager.h"
#include "Host/HostedService.h"
#include "Host/PluginLibrary.h"
#include "Host/ProgressWriter.h"
#include "Host/StatusFeed.h"

namespace kefhost {

class SignalWaiter;

class Host {
 public:
  // Progress lines go to `progress`, problems to standard error.
  Host(const HostOptions& options, SignalWaiter& signals, FILE* progress);

  Host(const Host&) = delete;
  Host& operator=(const Host&) = delete;

  // Loads the plug-in and reads the service-data files. False, after
  // saying why on standard error, when one cannot be used.
  bool load();
  // Runs the services to the end; the process's exit status (ExitCodes.h).
  // After load(), once the framework's configuration is settled.
  int run();

  // False when a controller thread survived its service's deletion: then
  // nothing the thread may still use (this object, the plug-in) may go, and
  // the process has to end without its destructors.
  bool safeToUnload() const { return safeToUnload_; }

 private:
  bool checkDatabase();
  bool createServices();
  bool startServices();
  void supervise();
  void finishAndWait();
  int conclude() const;
  void destroyServices();
  bool anyRunning() const;
  void say(const std::string& line) const;

  const HostOptions& options_;
  SignalWaiter& signals_;
  std::vector<ServiceRequest> requests_;  // until the services take them
  bool abandoned_ = false;
  bool safeToUnload_ = true;

  // In this order, so that the services go first (their threads use the
  // manager and the feed) and the plug-in's code last.
  PluginLibrary plugin_;
  ProgressWriter writer_;
  StatusFeed feed_;
  HostServiceManager manager_;
  std::vector<std::unique_ptr<HostedService>> services_;
};

}  // namespace kefhost
