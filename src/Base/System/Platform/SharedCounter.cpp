#include "Base/System/Platform/SharedCounter.h"

#include <fcntl.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include <map>
#include <memory>
#include <mutex>

namespace tvan {
namespace platform {

namespace {

constexpr size_t kObjectSize = 64;

// "/tvan_counter.<name>" with every character outside [A-Za-z0-9._-] as '_'.
std::string objectName(const std::string& name) {
  std::string out = "/tvan_counter.";
  for (char c : name) {
    const bool plain = (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') ||
                       c == '.' || c == '_' || c == '-';
    out.push_back(plain ? c : '_');
  }
  if (out.size() > 200) out.resize(200);
  return out;
}

uint64_t* mapShared(const std::string& name) {
  // fchmod rather than a cleared umask: the umask is process-wide.
  const int fd = ::shm_open(objectName(name).c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0666);
  if (fd < 0) return nullptr;
  ::fchmod(fd, 0666);
  struct stat st;
  // Growing to the same size from several processes at once is harmless, and
  // the new bytes read as zero.
  if (::fstat(fd, &st) != 0 ||
      (st.st_size < static_cast<off_t>(kObjectSize) && ::ftruncate(fd, kObjectSize) != 0)) {
    ::close(fd);
    return nullptr;
  }
  void* map = ::mmap(nullptr, kObjectSize, PROT_READ | PROT_WRITE, MAP_SHARED, fd, 0);
  ::close(fd);
  return map == MAP_FAILED ? nullptr : static_cast<uint64_t*>(map);
}

}  // namespace

SharedCounter& SharedCounter::forName(const std::string& name) {
  // Mappings live until process exit; there are only a few names.
  static std::mutex tableMutex;
  static auto* table = new std::map<std::string, std::unique_ptr<SharedCounter>>();
  std::lock_guard<std::mutex> hold(tableMutex);
  auto& slot = (*table)[name];
  if (!slot) {
    uint64_t* value = name.empty() ? nullptr : mapShared(name);
    slot.reset(new SharedCounter(value, value != nullptr));
    if (!value) slot->value_ = &slot->local_;
  }
  return *slot;
}

void SharedCounter::removeName(const std::string& name) {
  if (!name.empty()) ::shm_unlink(objectName(name).c_str());
}

uint64_t SharedCounter::load() const { return __atomic_load_n(value_, __ATOMIC_ACQUIRE); }

void SharedCounter::increment() { __atomic_add_fetch(value_, 1, __ATOMIC_ACQ_REL); }

}  // namespace platform
}  // namespace tvan
