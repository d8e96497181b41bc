#pragma once
// CollectableInit: the library initialiser (priority 0, before every other)
// that allows Collectable objects to be created. One static instance is
// registered when the library loads.
#include "Base/BaseTypes/LibInitialize.h"

namespace tvan {

class CollectableInit : public LibInitialize {
 public:
  CollectableInit() = default;
  ~CollectableInit() override;

  void init(const VString& applicationName) override;
  void fini() override;
  int priority() const override { return 0; }

  // Whether Collectable objects may be created.
  static bool isInitialized();
};

}  // namespace tvan
