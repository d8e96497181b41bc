#pragma once
// Small-object memory for the XML tree (nodes, attributes, child-index
// entries). A parse creates hundreds of thousands of these; taking them from
// per-thread free lists of fixed-size blocks keeps parsing and freeing a large
// tree fast and free of heap fragmentation. Blocks are reused, never returned
// to the system. Any thread may free a block another thread allocated.
// Builds with AddressSanitizer use the plain heap, so that every object stays
// checked for misuse and leaks.
#include <cstddef>

namespace tvan {
namespace xmlpool {

// Storage for one object of `size` bytes (sizes above 256 use the heap).
void* allocate(std::size_t size);
// The same, returning null instead of throwing when memory is exhausted.
void* allocateNoThrow(std::size_t size) noexcept;
// Gives back storage that `allocate(size)` returned.
void release(void* block, std::size_t size) noexcept;

// Standard allocator over the pool, for node-based containers.
template <class T>
struct Allocator {
  using value_type = T;
  Allocator() noexcept = default;
  template <class U>
  Allocator(const Allocator<U>&) noexcept {}
  T* allocate(std::size_t n) { return static_cast<T*>(xmlpool::allocate(n * sizeof(T))); }
  void deallocate(T* block, std::size_t n) noexcept { xmlpool::release(block, n * sizeof(T)); }
  template <class U>
  bool operator==(const Allocator<U>&) const noexcept { return true; }
  template <class U>
  bool operator!=(const Allocator<U>&) const noexcept { return false; }
};

}  // namespace xmlpool
}  // namespace tvan
