#pragma once
// Handle<T>: holds one reference to a Collectable-derived T (or nothing).
// Copies share the object; the last handle released deletes it.
#include <utility>

namespace tvan {

template <class T>
class Handle {
 public:
  Handle() = default;
  Handle(T* p) : p_(p) {  // NOLINT: implicit, like assigning a pointer
    if (p_) p_->addReference();
  }
  Handle(const Handle& other) : Handle(other.p_) {}
  Handle(Handle&& other) noexcept : p_(other.p_) { other.p_ = nullptr; }
  ~Handle() { reset(); }

  // Assigning the held pointer changes nothing. The new object is referenced
  // before the old one is released, so an old object that owns the new one
  // cannot take it along.
  Handle& operator=(T* p) {
    if (p != p_) {
      T* old = p_;
      p_ = p;
      if (p_) p_->addReference();
      if (old) old->removeReference();
    }
    return *this;
  }
  Handle& operator=(const Handle& other) { return *this = other.p_; }
  Handle& operator=(Handle&& other) noexcept {
    if (this != &other) {
      reset();
      p_ = other.p_;
      other.p_ = nullptr;
    }
    return *this;
  }

  void reset() {
    T* old = p_;
    p_ = nullptr;
    if (old) old->removeReference();
  }

  T* get() const { return p_; }
  T* operator->() const { return p_; }
  T& operator*() const { return *p_; }
  operator T*() const { return p_; }  // NOLINT

 private:
  T* p_ = nullptr;
};

}  // namespace tvan
