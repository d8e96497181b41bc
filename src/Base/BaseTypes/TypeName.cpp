#include "Base/BaseTypes/TypeName.h"

#include <cxxabi.h>

#include <cstdlib>

namespace tvan {

std::string typeName(const std::type_info& type) {
  int status = 0;
  char* demangled = abi::__cxa_demangle(type.name(), nullptr, nullptr, &status);
  if (status != 0 || demangled == nullptr) return type.name();
  std::string name(demangled);
  std::free(demangled);
  return name;
}

}  // namespace tvan
