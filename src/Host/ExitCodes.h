#pragma once
// The exit status of kefhost, as the usage text and the service unit's
// restart policy rely on it.

namespace kefhost {

enum ExitCode : int {
  // Every workflow ended in its terminal state.
  kExitOk = 0,
  // A workflow ended in another state, or could not be started.
  kExitWorkflowFailed = 1,
  // A usage error, or the plug-in or a service-data file could not be
  // loaded: nothing was run. Restarting does not help.
  kExitLoadError = 2,
  // A second SIGINT or SIGTERM made the host stop waiting for a workflow.
  kExitAbandoned = 3,
};

}  // namespace kefhost
