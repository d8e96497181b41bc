// kefhost: the host program that loads a service plug-in and runs its
// services (see HelpText.cpp for the command line, Host.h for the run).
#include <unistd.h>

#include <cstdio>

#include "Base/BaseTypes/AutoLibInitialize.h"
#include "Base/BaseTypes/VString.h"
#include "Host/CommandLine.h"
#include "Host/ExitCodes.h"
#include "Host/FrameworkConfiguration.h"
#include "Host/HelpText.h"
#include "Host/Host.h"
#include "Host/ProgressStream.h"
#include "Host/SignalWaiter.h"

int main(int argc, char** argv) {
  // First of all, while this is the only thread: every thread made later
  // inherits the blocked signals, so they reach only the main loop.
  kefhost::SignalWaiter signals;

  const kefhost::CommandLine commandLine = kefhost::CommandLine::parse(argc, argv);
  switch (commandLine.action()) {
    case kefhost::CommandLine::Action::kHelp:
      std::fputs(kefhost::usageText(), stdout);
      return kefhost::kExitOk;
    case kefhost::CommandLine::Action::kVersion:
      std::printf("%s\n", kefhost::versionText());
      return kefhost::kExitOk;
    case kefhost::CommandLine::Action::kUsageError:
      std::fprintf(stderr, "kefhost: %s (see kefhost --help)\n", commandLine.error().c_str());
      return kefhost::kExitLoadError;
    case kefhost::CommandLine::Action::kRun:
      break;
  }

  kefhost::ProgressStream progress;
  tvan::AutoLibInitialize library(tvan::VString("kefhost"));
  kefhost::Host host(commandLine.options(), signals, progress.file());
  if (!host.load()) return kefhost::kExitLoadError;
  // After the load, so that a load error is the only thing said; before
  // anything of the framework reads its configuration.
  kefhost::FrameworkConfiguration configuration(stderr);
  const int status = host.run();
  if (!host.safeToUnload()) {
    // A controller thread may still run plug-in code and use the host's
    // objects: end the process without destroying anything under it.
    configuration.removePrivateCopy();
    std::fflush(nullptr);
    ::_exit(status);
  }
  return status;
}
