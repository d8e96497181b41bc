#include "Base/System/Platform/NamedMutex.h"

#include <fcntl.h>
#include <pthread.h>
#include <sys/file.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <mutex>
#include <system_error>
#include <unordered_map>

namespace tvan {
namespace platform {

namespace {

// Layout of the shared object. The version is also part of the object's name.
constexpr uint32_t kLayoutVersion = 1;
constexpr uint32_t kMagic = 0x4b45464d;  // "KEFM"
constexpr uint32_t kReady = 1;
constexpr size_t kObjectSize = 4096;

struct SharedBlock {
  std::atomic<uint32_t> initialised;  // kReady once the fields below are set up
  uint32_t layoutVersion;
  uint32_t magic;
  uint32_t reserved;
  alignas(64) pthread_mutex_t mutex;
};
static_assert(sizeof(SharedBlock) <= kObjectSize, "shared block fits its object");
static_assert(std::atomic<uint32_t>::is_always_lock_free, "flag usable across processes");

// Sets up a recursive, robust mutex; `shared` makes it usable across processes.
int initRecursiveRobust(pthread_mutex_t* m, bool shared) {
  pthread_mutexattr_t attr;
  int rc = pthread_mutexattr_init(&attr);
  if (rc != 0) return rc;
  rc = pthread_mutexattr_settype(&attr, PTHREAD_MUTEX_RECURSIVE);
  if (rc == 0) rc = pthread_mutexattr_setrobust(&attr, PTHREAD_MUTEX_ROBUST);
  if (rc == 0 && shared) rc = pthread_mutexattr_setpshared(&attr, PTHREAD_PROCESS_SHARED);
  if (rc == 0) rc = pthread_mutex_init(m, &attr);
  pthread_mutexattr_destroy(&attr);
  return rc;
}

// A lock whose previous owner died is ours once marked consistent.
int recoverOwnerDied(pthread_mutex_t* m, int rc) {
  if (rc == EOWNERDEAD) return pthread_mutex_consistent(m);
  return rc;
}

class RobustMutex : public MutexPrimitive {
 public:
  explicit RobustMutex(pthread_mutex_t* m) : m_(m) {}
  int lock() override { return recoverOwnerDied(m_, pthread_mutex_lock(m_)); }
  int tryLock() override { return recoverOwnerDied(m_, pthread_mutex_trylock(m_)); }
  int timedLock(const timespec& deadline) override {
    return recoverOwnerDied(m_, pthread_mutex_timedlock(m_, &deadline));
  }
  int unlock() override { return pthread_mutex_unlock(m_); }

 protected:
  pthread_mutex_t* m_;  // not owned here
};

// The unnamed kind: a robust recursive mutex of this process only.
class PrivateMutex : public RobustMutex {
 public:
  PrivateMutex() : RobustMutex(&own_) {
    const int rc = initRecursiveRobust(&own_, false);
    if (rc != 0) throw std::system_error(rc, std::generic_category(), "pthread_mutex_init");
  }
  ~PrivateMutex() override { pthread_mutex_destroy(&own_); }

