#pragma once
// What the test program holds through operator new, and the most it held since a mark: this
// program's operator new and delete (HeapPeak.cc) count every allocation at the size malloc gave
// it, on every thread. They replace the sanitizer's, whose new/delete checks are then lost, so
// HeapPeak.cc is linked only into an executable of the tests that count. ThreadSanitizer brings
// operators of its own that cannot be replaced: there nothing is counted (kHeapCounted is false).

#include <cstdint>

#if defined(__SANITIZE_THREAD__)
#define FXTEST_HEAP_COUNTED 0
#elif defined(__has_feature)
#if __has_feature(thread_sanitizer)
#define FXTEST_HEAP_COUNTED 0
#endif
#endif
#ifndef FXTEST_HEAP_COUNTED
#define FXTEST_HEAP_COUNTED 1
#endif

namespace fxtest {

inline constexpr bool kHeapCounted = FXTEST_HEAP_COUNTED;

// Starts a new peak from what is held now; answers that.
std::int64_t markHeapPeak();
// The most held since the last mark.
std::int64_t heapPeak();

}  // namespace fxtest
