#include "HelloData.h"

namespace hello {

HelloData::HelloData(const char* serviceData) : document_(serviceData, false) {
  initialize(&document_);
}

std::string HelloData::name() {
  std::string value;
  // Element names are relative to the root; a missing one leaves value as is.
  if (getValue("Name", value) == 0 || value.empty()) value = "World";
  return value;
}

}  // namespace hello
