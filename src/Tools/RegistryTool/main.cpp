// tvan_reg: reads, writes, removes and lists values of the machine's registry
// store (see Base/System/Platform/RegistryStore.h).
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "Base/BaseTypes/Error.h"
#include "Base/BaseTypes/VString.h"
#include "Base/System/Platform/RegistryStore.h"
#include "Base/System/Registry.h"

namespace {

using tvan::platform::RegistryStore;

void printHelp(FILE* out) {
  std::fprintf(out,
      "Usage: tvan_reg COMMAND [ARGUMENTS]\n"
      "\n"
      "Commands:\n"
      "  read KEY NAME                 print a value (DWORDs as 0x...)\n"
      "  write [--dword] KEY NAME DATA store a value, creating missing keys;\n"
      "                                with --dword DATA is hexadecimal (10 or 0x10)\n"
      "  remove KEY NAME               delete a value\n"
      "  remove-key KEY                delete a key with its values and sub-keys\n"
      "  list [KEY]                    list the values below KEY (all without KEY)\n"
      "  help                          show this text\n"
      "\n"
      "KEY is a registry path with `\\` between key names, for example\n"
      "  'HKEY_LOCAL_MACHINE\\Software\\Tovan Studio\\KEF'\n"
      "starting with HKEY_CLASSES_ROOT, HKEY_CURRENT_CONFIG, HKEY_CURRENT_USER,\n"
      "HKEY_LOCAL_MACHINE or HKEY_USERS (any case), or a library root name\n"
      "optionally followed by a sub-key: kCompanyKey, kQuentaKey, kKEFKey,\n"
      "kClassesRoot, kCurrentConfig, kCurrentUser, kLocalMachine, kUsers,\n"
      "for example 'kKEFKey' or 'kQuentaKey\\Viewer'.\n"
      "Key and value names compare case-insensitively.\n"
      "\n"
      "The store is the file named by the environment variable %s,\n"
      "by default %s; writers serialise on the lock file <store>.lock beside it.\n"
      "\n"
      "Exit status: 0 success, 1 value or key not found, 2 usage or store error.\n",
      RegistryStore::kEnvironmentVariable, RegistryStore::kDefaultFile);
}

struct RootName {
  const char* name;
  tvan::RootType root;
};

const RootName kRoots[] = {
    {"kCompanyKey", tvan::kCompanyKey},       {"kQuentaKey", tvan::kQuentaKey},
    {"kKEFKey", tvan::kKEFKey},               {"kClassesRoot", tvan::kClassesRoot},
    {"kCurrentConfig", tvan::kCurrentConfig}, {"kCurrentUser", tvan::kCurrentUser},
    {"kLocalMachine", tvan::kLocalMachine},   {"kUsers", tvan::kUsers},
};

// Turns "kKEFKey\sub" into the store's key path; other paths are kept.
std::string resolveKey(const std::string& key) {
  std::string first = key;
  std::string rest;
  const size_t sep = key.find_first_of("\\/");
  if (sep != std::string::npos) {
    first = key.substr(0, sep);
    rest = key.substr(sep);
  }
  for (const RootName& root : kRoots) {
    if (first == root.name) {
      // makeRegKey with an empty name gives the key path ending in `\`.
      return tvan::makeRegKey("", root.root, tvan::VString(rest)).narrow();
    }
  }
  return key;
}

std::string formatValue(const RegistryStore::Value& value) {
  if (value.type == RegistryStore::kDWord) {
    char text[16];
    std::snprintf(text, sizeof text, "0x%x", value.number);
    return text;
  }
  return value.text;
}

const char* typeName(uint32_t type) {
  switch (type) {
    case RegistryStore::kSz: return "REG_SZ";
    case RegistryStore::kExpandSz: return "REG_EXPAND_SZ";
    case RegistryStore::kDWord: return "REG_DWORD";
  }
  return "REG_OTHER";
}

bool parseDWord(const std::string& text, uint32_t& out) {
  std::string digits = text;
  if (digits.size() > 2 && digits[0] == '0' && (digits[1] == 'x' || digits[1] == 'X')) {
    digits = digits.substr(2);
  }
  if (digits.empty() || digits.size() > 8) return false;
  out = 0;
  for (char c : digits) {
    int d;
    if (c >= '0' && c <= '9') d = c - '0';
    else if (c >= 'a' && c <= 'f') d = c - 'a' + 10;
    else if (c >= 'A' && c <= 'F') d = c - 'A' + 10;
    else return false;
    out = out * 16 + static_cast<uint32_t>(d);
  }
  return true;
}

int usage() {
  printHelp(stderr);
  return 2;
}

int run(std::vector<std::string> args) {
  if (args.empty()) return usage();
  const std::string command = args[0];
  args.erase(args.begin());
  RegistryStore store;

  if (command == "help" || command == "--help" || command == "-h") {
    printHelp(stdout);
    return 0;
  }
  if (command == "read") {
    if (args.size() != 2) return usage();
    RegistryStore::Value value;
    if (!store.readValue(resolveKey(args[0]), args[1], value)) {
      std::fprintf(stderr, "tvan_reg: no value %s in %s\n", args[1].c_str(), args[0].c_str());
      return 1;
    }
    std::printf("%s\n", formatValue(value).c_str());
    return 0;
  }
  if (command == "write") {
    bool dword = false;
    if (!args.empty() && args[0] == "--dword") {
      dword = true;
      args.erase(args.begin());
    }
    if (args.size() != 3) return usage();
    RegistryStore::Value value;
    if (dword) {
      value.type = RegistryStore::kDWord;
      if (!parseDWord(args[2], value.number)) {
        std::fprintf(stderr, "tvan_reg: not a hexadecimal 32-bit number: %s\n", args[2].c_str());
        return 2;
      }
    } else {
      value.text = args[2];
    }
    if (!store.writeValue(resolveKey(args[0]), args[1], value, true)) {
      std::fprintf(stderr, "tvan_reg: cannot write below %s\n", args[0].c_str());
      return 2;
    }
    return 0;
  }
  if (command == "remove") {
    if (args.size() != 2) return usage();
    if (!store.removeValue(resolveKey(args[0]), args[1])) {
      std::fprintf(stderr, "tvan_reg: no value %s in %s\n", args[1].c_str(), args[0].c_str());
      return 1;
    }
    return 0;
  }
  if (command == "remove-key") {
    if (args.size() != 1) return usage();
    if (!store.removeKey(resolveKey(args[0]))) {
      std::fprintf(stderr, "tvan_reg: no key %s\n", args[0].c_str());
      return 1;
    }
    return 0;
  }
  if (command == "list") {
    if (args.size() > 1) return usage();
    std::vector<RegistryStore::Entry> values;
    std::vector<std::string> keys;
    store.list(args.empty() ? std::string() : resolveKey(args[0]), values, keys);
    if (!args.empty() && keys.empty() && !store.keyExists(resolveKey(args[0]))) {
      std::fprintf(stderr, "tvan_reg: no key %s\n", args[0].c_str());
      return 1;
    }
    size_t next = 0;
    for (const std::string& key : keys) {
      std::printf("%s\n", key.c_str());
      for (; next < values.size() && values[next].key == key; ++next) {
        const RegistryStore::Entry& entry = values[next];
        std::printf("    %s\t%s\t%s\n", entry.name.c_str(), typeName(entry.value.type),
                    formatValue(entry.value).c_str());
      }
    }
    return 0;
  }
  return usage();
}

}  // namespace

int main(int argc, char** argv) {
  try {
    return run(std::vector<std::string>(argv + 1, argv + argc));
  } catch (const tvan::Error& e) {
    tvan::VString message;
    e.constructMessage(message);
    std::fprintf(stderr, "tvan_reg: %s\n", message.narrow().c_str());
  } catch (const std::exception& e) {
    std::fprintf(stderr, "tvan_reg: %s\n", e.what());
  }
  return 2;
}
