#include "Base/System/Platform/RegistryStore.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <utility>

#include "Base/System/Platform/ThreadStop.h"

#include "Base/BaseTypes/Error.h"

namespace tvan {
namespace platform {

namespace {

const char* const kTopLevelKeys[] = {"HKEY_CLASSES_ROOT", "HKEY_CURRENT_CONFIG",
                                     "HKEY_CURRENT_USER", "HKEY_LOCAL_MACHINE",
                                     "HKEY_USERS"};

std::string lower(const std::string& s) {
  std::string out(s);
  for (char& c : out) {
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
  }
  return out;
}

std::string upper(const std::string& s) {
  std::string out(s);
  for (char& c : out) {
    if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
  }
  return out;
}

std::string systemText(int err) {
  char buffer[256];
  // GNU strerror_r returns the text, which may or may not be `buffer`.
  return std::string(strerror_r(err, buffer, sizeof buffer));
}

[[noreturn]] void fail(int line, const std::string& what, const std::string& file,
                       int err) {
  std::string message = "Registry: " + what + " " + file;
  if (err != 0) message += ": " + systemText(err);
  throw Error(__FILE__, line, message.c_str());
}

std::string escape(const std::string& s) {
  static const char kHex[] = "0123456789ABCDEF";
  std::string out;
  out.reserve(s.size());
  for (char ch : s) {
    const auto c = static_cast<unsigned char>(ch);
    if (c < 0x20 || c == 0x7f || c == '%') {
      out += '%';
      out += kHex[c >> 4];
      out += kHex[c & 0xf];
    } else {
      out += ch;
    }
  }
  return out;
}

int hexDigit(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

bool unescape(const std::string& s, std::string& out) {
  out.clear();
  for (size_t i = 0; i < s.size(); ++i) {
    if (s[i] != '%') {
      out += s[i];
      continue;
    }
    if (i + 2 >= s.size()) return false;
    const int hi = hexDigit(s[i + 1]);
    const int lo = hexDigit(s[i + 2]);
    if (hi < 0 || lo < 0) return false;
    out += static_cast<char>(hi * 16 + lo);
    i += 2;
  }
  return true;
}

std::vector<std::string> splitFields(const std::string& line) {
  std::vector<std::string> fields;
  size_t start = 0;
  for (;;) {
    const size_t tab = line.find('\t', start);
    if (tab == std::string::npos) {
      fields.push_back(line.substr(start));
      return fields;
    }
    fields.push_back(line.substr(start, tab - start));
    start = tab + 1;
  }
}

bool parseUnsigned(const std::string& s, int base, uint32_t& out) {
  if (s.empty()) return false;
  uint64_t value = 0;
  for (char c : s) {
    const int d = hexDigit(c);
    if (d < 0 || d >= base) return false;
    value = value * static_cast<uint64_t>(base) + static_cast<uint64_t>(d);
    if (value > 0xffffffffu) return false;
  }
  out = static_cast<uint32_t>(value);
  return true;
}

// Canonical form of a key path: non-empty components joined by `\`, the
// top-level key in upper case. Empty when the path is empty or its top-level
// key is unknown.
std::string canonicalKey(const std::string& keyPath) {
  std::vector<std::string> parts = RegistryStore::splitKey(keyPath);
  if (parts.empty() || !RegistryStore::isTopLevelKey(parts[0])) return std::string();
  std::string out = upper(parts[0]);
  for (size_t i = 1; i < parts.size(); ++i) out += "\\" + parts[i];
  return out;
}

bool isTopLevelOnly(const std::string& canonical) {
  return canonical.find('\\') == std::string::npos;
}

class LockFile {
 public:
  explicit LockFile(const std::string& storeFile) {
    const std::string name = storeFile + ".lock";
    makeParentDirectories(storeFile);
    fd_ = ::open(name.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0644);
    if (fd_ < 0 && errno == EACCES) fd_ = ::open(name.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd_ < 0) fail(__LINE__, "Could not open lock file", name, errno);
    while (::flock(fd_, LOCK_EX) != 0) {
      if (errno != EINTR) {
        const int err = errno;
        ::close(fd_);
        fail(__LINE__, "Could not lock", name, err);
      }
    }
  }
  ~LockFile() { ::close(fd_); }  // closing the descriptor releases the flock
  LockFile(const LockFile&) = delete;
  LockFile& operator=(const LockFile&) = delete;

 private:
  // A cancellation while the store is locked would leave the descriptor,
  // and with it the lock, open.
  platform::NoCancelScope noCancel_;

  static void makeParentDirectories(const std::string& file) {
    const size_t slash = file.rfind('/');
    if (slash == std::string::npos || slash == 0) return;
    const std::string dir = file.substr(0, slash);
    struct stat st;
    if (::stat(dir.c_str(), &st) == 0) return;
    makeParentDirectories(dir);
    if (::mkdir(dir.c_str(), 0755) != 0 && errno != EEXIST) {
      fail(__LINE__, "Could not create directory", dir, errno);
    }
  }

  int fd_ = -1;
};

}  // namespace

struct StoredValue {
  std::string name;  // as created
  RegistryStore::Value value;
};

struct StoredKey {
  std::string path;                           // canonical, as created
  std::map<std::string, StoredValue> values;  // by lower-case name
};

struct RegistryStore::Data {
  std::map<std::string, StoredKey> keys;  // by lower-case canonical path

