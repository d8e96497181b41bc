#include "Base/System/Platform/NamedMutex.h"

#include <fcntl.h>
#include <pthread.h>
#include <sys/file.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <time.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <mutex>
#include <system_error>
#include <unordered_map>

#include "Base/System/Platform/Clock.h"
#include "Base/System/Platform/Futex.h"
#include "Base/System/Platform/SharedObjectAccess.h"

namespace tvan {
namespace platform {

namespace {

// Layout of the shared object. The version is also part of the object's name.
constexpr uint32_t kLayoutVersion = 2;
constexpr uint32_t kMagic = 0x4b45464d;  // "KEFM"
constexpr uint32_t kReady = 1;
constexpr size_t kObjectSize = 4096;
// The owner word of a refused name: never free, so that the inline fast path
// never takes it and every lock call reaches the refusal.
constexpr uint64_t kRefusedWord = ~uint64_t{0};

struct SharedBlock {
  std::atomic<uint32_t> initialised;  // kReady once the fields below are set up
  uint32_t layoutVersion;
  uint32_t magic;
  uint32_t reserved;
  alignas(kOwnerWordOffset) std::atomic<uint64_t> owner;
};
static_assert(offsetof(SharedBlock, owner) == kOwnerWordOffset, "owner word where documented");
static_assert(sizeof(SharedBlock) <= kObjectSize, "shared block fits its object");
static_assert(std::atomic<uint64_t>::is_always_lock_free, "owner word usable across processes");
// Waiters sleep on the owner word's low half, which holds the thread id.
static_assert(__BYTE_ORDER__ == __ORDER_LITTLE_ENDIAN__, "futex half of the owner word comes first");

// Set in the owner word's futex half once someone sleeps on it.
constexpr uint64_t kWaitersBit = 0x80000000u;
// When a waiter checks whether a holder that keeps the lock has ended: once
// after kFirstCheckNanos (a lock left by a crashed process is then taken
// almost at once, while a short hold costs no check), then every
// kCheckPeriodNanos. A sleep lasts until the next check at most.
constexpr long long kFirstCheckNanos = 1000000LL;
constexpr long long kCheckPeriodNanos = 100 * 1000000LL;
// Spins before sleeping: a holder running on another processor usually lets
// go sooner than a sleep and a wake-up take.
constexpr int kSpins = 100;

bool isFree(uint64_t word) { return ownerThreadId(word) == 0; }

long long nanosUntil(const timespec& deadline) {
  timespec now;
  clock_gettime(CLOCK_REALTIME, &now);
  return (static_cast<long long>(deadline.tv_sec) - now.tv_sec) * 1000000000LL +
         (deadline.tv_nsec - now.tv_nsec);
}

}  // namespace

__thread HeldNamedLocks tlsHeldNamedLocks __attribute__((tls_model("initial-exec")));

NamedLock::NamedLock(std::atomic<uint64_t>* word) : word_(word != nullptr ? word : &privateWord_) {}

NamedLock* NamedLock::refused(int error) {
  auto* lock = new NamedLock(nullptr);
  lock->privateWord_.store(kRefusedWord, std::memory_order_relaxed);
  lock->refusal_ = error;
  return lock;
}

bool NamedLock::holderHasEnded(uint64_t seen, uint64_t self) const {
  // Callers do not hold the lock, so a word naming our thread id was left by
  // an earlier thread with the same id (or is forged).
  if (ownerThreadId(seen) == ownerThreadId(self)) return true;
  return ownerHasEnded(seen & ~kWaitersBit);
}

bool NamedLock::take(uint64_t& seen, uint64_t self) {
  return word_->compare_exchange_strong(seen, self | (seen & kWaitersBit), std::memory_order_acquire,
                                        std::memory_order_relaxed);
}

int NamedLock::lock() {
  if (lockFast()) return 0;
  if (refusal_ != 0) return refusal_;
  HeldNamedLocks& held = tlsHeldNamedLocks;
  if (held.count == HeldNamedLocks::kCapacity && find(held) == nullptr) return ENOLCK;
  // Only a first lock of this thread (its identity was not made yet) or a
  // contended one gets here.
  const uint64_t self = lockOwner();
  if (!lockFast()) {
    lockContended(self, nullptr);
    remember(held);
    enterProtected();
  }
  return 0;
}

int NamedLock::tryLock() {
  if (refusal_ != 0) return refusal_;
  HeldNamedLocks& held = tlsHeldNamedLocks;
  if (HeldNamedLocks::Hold* hold = find(held)) {
    ++hold->depth;
    enterProtected();
    return 0;
  }
  if (held.count == HeldNamedLocks::kCapacity) return ENOLCK;
  const uint64_t self = lockOwner();
  uint64_t seen = word_->load(std::memory_order_relaxed);
  for (;;) {
    if (!isFree(seen) && !holderHasEnded(seen, self)) return EBUSY;
    if (take(seen, self)) break;
  }
  remember(held);
  enterProtected();
  return 0;
}

int NamedLock::timedLock(const timespec& deadline) {
  if (refusal_ != 0) return refusal_;
  HeldNamedLocks& held = tlsHeldNamedLocks;
  if (held.count == HeldNamedLocks::kCapacity && find(held) == nullptr) return ENOLCK;
  const uint64_t self = lockOwner();
  if (!lockFast()) {
    const int rc = lockContended(self, &deadline);
    if (rc != 0) return rc;
    remember(held);
    enterProtected();
  }
  return 0;
}

int NamedLock::lockContended(uint64_t self, const timespec* deadline) {
  const bool shared = isShared();
  for (int i = 0; i < kSpins; ++i) {
    cpuRelax();
    uint64_t seen = word_->load(std::memory_order_relaxed);
    if (isFree(seen) && take(seen, self)) return 0;
  }
  // The holder under watch, since when, and when it is due to be checked
  // (relative to watchedSince).
  uint64_t watched = 0;
  long long watchedSince = 0;
  long long checkAt = 0;
  uint64_t seen = word_->load(std::memory_order_relaxed);
  for (;;) {
    if (isFree(seen)) {
      // Others may still sleep: set the waiters bit so that our unlock wakes
      // the next one.
      if (word_->compare_exchange_weak(seen, self | kWaitersBit, std::memory_order_acquire,
                                       std::memory_order_relaxed)) {
        return 0;
      }
      continue;
    }
    const long long now = static_cast<long long>(monotonicNanos());
    const uint64_t holder = seen & ~kWaitersBit;
    if (holder != watched) {
      watched = holder;
      watchedSince = now;
      checkAt = kFirstCheckNanos;
    }
    const long long watchedFor = now - watchedSince;
    if (watchedFor >= checkAt || ownerThreadId(holder) == ownerThreadId(self)) {
      checkAt = watchedFor + kCheckPeriodNanos;
      if (holderHasEnded(seen, self)) {
        if (word_->compare_exchange_strong(seen, self | kWaitersBit, std::memory_order_acquire,
                                           std::memory_order_relaxed)) {
          return 0;
        }
        continue;
      }
    }
    if ((seen & kWaitersBit) == 0) {
      if (!word_->compare_exchange_weak(seen, seen | kWaitersBit, std::memory_order_relaxed,
                                        std::memory_order_relaxed)) {
        continue;
      }
      seen |= kWaitersBit;
    }
    long long wait = checkAt - watchedFor;
    if (deadline != nullptr) {
      const long long left = nanosUntil(*deadline);
      if (left <= 0) return ETIMEDOUT;
      if (left < wait) wait = left;
    }
    futexWait(word_, static_cast<uint32_t>(seen), shared, wait);
    seen = word_->load(std::memory_order_relaxed);
  }
}

bool NamedLock::unlock() {
  HeldNamedLocks& held = tlsHeldNamedLocks;
  HeldNamedLocks::Hold* hold = find(held);
  if (hold == nullptr) return false;
  if (hold->depth > 1) {
    --hold->depth;
  } else {
    forget(held, hold);
    const uint64_t self = tlsLockOwner;
    uint64_t seen = word_->load(std::memory_order_relaxed);
    // Only a word that still names us is ours to clear; anything else was
    // forged, or taken by a peer that judged us gone.
    while ((seen & ~kWaitersBit) == self) {
      if (word_->compare_exchange_weak(seen, 0, std::memory_order_release, std::memory_order_relaxed)) {
        if ((seen & kWaitersBit) != 0) futexWake(word_, 1, isShared());
        break;
      }
    }
  }
  leaveProtected();
  return true;
}

namespace {

void throwErrno(const std::string& what) {
  throw std::system_error(errno, std::generic_category(), what);
}

// Closes the descriptor on every way out.
struct FdCloser {
  int fd;
  ~FdCloser() { ::close(fd); }
};

// The object of `objectName`, created or joined under the trust rules; -1
// with `refusal` set when it may not be joined or opened.
int openObject(const std::string& objectName, std::string& refusal) {
  const SharedObjectAccess::Opened opened = SharedObjectAccess::current().open(
      SharedObjectAccess::kSharedMemory, objectName, O_RDWR, true);
  if (opened.fd >= 0) return opened.fd;
  if (!opened.refusal.empty()) {
    refusal = opened.refusal;
  } else if (errno == EACCES || errno == EPERM) {
    refusal = "may not be opened by this user";
  } else {
    throwErrno("shm_open " + objectName);
  }
  return -1;
}

// The object's shared block, or null with `refusal` set.
SharedBlock* mapObject(const std::string& objectName, std::string& refusal) {
  const int fd = openObject(objectName, refusal);
  if (fd < 0) return nullptr;
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
    block->owner.store(0, std::memory_order_relaxed);
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

// Process-wide table of named locks. They and their mappings stay for the
// life of the process: a lock may be held while its last Mutex object goes.
struct Table {
  std::mutex mutex;
  std::unordered_map<std::string, NamedLock*> locks;
};

Table& table() {
  static Table* t = [] {
    auto* created = new Table;
    // A fork while another thread holds the table lock must not leave the
    // child with a lock nobody will release.
    // The child's thread holds none of what its parent thread held.
    pthread_atfork([] { table().mutex.lock(); }, [] { table().mutex.unlock(); },
                   [] {
                     tlsHeldNamedLocks.count = 0;
                     table().mutex.unlock();
                   });
    return created;
  }();
  return *t;
}

}  // namespace

std::string sharedObjectName(const std::u16string& name) {
  static const char kHex[] = "0123456789ABCDEF";
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
  return "/kef.mutex." + std::to_string(kLayoutVersion) + "." + escaped;
}

NamedLock* openNamedMutex(const std::u16string& name) {
  Table& t = table();  // also sets up the fork handlers before any hold
  if (name.empty()) return new NamedLock(nullptr);
  const std::string objectName = sharedObjectName(name);
  std::lock_guard<std::mutex> guard(t.mutex);
  NamedLock*& lock = t.locks[objectName];
  if (lock == nullptr) {
    try {
      std::string refusal;
      SharedBlock* block = mapObject(objectName, refusal);
      if (block != nullptr) {
        lock = new NamedLock(&block->owner);
      } else {
        // Said once: the refused lock stays in the table for the process.
        std::fprintf(stderr, "System-wide mutex refused: the shared object %s %s; locking it fails.\n",
                     SharedObjectAccess::describe(SharedObjectAccess::kSharedMemory, objectName).c_str(),
                     refusal.c_str());
        lock = NamedLock::refused(EACCES);
      }
    } catch (...) {
      t.locks.erase(objectName);
      throw;
    }
  }
  return lock;
}

void closeNamedMutex(NamedLock* lock) {
  // Named locks, refused ones too, belong to the table.
  if (lock != nullptr && !lock->isShared() && lock->refusal() == 0) delete lock;
}

}  // namespace platform
}  // namespace tvan
