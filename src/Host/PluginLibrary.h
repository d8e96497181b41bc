#pragma once
// A service plug-in: a shared library exporting
//   extern "C" KEF::BaseService* create_service();
//   extern "C" void delete_service(KEF::BaseService*);
// loaded with RTLD_NOW (a missing symbol fails the load, not a later call)
// and RTLD_LOCAL (two plug-ins' own symbols never mix).
#include <string>

namespace KEF {
class BaseService;
}

namespace kefhost {

class PluginLibrary {
 public:
  PluginLibrary() = default;
  // Unloads the library unless leaveLoaded() was called.
  ~PluginLibrary();

  PluginLibrary(const PluginLibrary&) = delete;
  PluginLibrary& operator=(const PluginLibrary&) = delete;

  // Loads the library and finds both exports. False, with `error` saying
  // what failed, and nothing stays loaded.
  bool open(const std::string& path, std::string& error);

  // The plug-in's new service; null when it made none.
  KEF::BaseService* createService() const;
  void deleteService(KEF::BaseService* service) const;

  // Keeps the library mapped at exit: a thread of it that could not be
  // stopped would otherwise run into unmapped code.
  void leaveLoaded() { leaveLoaded_ = true; }

 private:
  using CreateFunction = KEF::BaseService* (*)();
  using DeleteFunction = void (*)(KEF::BaseService*);

  void* handle_ = nullptr;
  CreateFunction create_ = nullptr;
  DeleteFunction delete_ = nullptr;
  bool leaveLoaded_ = false;
};

}  // namespace kefhost
