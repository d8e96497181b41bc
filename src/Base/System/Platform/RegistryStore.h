#pragma once

#include <cstdint>
#include <map>
#include <string>
#include <vector>

namespace tvan {
namespace platform {

// The machine's registry on Linux: a text file holding keys and values,
// addressed like the registry by a key path (components separated by `\`,
// for example "HKEY_LOCAL_MACHINE\Software\Tovan Studio") and a value name.
//
// File: named by the environment variable TVAN_REGISTRY_FILE, by default
// /var/lib/tvan/registry. A missing file is an empty store. Writers are
// serialised by an flock on "<file>.lock" beside it; each change re-reads
// the file under that lock, writes "<file>.new", syncs it and renames it over
// the file, so readers (which read the whole file without locking) always
// see either the old or the new store, never a mixture.
//
// Format (one entry per line, fields separated by a tab, bytes below 0x20,
// 0x7f and '%' written as %XX; lines starting with '#' are comments):
//   K <tab> key path
//   V <tab> key path <tab> value name <tab> type <tab> data
// Types are 1 (string), 2 (expandable string, returned unexpanded) and 4
// (DWORD, data written as "0x%x"). A key exists when it has a K line; its
// values follow it. The top-level keys (HKEY_CLASSES_ROOT,
// HKEY_CURRENT_CONFIG, HKEY_CURRENT_USER, HKEY_LOCAL_MACHINE, HKEY_USERS)
// always exist and hold no values. Key and value names compare
// case-insensitively (ASCII) and keep the case they were created with.
//
// Failures to read or write the file, a malformed file (which is then never
// overwritten) and unknown top-level keys throw tvan::Error.
// Each object is a handle on the file; it holds no state between calls.
class RegistryStore {
 public:
  enum ValueType : uint32_t { kSz = 1, kExpandSz = 2, kDWord = 4 };

  struct Value {
    uint32_t type = kSz;
    std::string text;     // kSz, kExpandSz
    uint32_t number = 0;  // kDWord
  };

  // One value as listed: its key path (as created), name and data.
  struct Entry {
    std::string key;
    std::string name;
    Value value;
  };

  static const char* const kEnvironmentVariable;  // "TVAN_REGISTRY_FILE"
  static const char* const kDefaultFile;          // "/var/lib/tvan/registry"

  // The file named by TVAN_REGISTRY_FILE (when set and not empty), else the
  // default.
  static std::string defaultFileName();

  // Splits a key path at `\` into its non-empty components.
  static std::vector<std::string> splitKey(const std::string& keyPath);

  explicit RegistryStore(std::string fileName = defaultFileName());

  const std::string& fileName() const { return fileName_; }

  bool keyExists(const std::string& keyPath) const;

  // True for the names of the top-level keys (any case).
  static bool isTopLevelKey(const std::string& name);

  // Creates the key and every missing key above it. False when the path is
  // empty or its top-level key is unknown.
  bool createKey(const std::string& keyPath);

  // False when the key or the value does not exist.
  bool readValue(const std::string& keyPath, const std::string& name,
                 Value& out) const;

  // Stores a value. Without `createKeys` the key must exist: false when it
  // does not. With it, missing keys are created (false only for a path
  // `createKey` refuses). Top-level keys hold no values: false.
  bool writeValue(const std::string& keyPath, const std::string& name,
                  const Value& value, bool createKeys);

  // False when the key or the value does not exist.
  bool removeValue(const std::string& keyPath, const std::string& name);

  // Removes a key with all its values and sub-keys. False when it does not
  // exist; top-level keys cannot be removed.
  bool removeKey(const std::string& keyPath);

  // The values of the key and of all keys below it (all values when
  // `keyPath` is empty), in key order, and the keys found (as created).
  void list(const std::string& keyPath, std::vector<Entry>& values,
            std::vector<std::string>& keys) const;

 private:
  struct Data;

  void load(Data& data) const;
  void save(const Data& data) const;
  // Runs `change` on the current store under the writers' lock and saves
  // the store when `change` returns true. Returns what `change` returned.
  template <typename Change>
  bool modify(Change change);

  std::string fileName_;
};

}  // namespace platform
}  // namespace tvan
