#include "Host/PluginLibrary.h"

#include <dlfcn.h>

namespace kefhost {

namespace {

std::string lastLoaderError() {
  const char* text = ::dlerror();
  return text != nullptr ? text : "unknown loader error";
}

}  // namespace

PluginLibrary::~PluginLibrary() {
  if (handle_ != nullptr && !leaveLoaded_) ::dlclose(handle_);
}

bool PluginLibrary::open(const std::string& path, std::string& error) {
  ::dlerror();
  void* handle = ::dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL);
  if (handle == nullptr) {
    error = "cannot load plug-in " + path + ": " + lastLoaderError();
    return false;
  }
  // The exports are functions; POSIX guarantees the object-to-function
  // pointer conversion for dlsym results.
  const char* missing = nullptr;
  auto create = reinterpret_cast<CreateFunction>(::dlsym(handle, "create_service"));
  if (create == nullptr) missing = "create_service";
  auto destroy = reinterpret_cast<DeleteFunction>(::dlsym(handle, "delete_service"));
  if (missing == nullptr && destroy == nullptr) missing = "delete_service";
  if (missing != nullptr) {
    error = "plug-in " + path + " does not export " + missing;
    ::dlclose(handle);
    return false;
  }
  handle_ = handle;
  create_ = create;
  delete_ = destroy;
  return true;
}

KEF::BaseService* PluginLibrary::createService() const { return create_(); }

void PluginLibrary::deleteService(KEF::BaseService* service) const { delete_(service); }

}  // namespace kefhost
