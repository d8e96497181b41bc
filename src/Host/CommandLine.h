#pragma once
// The command line of kefhost: `run` with its options, `--help`, `--version`.
#include <string>

#include "Host/HostOptions.h"

namespace kefhost {

class CommandLine {
 public:
  enum class Action { kRun, kHelp, kVersion, kUsageError };

  // Options take their value as the next argument or after '='
  // (`--passes 3`, `--passes=3`).
  static CommandLine parse(int argc, const char* const* argv);

  Action action() const { return action_; }
  // Complete and checked when the action is kRun.
  const HostOptions& options() const { return options_; }
  // What is wrong, for one line on standard error, when the action is
  // kUsageError.
  const std::string& error() const { return error_; }

 private:
  static CommandLine usageError(std::string problem);
  static CommandLine parseRun(int argc, const char* const* argv);
  bool check();

  Action action_ = Action::kUsageError;
  HostOptions options_;
  std::string error_;
};

}  // namespace kefhost
