#pragma once
// LibInitialize: base of the library's static initialiser objects. Each one
// registers itself when constructed; LibInitialize::initialize runs their
// init() by ascending priority (0 first, 100 last; others never run) and
// finalize() runs their fini() in the reverse order.
//
// The state is process-wide and exists once per process. Every initialize()
// runs every registered object's init() (initialisers are idempotent);
// finalize() runs fini() once for each init() that ran, newest first.
//
// An initialiser must outlive its registration; its destructor unregisters
// it (and drops it from the initialised objects, so fini() never reaches a
// destroyed object).
#include "Base/BaseTypes/VString.h"

namespace tvan {

class LibInitialize {
 public:
  LibInitialize();
  LibInitialize(const LibInitialize&) = delete;
  LibInitialize& operator=(const LibInitialize&) = delete;
  // With the warn flag set and the library not finalised, reports
  // "LibInitialize object tvan::LibInitialize not finalized properly!" on
  // standard output.
  virtual ~LibInitialize();

  virtual void init(const VString& applicationName);
  virtual void fini();
  // 0 ... 100; lower runs earlier.
  virtual int priority() const = 0;

  // With `verbose` each init is reported on standard output as
  // "\tInitializing (<priority>): <type name>" and each fini as
  // "\tFinalizing: <type name>". The application name keeps its first 99
  // units.
  static void initialize(const VString& applicationName, bool verbose = false,
                         bool warnWhenNotFinalized = false);
  static void finalize();
  // The name given to initialize(); empty before.
  static VString applicationName();
  static bool isInitialized();

 private:
  LibInitialize* next_;  // registration list, newest first
};

}  // namespace tvan

// AutoLibInitialize, the scoped form of initialize()/finalize(), comes with
// this header.
#include "Base/BaseTypes/AutoLibInitialize.h"
