#pragma once

#include "Base/BaseTypes/VString.h"

namespace tvan {

// Where a registry path starts. The product's own keys are roots of their
// own, so that callers name a value by root and value name alone.
enum RootType {
  kCompanyKey = 0,     // HKEY_LOCAL_MACHINE\Software\Tovan Studio
  kQuentaKey = 1,      // HKEY_LOCAL_MACHINE\Software\Tovan Studio\Quenta
  kKEFKey = 2,         // HKEY_LOCAL_MACHINE\Software\Tovan Studio\KEF
  kClassesRoot = 3,    // HKEY_CLASSES_ROOT
  kCurrentConfig = 4,  // HKEY_CURRENT_CONFIG
  kCurrentUser = 5,    // HKEY_CURRENT_USER
  kLocalMachine = 6,   // HKEY_LOCAL_MACHINE
  kUsers = 7           // HKEY_USERS
};

// How `Registry::write` stores a value's text: `kDWord` parses it as a
// hexadecimal 32-bit number; any other value stores it as a string.
enum DataType {
  kString = 0,
  kDWord = 1
};

// The full path of a value: the root's prefix, the sub-key and the value name,
// with `\` between the parts and a leading `\`, for example
// makeRegKey("KEFConfiguration", kKEFKey, "") ==
//   "\HKEY_LOCAL_MACHINE\Software\Tovan Studio\KEF\KEFConfiguration".
// One leading `/` or `\` of the sub-key and of the name is dropped; every `/`
// becomes `\`. An unknown root contributes no prefix.
VString makeRegKey(const VString& name, RootType root, const VString& subKey);

// Static access to registry values addressed by (root, sub-key, value name).
// Values travel as text: strings unchanged, DWORDs as "0x%lx" (lower-case
// hexadecimal, no padding).
//
// On this platform the registry is the machine's registry store
// (platform::RegistryStore): a file named by the environment variable
// TVAN_REGISTRY_FILE, by default /var/lib/tvan/registry. Key and value names
// compare case-insensitively. All operations are safe to call from several
// threads and processes at once.
class Registry {
 public:
  Registry() = delete;

  // The roots and data types are also reachable through the class
  // (Registry::kKEFKey).
  using RootType = tvan::RootType;
  using DataType = tvan::DataType;
  static constexpr RootType kCompanyKey = tvan::kCompanyKey;
  static constexpr RootType kQuentaKey = tvan::kQuentaKey;
  static constexpr RootType kKEFKey = tvan::kKEFKey;
  static constexpr RootType kClassesRoot = tvan::kClassesRoot;
  static constexpr RootType kCurrentConfig = tvan::kCurrentConfig;
  static constexpr RootType kCurrentUser = tvan::kCurrentUser;
  static constexpr RootType kLocalMachine = tvan::kLocalMachine;
  static constexpr RootType kUsers = tvan::kUsers;
  static constexpr DataType kString = tvan::kString;
  static constexpr DataType kDWord = tvan::kDWord;

  // Reads a value into `value` (emptied first). Returns false, never throws,
  // when the key or value does not exist or the store cannot be read.
  static bool read(VString& value, const VString& name, const VString& subKey,
                   RootType root);

  // Like `read`, but remembers for the rest of the process when a value was
  // found missing and from then on reports it missing without looking
  // again. A value once found is read afresh each time. The memory is keyed
  // by the value's full path (root, sub-key and name).
  static bool readOptional(VString& value, const VString& name,
                           const VString& subKey, RootType root);

  // Stores a value below an existing key. For `kDWord` the text is
  // hexadecimal, with or without "0x" ("10" and "0x10" both store 16).
  // Throws Error "Registry: Could not open/create key. key=<path>" when the
  // key does not exist, "Registry: Bogus DWORD value." when the text is not
  // a 32-bit hexadecimal number, "Registry: Could not write value.
  // key=<path>" when the store cannot be written.
  static void write(const VString& value, const VString& name,
                    const VString& subKey, DataType type, RootType root);

  // Like `write`, but creates the key (with every missing key above it)
  // first.
  static void create(const VString& value, const VString& name,
                     const VString& subKey, DataType type, RootType root);

  // Deletes a value. Throws Error "Registry: Could not open/create key.
  // key=<path>" when the key does not exist, "Registry: Could not remove
  // key." when the value does not exist or the store cannot be written.
  static void remove(const VString& name, const VString& subKey,
                     RootType root);
};

}  // namespace tvan
