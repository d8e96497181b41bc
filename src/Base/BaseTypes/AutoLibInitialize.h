#pragma once
#include "Base/BaseTypes/LibInitialize.h"
#include "Base/BaseTypes/VString.h"

namespace tvan {

// Initialises the library for the lifetime of the object.
class AutoLibInitialize {
 public:
  explicit AutoLibInitialize(const VString& applicationName, bool verbose = false,
                             bool warnWhenNotFinalized = false) {
    LibInitialize::initialize(applicationName, verbose, warnWhenNotFinalized);
  }
  ~AutoLibInitialize() { LibInitialize::finalize(); }
  AutoLibInitialize(const AutoLibInitialize&) = delete;
  AutoLibInitialize& operator=(const AutoLibInitialize&) = delete;
};

}  // namespace tvan
