#include "HeapPeak.h"

#include <malloc.h>

#include <atomic>
#include <cstdlib>
#include <new>

namespace {

std::atomic<std::int64_t> gHeld{0};
std::atomic<std::int64_t> gPeak{0};

}  // namespace

namespace fxtest {

std::int64_t markHeapPeak() {
  const auto held = gHeld.load();
  gPeak.store(held);
  return held;
}

std::int64_t heapPeak() { return gPeak.load(); }

}  // namespace fxtest

#if FXTEST_HEAP_COUNTED

namespace {

void* counted(void* p) {
  if (!p) throw std::bad_alloc();
  const auto size = static_cast<std::int64_t>(malloc_usable_size(p));
  const auto held = gHeld.fetch_add(size) + size;
  for (auto peak = gPeak.load(); held > peak && !gPeak.compare_exchange_weak(peak, held);) {
  }
  return p;
}

void released(void* p) noexcept {
  if (!p) return;
  gHeld.fetch_sub(static_cast<std::int64_t>(malloc_usable_size(p)));
  std::free(p);
}

void* allocate(std::size_t size) { return counted(std::malloc(size ? size : 1)); }

void* allocate(std::size_t size, std::align_val_t align) {
  const auto a = static_cast<std::size_t>(align);
  return counted(std::aligned_alloc(a, (size + a - 1) / a * a));
}

}  // namespace

void* operator new(std::size_t size) { return allocate(size); }
void* operator new[](std::size_t size) { return allocate(size); }
void* operator new(std::size_t size, std::align_val_t align) { return allocate(size, align); }
void* operator new[](std::size_t size, std::align_val_t align) { return allocate(size, align); }
void* operator new(std::size_t size, const std::nothrow_t&) noexcept {
  try {
    return allocate(size);
  } catch (const std::bad_alloc&) {
    return nullptr;
  }
}
void* operator new[](std::size_t size, const std::nothrow_t& tag) noexcept { return operator new(size, tag); }
void* operator new(std::size_t size, std::align_val_t align, const std::nothrow_t&) noexcept {
  try {
    return allocate(size, align);
  } catch (const std::bad_alloc&) {
    return nullptr;
  }
}
void* operator new[](std::size_t size, std::align_val_t align, const std::nothrow_t& tag) noexcept {
  return operator new(size, align, tag);
}

void operator delete(void* p) noexcept { released(p); }
void operator delete[](void* p) noexcept { released(p); }
void operator delete(void* p, std::size_t) noexcept { released(p); }
void operator delete[](void* p, std::size_t) noexcept { released(p); }
void operator delete(void* p, std::align_val_t) noexcept { released(p); }
void operator delete[](void* p, std::align_val_t) noexcept { released(p); }
void operator delete(void* p, std::size_t, std::align_val_t) noexcept { released(p); }
void operator delete[](void* p, std::size_t, std::align_val_t) noexcept { released(p); }
void operator delete(void* p, const std::nothrow_t&) noexcept { released(p); }
void operator delete[](void* p, const std::nothrow_t&) noexcept { released(p); }
void operator delete(void* p, std::align_val_t, const std::nothrow_t&) noexcept { released(p); }
void operator delete[](void* p, std::align_val_t, const std::nothrow_t&) noexcept { released(p); }

#endif
