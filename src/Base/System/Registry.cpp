#include "Base/System/Registry.h"

#include <cstdint>
#include <cstdio>
#include <map>
#include <mutex>
#include <string>
#include <vector>

#include "Base/BaseTypes/Error.h"
#include "Base/System/Platform/RegistryStore.h"

namespace tvan {

namespace {

using platform::RegistryStore;

const char* rootPrefix(RootType root) {
  switch (root) {
    case kCompanyKey: return "/HKEY_LOCAL_MACHINE/Software/Tovan Studio/";
    case kQuentaKey: return "/HKEY_LOCAL_MACHINE/Software/Tovan Studio/Quenta/";
    case kKEFKey: return "/HKEY_LOCAL_MACHINE/Software/Tovan Studio/KEF/";
    case kClassesRoot: return "/HKEY_CLASSES_ROOT/";
    case kCurrentConfig: return "/HKEY_CURRENT_CONFIG/";
    case kCurrentUser: return "/HKEY_CURRENT_USER/";
    case kLocalMachine: return "/HKEY_LOCAL_MACHINE/";
    case kUsers: return "/HKEY_USERS/";
  }
  return "";
}

bool isSeparator(char16_t c) { return c == u'/' || c == u'\\'; }

// Drops one leading separator.
std::u16string withoutLeadingSeparator(const VString& s) {
  const std::u16string& text = s.wide();
  if (!text.empty() && isSeparator(text[0])) return text.substr(1);
  return text;
}

// A value's address in the store: the key path and the value name, taken
// from a full path as makeRegKey builds it. The last non-empty component is
// the value name; those before it form the key.
struct ValuePath {
  std::string text;  // the full path, for messages
  std::string key;
  std::string name;
  bool valid = false;
};

ValuePath parseKey(const VString& name, const VString& subKey, RootType root) {
  ValuePath path;
  const VString full = makeRegKey(name, root, subKey);
  if (!full.isNarrow()) {
    // Not representable in the store; shown with its 8-bit units only.
    for (char16_t c : full.wide()) path.text += static_cast<char>(c & 0xff);
    return path;
  }
  path.text = full.narrow();
  std::vector<std::string> parts = RegistryStore::splitKey(path.text);
  if (parts.size() < 2) return path;
  path.name = parts.back();
  parts.pop_back();
  for (const std::string& part : parts) {
    if (!path.key.empty()) path.key += '\\';
    path.key += part;
  }
  path.valid = RegistryStore::isTopLevelKey(parts.front());
  return path;
}

[[noreturn]] void throwOpenError(const ValuePath& path) {
  const std::string message = "Registry: Could not open/create key. key=" + path.text;
  throw Error(__FILE__, __LINE__, message.c_str());
}

// Whether `step` succeeded; a store failure (Error) counts as not.
template <typename Step>
bool succeeded(Step step) {
  try {
    return step();
  } catch (const Error&) {
    return false;
  }
}

// Throws the open/create error unless the path is valid and `step` (opening
// or creating its key) succeeds.
template <typename Step>
void requireKey(const ValuePath& path, Step step) {
  if (!path.valid || !succeeded(step)) throwOpenError(path);
}

// Parses a DWORD text: hexadecimal, with or without "0x", surrounded by
// optional white space. Refuses anything else, including numbers that do not
// fit 32 bits and trailing characters.
bool parseDWord(const std::string& text, uint32_t& out) {
  size_t begin = text.find_first_not_of(" \t\r\n");
  if (begin == std::string::npos) return false;
  const size_t end = text.find_last_not_of(" \t\r\n") + 1;
  if (end - begin > 2 && text[begin] == '0' && (text[begin + 1] == 'x' || text[begin + 1] == 'X')) {
    begin += 2;
  }
  if (begin == end) return false;
  uint64_t value = 0;
  for (size_t i = begin; i < end; ++i) {
    const char c = text[i];
    int digit;
    if (c >= '0' && c <= '9') digit = c - '0';
    else if (c >= 'a' && c <= 'f') digit = c - 'a' + 10;
    else if (c >= 'A' && c <= 'F') digit = c - 'A' + 10;
    else return false;
    value = value * 16 + static_cast<uint64_t>(digit);
    if (value > 0xffffffffu) return false;
  }
  out = static_cast<uint32_t>(value);
  return true;
}

// Values found missing by readOptional, by full path. Guarded by its mutex.
struct OptionalMemory {
  std::mutex mutex;
  std::map<std::u16string, bool> found;
};

OptionalMemory& optionalMemory() {
  static OptionalMemory* memory = new OptionalMemory;  // lives until exit
  return *memory;
}

}  // namespace

VString makeRegKey(const VString& name, RootType root, const VString& subKey) {
  std::u16string key = VString(rootPrefix(root)).wide();
  if (!subKey.empty()) key += withoutLeadingSeparator(subKey);
  if (key.empty() || !isSeparator(key.back())) key += u'/';
  if (!name.empty()) key += withoutLeadingSeparator(name);
  for (char16_t& c : key) {
    if (c == u'/') c = u'\\';
  }
  return VString(std::move(key));
}

bool Registry::read(VString& value, const VString& name, const VString& subKey,
                    RootType root) {
  value.clear();
  try {
    const ValuePath path = parseKey(name, subKey, root);
    if (!path.valid) return false;
    RegistryStore::Value stored;
    if (!RegistryStore().readValue(path.key, path.name, stored)) return false;
    switch (stored.type) {
      case RegistryStore::kSz:
      case RegistryStore::kExpandSz:
        value = VString(stored.text);
        return true;
      case RegistryStore::kDWord: {
        char text[16];
        std::snprintf(text, sizeof text, "0x%lx", static_cast<unsigned long>(stored.number));
        value = VString(text);
        return true;
      }
      default:
        return false;
    }
  } catch (...) {
    // An unreadable store reads as a missing value.
    value.clear();
    return false;
  }
}

bool Registry::readOptional(VString& value, const VString& name, const VString& subKey,
                            RootType root) {
  // Case-insensitive like the store.
  std::u16string memoryKey = makeRegKey(name, root, subKey).wide();
  for (char16_t& c : memoryKey) {
    if (c >= u'A' && c <= u'Z') c = static_cast<char16_t>(c - u'A' + u'a');
  }
  OptionalMemory& memory = optionalMemory();
  {
    std::lock_guard<std::mutex> lock(memory.mutex);
    const auto it = memory.found.find(memoryKey);
    if (it != memory.found.end() && !it->second) {
      value.clear();
      return false;
    }
  }
  const bool found = read(value, name, subKey, root);
  std::lock_guard<std::mutex> lock(memory.mutex);
  // The first result is the one remembered.
  memory.found.emplace(memoryKey, found);
  return found;
}

void Registry::write(const VString& value, const VString& name, const VString& subKey,
                     DataType type, RootType root) {
  const ValuePath path = parseKey(name, subKey, root);
  RegistryStore store;
  requireKey(path, [&] { return store.keyExists(path.key); });

  RegistryStore::Value stored;
  if (type == kDWord) {
    stored.type = RegistryStore::kDWord;
    if (!value.isNarrow() || !parseDWord(value.narrow(), stored.number)) {
      throw Error(__FILE__, __LINE__, "Registry: Bogus DWORD value.");
    }
  } else {
    stored.type = RegistryStore::kSz;
    stored.text = value.narrow();
  }

  bool written = false;
  try {
    written = store.writeValue(path.key, path.name, stored, false);
  } catch (const Error&) {
    const std::string message = "Registry: Could not write value. key=" + path.text;
    throw Error(__FILE__, __LINE__, message.c_str());
  }
  // The key was removed since it was found.
  if (!written) throwOpenError(path);
}

void Registry::create(const VString& value, const VString& name, const VString& subKey,
                      DataType type, RootType root) {
  const ValuePath path = parseKey(name, subKey, root);
  requireKey(path, [&] { return RegistryStore().createKey(path.key); });
  write(value, name, subKey, type, root);
}

void Registry::remove(const VString& name, const VString& subKey, RootType root) {
  const ValuePath path = parseKey(name, subKey, root);
  RegistryStore store;
  requireKey(path, [&] { return store.keyExists(path.key); });
  if (!succeeded([&] { return store.removeValue(path.key, path.name); })) {
    throw Error(__FILE__, __LINE__, "Registry: Could not remove key.");
  }
}

}  // namespace tvan
