// The animated GIF view's peak memory against the platform's still image of the same file, each
// made in a forked child from bytes the parent prepared: the child resets its resident high-water
// mark (/proc/self/clear_refs), does the work, and reports how far its resident memory rose above
// where it started ("peak_MB"). Files: a 5000 x 5000 screen of one frame, a 4000 x 4000 screen of
// two frames (the most the view keeps of that size), and a 750 x 1334 phone screen of 30 frames;
// every frame fills the screen (giflib's encoder, four colours in stripes).
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <fstream>
#include <functional>
#include <map>
#include <string>
#include <tuple>

#include "GifTestSupport.h"
#include "Ratios.h"
#include "platform/ui/Image.h"
#include "widgets/TnqGIFImageView.h"

namespace {

const pf::Bytes& file(int w, int h, int frames) {
  static std::map<std::tuple<int, int, int>, pf::Bytes> files;
  auto& bytes = files[{w, h, frames}];
  if (bytes.empty()) bytes = giftest::fullFrames(w, h, frames);
  return bytes;
}

// A line of /proc/self/status ("VmRSS:", "VmHWM:") in kB, -1 when missing.
long statusKB(const std::string& key) {
  std::ifstream in("/proc/self/status");
  std::string line;
  while (std::getline(in, line))
    if (line.rfind(key, 0) == 0) return std::stol(line.substr(key.size()));
  return -1;
}

// The rise of the resident memory over its start while `work` runs in a forked child, in MB;
// negative when it could not be measured.
double peakRiseMB(const std::function<void()>& work) {
  int fds[2];
  if (pipe(fds) != 0) return -1;
  const pid_t child = fork();
  if (child < 0) return -1;
  if (child == 0) {
    close(fds[0]);
    long rise = -1;
    std::ofstream reset("/proc/self/clear_refs");
    reset << "5";  // the high-water mark starts again at the resident size
    reset.close();
    const long start = statusKB("VmRSS:");
    // The mark was reset: it stands within a few pages' reading of the start.
    if (reset && start >= 0 && statusKB("VmHWM:") <= start + 4096) {
      work();
      rise = statusKB("VmHWM:") - start;
    }
    [[maybe_unused]] auto n = write(fds[1], &rise, sizeof rise);
    _exit(0);
  }
  close(fds[1]);
  long rise = -1;
  if (read(fds[0], &rise, sizeof rise) != static_cast<ssize_t>(sizeof rise)) rise = -1;
  close(fds[0]);
  int status = 0;
  waitpid(child, &status, 0);
  return rise < 0 ? -1 : static_cast<double>(rise) / 1024.0;
}

void measure(benchmark::State& state, const std::function<void(const pf::Bytes&)>& make) {
  const pf::Bytes& bytes = file(static_cast<int>(state.range(0)), static_cast<int>(state.range(1)),
                                static_cast<int>(state.range(2)));
  double peak = 0;
  for (auto _ : state) {
    peak = peakRiseMB([&] { make(bytes); });
    if (peak < 0) {
      state.SkipWithError("no resident high-water mark to read");
      return;
    }
  }
  state.counters["peak_MB"] = peak;
  state.counters["file_MB"] = static_cast<double>(bytes.size()) / (1 << 20);
}

void BM_GifViewPeakMemory(benchmark::State& state) {
  measure(state, [](const pf::Bytes& bytes) {
    auto view = widgets::TnqGIFImageView::initWithGIFData(bytes);
    benchmark::DoNotOptimize(view.get());
  });
}

void BM_StillImagePeakMemory(benchmark::State& state) {
  measure(state, [](const pf::Bytes& bytes) {
    auto image = pf::Image::fromData(bytes);
    benchmark::DoNotOptimize(image.get());
  });
}

void files(benchmark::internal::Benchmark* b) {
  b->Args({5000, 5000, 1})->Args({4000, 4000, 2})->Args({750, 1334, 30});
  b->Iterations(1)->UseRealTime()->Unit(benchmark::kMillisecond);
}
BENCHMARK(BM_GifViewPeakMemory)->Apply(files);
BENCHMARK(BM_StillImagePeakMemory)->Apply(files);

// Memory over memory: how many times the still image's peak.
FX_BENCH_RATIO("GIF view peak memory / still image's, 5000 x 5000, one frame",
               fxbench::counter("BM_GifViewPeakMemory/5000/5000/1", "peak_MB"),
               fxbench::counter("BM_StillImagePeakMemory/5000/5000/1", "peak_MB"), fxbench::atMost(1.1));
FX_BENCH_RATIO("GIF view peak memory / still image's, 4000 x 4000, two frames",
               fxbench::counter("BM_GifViewPeakMemory/4000/4000/2", "peak_MB"),
               fxbench::counter("BM_StillImagePeakMemory/4000/4000/2", "peak_MB"), fxbench::atMost(2.5));
FX_BENCH_RATIO("GIF view peak memory / still image's, 750 x 1334, 30 frames",
               fxbench::counter("BM_GifViewPeakMemory/750/1334/30", "peak_MB"),
               fxbench::counter("BM_StillImagePeakMemory/750/1334/30", "peak_MB"));

}  // namespace

FX_BENCH_MAIN();