  StoredKey* find(const std::string& canonical) {
    auto it = keys.find(lower(canonical));
    return it == keys.end() ? nullptr : &it->second;
  }

  // Adds the key and the keys above it (below the top level) when missing.
  StoredKey& ensure(const std::string& canonical) {
    size_t pos = canonical.find('\\');
    for (;;) {
      pos = canonical.find('\\', pos + 1);
      const std::string prefix = canonical.substr(0, pos);
      StoredKey& key = keys[lower(prefix)];
      if (key.path.empty()) key.path = prefix;
      if (pos == std::string::npos) return key;
    }
  }
};

const char* const RegistryStore::kEnvironmentVariable = "TVAN_REGISTRY_FILE";
const char* const RegistryStore::kDefaultFile = "/var/lib/tvan/registry";

std::string RegistryStore::defaultFileName() {
  const char* env = std::getenv(kEnvironmentVariable);
  if (env != nullptr && *env != '\0') return env;
  return kDefaultFile;
}

std::vector<std::string> RegistryStore::splitKey(const std::string& keyPath) {
  std::vector<std::string> parts;
  size_t start = 0;
  while (start <= keyPath.size()) {
    size_t sep = keyPath.find('\\', start);
    if (sep == std::string::npos) sep = keyPath.size();
    if (sep > start) parts.push_back(keyPath.substr(start, sep - start));
    start = sep + 1;
  }
  return parts;
}

bool RegistryStore::isTopLevelKey(const std::string& name) {
  const std::string u = upper(name);
  for (const char* top : kTopLevelKeys) {
    if (u == top) return true;
  }
  return false;
}

RegistryStore::RegistryStore(std::string fileName) : fileName_(std::move(fileName)) {}

void RegistryStore::load(Data& data) const {
  data.keys.clear();
  const int fd = ::open(fileName_.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) {
    if (errno == ENOENT) return;  // no file yet: an empty store
    fail(__LINE__, "Could not open store", fileName_, errno);
  }
  std::string text;
  char buffer[8192];
  for (;;) {
    const ssize_t n = ::read(fd, buffer, sizeof buffer);
    if (n < 0) {
      if (errno == EINTR) continue;
      const int err = errno;
      ::close(fd);
      fail(__LINE__, "Could not read store", fileName_, err);
    }
    if (n == 0) break;
    text.append(buffer, static_cast<size_t>(n));
  }
  ::close(fd);

  size_t start = 0;
  int lineNumber = 0;
  while (start < text.size()) {
    size_t end = text.find('\n', start);
    if (end == std::string::npos) end = text.size();
    const std::string line = text.substr(start, end - start);
    start = end + 1;
    ++lineNumber;
    if (line.empty() || line[0] == '#') continue;

    const std::vector<std::string> fields = splitFields(line);
    std::string key;
    bool ok = (fields[0] == "K" && fields.size() == 2) ||
              (fields[0] == "V" && fields.size() == 5);
    ok = ok && unescape(fields[1], key);
    if (ok) key = canonicalKey(key);
    ok = ok && !key.empty() && !isTopLevelOnly(key);
    if (ok && fields[0] == "K") {
      data.ensure(key);
      continue;
    }
    StoredValue value;
    std::string dataText;
    ok = ok && unescape(fields[2], value.name) && !value.name.empty() &&
         parseUnsigned(fields[3], 10, value.value.type) &&
         unescape(fields[4], dataText);
    if (ok && value.value.type == kDWord) {
      ok = dataText.size() > 2 && dataText.compare(0, 2, "0x") == 0 &&
           parseUnsigned(dataText.substr(2), 16, value.value.number);
    } else {
      value.value.text = dataText;
    }
    if (!ok) {
      fail(__LINE__, "Malformed line " + std::to_string(lineNumber) + " in store",
           fileName_, 0);
    }
    data.ensure(key).values[lower(value.name)] = value;
  }
}

void RegistryStore::save(const Data& data) const {
  std::string text = "# tvan registry store, one entry per line\n";
  for (const auto& k : data.keys) {
    const StoredKey& key = k.second;
    const std::string path = escape(key.path);
    text += "K\t" + path + "\n";
    for (const auto& v : key.values) {
      const Value& value = v.second.value;
      std::string dataText = value.text;
      if (value.type == kDWord) {
        char number[16];
        std::snprintf(number, sizeof number, "0x%x", value.number);
        dataText = number;
      }
      text += "V\t" + path + "\t" + escape(v.second.name) + "\t" +
              std::to_string(value.type) + "\t" + escape(dataText) + "\n";
    }
  }

  mode_t mode = 0644;
  struct stat st;
  if (::stat(fileName_.c_str(), &st) == 0) mode = st.st_mode & 07777;

  const std::string temporary = fileName_ + ".new";
  const int fd = ::open(temporary.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, mode);
  if (fd < 0) fail(__LINE__, "Could not create", temporary, errno);
  // On any failure (a full disk, typically) the temporary file goes and the
  // store stays as it was.
  int err = 0;
  size_t written = 0;
  while (err == 0 && written < text.size()) {
    const ssize_t n = ::write(fd, text.data() + written, text.size() - written);
    if (n >= 0) {
      written += static_cast<size_t>(n);
    } else if (errno != EINTR) {
      err = errno;
    }
  }
  if (err == 0 && ::fsync(fd) != 0) err = errno;
  if (::close(fd) != 0 && err == 0) err = errno;
  if (err != 0) {
    ::unlink(temporary.c_str());
    fail(__LINE__, "Could not write", temporary, err);
  }
  if (::rename(temporary.c_str(), fileName_.c_str()) != 0) {
    const int err = errno;
    ::unlink(temporary.c_str());
    fail(__LINE__, "Could not replace", fileName_, err);
  }
  // Make the rename itself durable.
  const size_t slash = fileName_.rfind('/');
  const std::string dir = slash == std::string::npos ? "." : slash == 0 ? "/" : fileName_.substr(0, slash);
  const int dirFd = ::open(dir.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (dirFd >= 0) {
    ::fsync(dirFd);
    ::close(dirFd);
  }
}

template <typename Change>
bool RegistryStore::modify(Change change) {
  LockFile lock(fileName_);
  Data data;
  load(data);
  const bool changed = change(data);
  if (changed) save(data);
  return changed;
}

bool RegistryStore::keyExists(const std::string& keyPath) const {
  const std::string canonical = canonicalKey(keyPath);
  if (canonical.empty()) return false;
  if (isTopLevelOnly(canonical)) return true;
  Data data;
  load(data);
  return data.find(canonical) != nullptr;
}

bool RegistryStore::createKey(const std::string& keyPath) {
  const std::string canonical = canonicalKey(keyPath);
  if (canonical.empty()) return false;
  if (isTopLevelOnly(canonical)) return true;
  modify([&](Data& data) {
    if (data.find(canonical) != nullptr) return false;
    data.ensure(canonical);
    return true;
  });
  return true;
}

bool RegistryStore::readValue(const std::string& keyPath, const std::string& name,
                              Value& out) const {
  const std::string canonical = canonicalKey(keyPath);
  if (canonical.empty() || isTopLevelOnly(canonical)) return false;
  Data data;
  load(data);
  const StoredKey* key = data.find(canonical);
  if (key == nullptr) return false;
  const auto it = key->values.find(lower(name));
  if (it == key->values.end()) return false;
  out = it->second.value;
  return true;
}

bool RegistryStore::writeValue(const std::string& keyPath, const std::string& name,
                               const Value& value, bool createKeys) {
  const std::string canonical = canonicalKey(keyPath);
  if (canonical.empty() || isTopLevelOnly(canonical) || name.empty()) return false;
  return modify([&](Data& data) {
    StoredKey* key = data.find(canonical);
    if (key == nullptr) {
      if (!createKeys) return false;
      key = &data.ensure(canonical);
    }
    StoredValue& stored = key->values[lower(name)];
    // A value keeps the case of its name from when it was first written.
    if (stored.name.empty()) stored.name = name;
    stored.value = value;
    if (value.type == kDWord) stored.value.text.clear();
    return true;
  });
}

bool RegistryStore::removeValue(const std::string& keyPath, const std::string& name) {
  const std::string canonical = canonicalKey(keyPath);
  if (canonical.empty() || isTopLevelOnly(canonical)) return false;
  return modify([&](Data& data) {
    StoredKey* key = data.find(canonical);
    return key != nullptr && key->values.erase(lower(name)) == 1;
  });
}

bool RegistryStore::removeKey(const std::string& keyPath) {
  const std::string canonical = canonicalKey(keyPath);
  if (canonical.empty() || isTopLevelOnly(canonical)) return false;
  const std::string wanted = lower(canonical);
  return modify([&](Data& data) {
    bool removed = false;
    for (auto it = data.keys.begin(); it != data.keys.end();) {
      if (it->first == wanted || it->first.compare(0, wanted.size() + 1, wanted + "\\") == 0) {
        it = data.keys.erase(it);
        removed = true;
      } else {
        ++it;
      }
    }
    return removed;
  });
}

void RegistryStore::list(const std::string& keyPath, std::vector<Entry>& values,
                         std::vector<std::string>& keys) const {
  values.clear();
  keys.clear();
  std::string wanted;
  if (!splitKey(keyPath).empty()) {
    wanted = lower(canonicalKey(keyPath));
    if (wanted.empty()) return;
  }
  Data data;
  load(data);
  for (const auto& k : data.keys) {
    const bool below = wanted.empty() || k.first == wanted ||
                       k.first.compare(0, wanted.size() + 1, wanted + "\\") == 0;
    if (!below) continue;
    keys.push_back(k.second.path);
    for (const auto& v : k.second.values) {
      values.push_back(Entry{k.second.path, v.second.name, v.second.value});
    }
  }
}

}  // namespace platform
}  // namespace tvan