 private:
  pthread_mutex_t own_;
};

void throwErrno(const std::string& what) {
  throw std::system_error(errno, std::generic_category(), what);
}

// Closes the descriptor on every way out.
struct FdCloser {
  int fd;
  ~FdCloser() { ::close(fd); }
};

int openObject(const std::string& objectName) {
  for (;;) {
    int fd = shm_open(objectName.c_str(), O_RDWR | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
    if (fd >= 0) {
      // Every user must be able to open it, whatever our umask.
      (void)fchmod(fd, 0666);
      return fd;
    }
    if (errno != EEXIST) throwErrno("shm_open " + objectName);
    fd = shm_open(objectName.c_str(), O_RDWR | O_CLOEXEC, 0);
    if (fd >= 0) return fd;
    if (errno != ENOENT) throwErrno("shm_open " + objectName);
    // Removed in between by someone else: create it again.
  }
}

SharedBlock* mapObject(const std::string& objectName) {
  const int fd = openObject(objectName);
  FdCloser closer{fd};
  // The flock serialises set-up between processes; it goes with the
  // descriptor, so a creator that dies releases it.
  while (flock(fd, LOCK_EX) != 0) {
    if (errno != EINTR) throwErrno("flock " + objectName);
  }
  struct stat st;
  if (fstat(fd, &st) != 0) throwErrno("fstat " + objectName);
  if (static_cast<size_t>(st.st_size) < kObjectSize && ftruncate(fd, kObjectSize) != 0) {
    throwErrno("ftruncate " + objectName);
  }
  void* p = mmap(nullptr, kObjectSize, PROT_READ | PROT_WRITE, MAP_SHARED, fd, 0);
  if (p == MAP_FAILED) throwErrno("mmap " + objectName);
  auto* block = static_cast<SharedBlock*>(p);
  if (block->initialised.load(std::memory_order_acquire) != kReady) {
    // New, or its creator died before finishing: nobody can have used it yet.
    const int rc = initRecursiveRobust(&block->mutex, true);
    if (rc != 0) {
      munmap(p, kObjectSize);
      throw std::system_error(rc, std::generic_category(), "pthread_mutex_init " + objectName);
    }
    block->layoutVersion = kLayoutVersion;
    block->magic = kMagic;
    block->initialised.store(kReady, std::memory_order_release);
  } else if (block->layoutVersion != kLayoutVersion || block->magic != kMagic) {
    munmap(p, kObjectSize);
    throw std::system_error(EPROTO, std::generic_category(), "foreign layout " + objectName);
  }
  flock(fd, LOCK_UN);
  return block;
}

// Process-wide table of mapped names. Mappings stay for the life of the
// process: a mutex may be held while its last Mutex object goes.
struct Table {
  std::mutex mutex;
  std::unordered_map<std::string, SharedBlock*> blocks;
};

Table& table() {
  static Table* t = [] {
    auto* created = new Table;
    // A fork while another thread holds the table lock must not leave the
    // child with a lock nobody will release.
    pthread_atfork([] { table().mutex.lock(); }, [] { table().mutex.unlock(); },
                   [] { table().mutex.unlock(); });
    return created;
  }();
  return *t;
}

}  // namespace

std::string sharedObjectName(const std::u16string& name) {
  static const char kHex[] = "0123456789ABCDEF";
  std::string out = "/kef.mutex.1.";
  std::string escaped;
  for (char16_t c : name) {
    const bool plain = (c >= u'a' && c <= u'z') || (c >= u'A' && c <= u'Z') ||
                       (c >= u'0' && c <= u'9') || c == u'_' || c == u'-' || c == u'.';
    if (plain) {
      escaped += static_cast<char>(c);
    } else {
      escaped += '%';
      for (int shift = 12; shift >= 0; shift -= 4) escaped += kHex[(c >> shift) & 0xF];
    }
  }
  if (escaped.size() > 200) {
    // Keep the name within NAME_MAX; the hash keeps long names apart.
    uint64_t h = 1469598103934665603ull;
    for (char16_t c : name) {
      h ^= c;
      h *= 1099511628211ull;
    }
    char tail[20];
    std::snprintf(tail, sizeof tail, "~%016llx", static_cast<unsigned long long>(h));
    escaped = escaped.substr(0, 160) + tail;
  }
  return out + escaped;
}

MutexPrimitive* openNamedMutex(const std::u16string& name) {
  if (name.empty()) return new PrivateMutex;
  const std::string objectName = sharedObjectName(name);
  Table& t = table();
  std::lock_guard<std::mutex> guard(t.mutex);
  SharedBlock*& block = t.blocks[objectName];
  if (block == nullptr) {
    try {
      block = mapObject(objectName);
    } catch (...) {
      t.blocks.erase(objectName);
      throw;
    }
  }
  return new RobustMutex(&block->mutex);
}

}  // namespace platform
}  // namespace tvan
