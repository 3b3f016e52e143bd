// What checking an archive's records costs when its names are as deep as a name may be long:
// refusing 200 names of 2,047 components (4,095 bytes each, 1.6 MB) against reading an archive of
// the same size whose 200 names are as long in one component, in the same run. Both read the whole
// central directory; the deep names are refused at the first one. The figures are the time and the
// peak of the bytes the program holds from the heap during a check (every allocation of the
// program counted by this file's operator new), so they should stay within 2x of each other: the
// checks grow with the central directory, not with a name's depth.
#include <malloc.h>

#include <atomic>
#include <cstdlib>
#include <new>

#include "Ratios.h"
#include "container/peers/TestArchives.h"
#include "platform/foundation/ZipReader.h"

namespace {

// Bytes the program holds from operator new now, and the most it held since the last reset.
std::atomic<std::int64_t> gHeld{0};
std::atomic<std::int64_t> gPeak{0};

void* allocate(std::size_t size) {
  void* p = std::malloc(size ? size : 1);
  if (!p) throw std::bad_alloc();
  const auto held = gHeld.fetch_add(static_cast<std::int64_t>(malloc_usable_size(p))) +
                    static_cast<std::int64_t>(malloc_usable_size(p));
  for (auto peak = gPeak.load(); held > peak && !gPeak.compare_exchange_weak(peak, held);) {
  }
  return p;
}

void release(void* p) {
  if (!p) return;
  gHeld.fetch_sub(static_cast<std::int64_t>(malloc_usable_size(p)));
  std::free(p);
}

// Runs a check and reports the most it held above what was held before, in KiB ("peak_KiB").
template <class Check>
void measure(benchmark::State& state, Check&& check) {
  std::int64_t most = 0;
  for (auto _ : state) {
    const auto before = gHeld.load();
    gPeak.store(before);
    if (!check()) return state.SkipWithError("the archive was not read as expected");
    most = std::max(most, gPeak.load() - before);
  }
  state.counters["peak_KiB"] = static_cast<double>(most) / 1024.0;
}

void BM_ZipLimits_RefuseDeepNames(benchmark::State& state) {
  const auto archive = fxtest::testArchive("deep-names");
  measure(state, [&] {
    pf::Error error;
    return pf::ZipReader::entries(archive, {}, &error).empty() && error.code == pf::kZipBadEntryName;
  });
}
BENCHMARK(BM_ZipLimits_RefuseDeepNames)->Unit(benchmark::kMillisecond);

void BM_ZipLimits_ReadFlatNames(benchmark::State& state) {
  const auto archive = fxtest::testArchive("flat-names");
  measure(state, [&] { return pf::ZipReader::entries(archive, {}).size() == 200; });
}
BENCHMARK(BM_ZipLimits_ReadFlatNames)->Unit(benchmark::kMillisecond);

FX_BENCH_RATIO("zip limits: refusing 200 names 2,047 deep / reading 200 flat names, time",
               fxbench::seconds("BM_ZipLimits_RefuseDeepNames"), fxbench::seconds("BM_ZipLimits_ReadFlatNames"),
               fxbench::atMost(2));
FX_BENCH_RATIO("zip limits: refusing 200 names 2,047 deep / reading 200 flat names, peak heap",
               fxbench::counter("BM_ZipLimits_RefuseDeepNames", "peak_KiB"),
               fxbench::counter("BM_ZipLimits_ReadFlatNames", "peak_KiB"), fxbench::atMost(2));

}  // namespace

void* operator new(std::size_t size) { return allocate(size); }
void* operator new[](std::size_t size) { return allocate(size); }
void* operator new(std::size_t size, const std::nothrow_t&) noexcept {
  try {
    return allocate(size);
  } catch (...) {
    return nullptr;
  }
}
void* operator new[](std::size_t size, const std::nothrow_t& tag) noexcept { return operator new(size, tag); }
void operator delete(void* p) noexcept { release(p); }
void operator delete[](void* p) noexcept { release(p); }
void operator delete(void* p, std::size_t) noexcept { release(p); }
void operator delete[](void* p, std::size_t) noexcept { release(p); }

FX_BENCH_MAIN();
