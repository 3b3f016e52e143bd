#pragma once
// Allocation failures on demand. This header defines the global operator new and delete for the
// whole test program in place of the C++ library's (they take memory from malloc alike) and, while
// an AllocationFailures is alive, fails allocations of the thread that made it: the nth from then
// on (n from 1), and either only that one or every one after it too (memory exhausted for good).
// A failing operator new raises std::bad_alloc; the nothrow forms answer null. Other threads
// allocate as usual. Include it in exactly one source file of a program. ThreadSanitizer brings
// operators of its own that cannot be replaced: there nothing fails (kAvailable is false).

#include <cstddef>
#include <cstdlib>
#include <new>

#if defined(__SANITIZE_THREAD__)
#define FXTEST_OWN_OPERATOR_NEW 0
#elif defined(__has_feature)
#if __has_feature(thread_sanitizer)
#define FXTEST_OWN_OPERATOR_NEW 0
#endif
#endif
#ifndef FXTEST_OWN_OPERATOR_NEW
#define FXTEST_OWN_OPERATOR_NEW 1
#endif

namespace fxtest {

class AllocationFailures {
 public:
  enum class Mode { One, AllFromThen };
  static constexpr bool kAvailable = FXTEST_OWN_OPERATOR_NEW;

  AllocationFailures(std::size_t nth, Mode mode) : previous_(active()) {
    remaining_ = nth;
    mode_ = mode;
    active() = this;
  }
  ~AllocationFailures() { active() = previous_; }
  AllocationFailures(const AllocationFailures&) = delete;
  AllocationFailures& operator=(const AllocationFailures&) = delete;

  // How many allocations failed so far (0: the code under test made fewer than n).
  std::size_t failed() const { return failed_; }

  // Whether the calling thread's next allocation fails; counts it.
  static bool nextFails() noexcept {
    AllocationFailures* self = active();
    if (!self) return false;
    if (self->remaining_ > 1) {
      --self->remaining_;
      return false;
    }
    if (self->remaining_ == 0 && self->mode_ == Mode::One) return false;
    self->remaining_ = 0;
    ++self->failed_;
    return true;
  }

 private:
  static AllocationFailures*& active() noexcept {
    thread_local AllocationFailures* instance = nullptr;
    return instance;
  }

  AllocationFailures* previous_;
  std::size_t remaining_ = 0;  // allocations until the failing one (1: the next); 0 once it came
  Mode mode_ = Mode::One;
  std::size_t failed_ = 0;
};

}  // namespace fxtest

#if FXTEST_OWN_OPERATOR_NEW

namespace fxtest::detail {

inline void* allocate(std::size_t size) {
  if (AllocationFailures::nextFails()) throw std::bad_alloc();
  if (void* p = std::malloc(size ? size : 1)) return p;
  throw std::bad_alloc();
}

inline void* allocateOrNull(std::size_t size) noexcept {
  if (AllocationFailures::nextFails()) return nullptr;
  return std::malloc(size ? size : 1);
}

}  // namespace fxtest::detail

void* operator new(std::size_t size) { return fxtest::detail::allocate(size); }
void* operator new[](std::size_t size) { return fxtest::detail::allocate(size); }
void* operator new(std::size_t size, const std::nothrow_t&) noexcept { return fxtest::detail::allocateOrNull(size); }
void* operator new[](std::size_t size, const std::nothrow_t&) noexcept { return fxtest::detail::allocateOrNull(size); }
void operator delete(void* p) noexcept { std::free(p); }
void operator delete[](void* p) noexcept { std::free(p); }
void operator delete(void* p, std::size_t) noexcept { std::free(p); }
void operator delete[](void* p, std::size_t) noexcept { std::free(p); }
void operator delete(void* p, const std::nothrow_t&) noexcept { std::free(p); }
void operator delete[](void* p, const std::nothrow_t&) noexcept { std::free(p); }

#endif  // FXTEST_OWN_OPERATOR_NEW
