// What the host looks up in the plug-in: the factory pair, and the load and
// unload hooks that initialise and finalise the utility library.
#include "Base/BaseTypes/LibInitialize.h"
#include "Base/BaseTypes/VString.h"
#include "KEF/AutoDelService/AutoDelService.h"

namespace {

__attribute__((constructor)) void onLibraryLoad() {
  tvan::LibInitialize::initialize(tvan::VString("KEF_DLL"), false, true);
}

__attribute__((destructor)) void onLibraryUnload() { tvan::LibInitialize::finalize(); }

}  // namespace

// No exception may leave a C entry point: a service that cannot be made,
// for want of memory or otherwise, is a null result.
extern "C" __attribute__((visibility("default"))) KEF::BaseService* create_service() {
  try {
    return new KEF::AutoDelService();
  } catch (...) {
    return nullptr;
  }
}

extern "C" __attribute__((visibility("default"))) void delete_service(KEF::BaseService* service) {
  delete service;
}
