#include "Base/System/Platform/SharedCounter.h"

#include <fcntl.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <map>
#include <memory>
#include <mutex>

#include "Base/System/Platform/SharedObjectAccess.h"

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
  const std::string object = objectName(name);
  const SharedObjectAccess::Opened opened =
      SharedObjectAccess::current().open(SharedObjectAccess::kSharedMemory, object, O_RDWR, true);
  const int fd = opened.fd;
  if (fd < 0) {
    if (!opened.refusal.empty() || errno == EACCES || errno == EPERM) {
      std::fprintf(stderr, "Shared counter refused: the shared object %s %s; the counter is private to this process.\n",
                   SharedObjectAccess::describe(SharedObjectAccess::kSharedMemory, object).c_str(),
                   opened.refusal.empty() ? "may not be opened by this user" : opened.refusal.c_str());
    }
    return nullptr;
  }
  // Growing to the same size from several processes at once is harmless, and
  // the new bytes read as zero.
  const struct stat& st = opened.status;
  if (st.st_size < static_cast<off_t>(kObjectSize) && ::ftruncate(fd, kObjectSize) != 0) {
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
