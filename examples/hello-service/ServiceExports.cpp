// What the host looks up in the plug-in: the factory pair. And the load and
// unload hooks: the framework's utility library must be initialised before
// any of its objects is made, and the plug-in cannot know whether the
// program that loads it did so.
#include <Base/BaseTypes/LibInitialize.h>
#include <Base/BaseTypes/VString.h>

#include "HelloService.h"

namespace {

__attribute__((constructor)) void onLibraryLoad() {
  tvan::LibInitialize::initialize(tvan::VString("KEF_DLL"), false, true);
}

__attribute__((destructor)) void onLibraryUnload() { tvan::LibInitialize::finalize(); }

}  // namespace

// No exception may leave a C entry point: a service that cannot be made is
// a null result, which the host reports.
extern "C" __attribute__((visibility("default"))) KEF::BaseService* create_service() {
  try {
    return new hello::HelloService();
  } catch (...) {
    return nullptr;
  }
}

extern "C" __attribute__((visibility("default"))) void delete_service(KEF::BaseService* service) {
  delete service;
}
