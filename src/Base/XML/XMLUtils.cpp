#include "Base/XML/XMLUtils.h"

#include <cinttypes>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <iostream>

#include "Base/XML/XmlDOM.h"

namespace tvan {

namespace {

// The two standard-error lines that precede the exception for a missing
// required value.
void reportMissing(int line, const char* path) {
  std::cerr << "Error in XMLUtils at " << line << ": \n"
            << "         Exception! Required job data unfound " << path << "\n";
}

// Selects path (after an optional reset to the root) and returns the count.
int select(XmlDOM* dom, const char* path, bool fromRoot, bool makeFirstActive) {
  if (fromRoot) dom->resetActiveToRoot();
  int count = 0;
  dom->findNodes(path, count, makeFirstActive);
  return count;
}

}  // namespace

int goToNode(XmlDOM* dom, const char* path, int index, bool fromRoot, bool makeFirstActive) {
  const int count = select(dom, path, fromRoot, makeFirstActive);
  if (count > 0) dom->setActiveNode(index);
  return count;
}

int getValue(XmlDOM* dom, const char* path, std::string& value, bool required, int index,
             bool fromRoot, bool makeFirstActive) {
  const int count = select(dom, path, fromRoot, makeFirstActive);
  if (count > index) {
    dom->getNodeValue(value, index);
    return count;
  }
  if (!required) return count;
  std::string document;
  dom->dump(document, true, false);
  std::cout << document << "\n";
  std::cout << "Active=\"" << dom->getActiveNodeName() << "\"\n";
  reportMissing(__LINE__, path);
  throw "Exception! Required job data unfound, location 1";
}

int getValue(XmlDOM* dom, const char* path, int& value, bool required, int index, bool fromRoot,
             bool makeFirstActive) {
  const int count = select(dom, path, fromRoot, makeFirstActive);
  if (count > index) {
    std::string text;
    dom->getNodeValue(text, index);
    value = std::atoi(text.c_str());
    return count;
  }
  value = 0;
  if (!required) return count;
  reportMissing(__LINE__, path);
  throw "Exception! Required job data unfound, location 2";
}

void setValue(XmlDOM* dom, const char* path, const char* value, int index, bool fromRoot,
              bool makeActive) {
  const int count = select(dom, path, fromRoot, true);
  if (index < count) {
    dom->setNodeValue(value, index);
  } else {
    dom->createNode(path, value, makeActive, -1);
  }
}

void setValue(XmlDOM* dom, const char* path, int value, int index, bool fromRoot, bool makeActive) {
  const std::string text = std::to_string(value);
  setValue(dom, path, text.c_str(), index, fromRoot, makeActive);
}

void setClassPointer(XmlDOM* dom, const char* path, const char* classType, void* pointer) {
  removeClassPointer(dom, path);
  dom->resetActiveToRoot();
  dom->createNode(path, "", true, -1);
  setClassPointerAttributes(dom, classType, pointer);
}

void setClassPointerAttributes(XmlDOM* dom, const char* classType, const void* pointer) {
  // The full address: "0x" and lower-case hex digits, no padding.
  char address[2 + 2 * sizeof(uintptr_t) + 1];
  std::snprintf(address, sizeof(address), "0x%" PRIxPTR, reinterpret_cast<uintptr_t>(pointer));
  dom->setAttribute("Pointer", address);
  dom->setAttribute("ClassType", classType);
}

void removeClassPointer(XmlDOM* dom, const char* path) {
  if (select(dom, path, true, true) != 0) dom->removeNode(-1);
}

int getClassPointer(XmlDOM* dom, const char* path, const char* classType, void*& pointer,
                    int index) {
  if (select(dom, path, true, true) == 0) return 0;
  std::string type;
  dom->getAttribute("ClassType", type, index);
  if (classType == nullptr || type != classType) return 0;
  std::string text;
  dom->getAttribute("Pointer", text, index);
  const unsigned long long address = std::strtoull(text.c_str(), nullptr, 16);
  pointer = reinterpret_cast<void*>(static_cast<uintptr_t>(address));
  return 1;
}

void normalizeData(std::string& text, bool fileSafe) {
  for (char& c : text) {
    const unsigned char byte = static_cast<unsigned char>(c);
    bool replace = byte < 0x20 || (byte >= 0x7F && byte <= 0xA0);
    if (fileSafe && !replace) {
      replace = byte >= 0x7F || std::strchr("\\/:*?\"<>|", c) != nullptr;
    }
    if (replace) c = '_';
  }
}

}  // namespace tvan
