#pragma once
// Initialiser of the processor clock (priority 50): detects the processor,
// picks the tick source and settles cpuFrequency (see StopWatch.h). One
// static instance registers itself when the library loads.
#include "Base/BaseTypes/LibInitialize.h"

namespace tvan {

class StopWatchInit : public LibInitialize {
 public:
  void init(const VString& applicationName) override;
  int priority() const override { return 50; }
};

}  // namespace tvan
