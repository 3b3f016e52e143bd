// Installing a page package (every name and flag checked, unpacked into a staging folder with
// descriptors, CRCs and sizes counted, flushed to disk, swapped in, the old tree removed) against
// bare minizip extraction of the same archive, flushed to disk alike (the old tree then removed),
// taken in turns in the same run. The
// archive: 500 files, about 5 MiB unpacked, in 20 folders, deflated.
#include <fcntl.h>
#include <sys/syscall.h>
#include <unistd.h>
#include <unzip.h>
#include <zip.h>

#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <optional>
#include <random>
#include <string>
#include <vector>

#include "BareMinizip.h"
#include "Ratios.h"
#include "container/MwPackageInstaller.h"
#include "support/TestSupport.h"

namespace {

namespace fs = std::filesystem;

struct Package {
  fxtest::TempDir dir;
  fs::path archive = dir / "page.zip";
  bool ready = false;

  Package() {
    zipFile zip = zipOpen64(archive.c_str(), APPEND_STATUS_CREATE);
    if (!zip) return;
    std::mt19937 random(7);
    std::string text;
    for (int i = 0; i < 500; ++i) {
      // Page-like text: words from a small vocabulary, so it deflates about as HTML does.
      static const char* words[] = {"<div class=\"rate\">", "USD", "CNY", "</div>", "7.1234", "\n", "买入", "卖出"};
      text.clear();
      while (text.size() < 10 * 1024) text += words[random() % 8];
      const std::string name = "folder" + std::to_string(i % 20) + "/page" + std::to_string(i) + ".html";
      zip_fileinfo info{};
      if (zipOpenNewFileInZip(zip, name.c_str(), &info, nullptr, 0, nullptr, 0, nullptr, Z_DEFLATED, 6) != ZIP_OK ||
          zipWriteInFileInZip(zip, text.data(), static_cast<unsigned>(text.size())) != ZIP_OK ||
          zipCloseFileInZip(zip) != ZIP_OK)
        return;
    }
    ready = zipClose(zip, nullptr) == ZIP_OK;
  }
};

Package& package() {
  static Package instance;
  return instance;
}

// The pages of the files under `tree` that are written in memory only (dirty, or on their way to
// the disk); nothing when the kernel cannot tell (cachestat, Linux 6.5).
std::optional<std::uint64_t> unflushedPages(const fs::path& tree) {
  struct Range {
    std::uint64_t offset = 0, length = 0;  // 0: to the end
  };
  struct Stat {
    std::uint64_t cached, dirty, writeback, evicted, recentlyEvicted;
  };
  constexpr long kCachestat = 451;
  std::uint64_t pages = 0;
  std::error_code ec;
  for (const auto& entry : fs::recursive_directory_iterator(tree, ec)) {
    if (!entry.is_regular_file()) continue;
    const int fd = ::open(entry.path().c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) return std::nullopt;
    Range range;
    Stat stat{};
    const long r = ::syscall(kCachestat, fd, &range, &stat, 0);
    ::close(fd);
    if (r != 0) return std::nullopt;
    pages += stat.dirty + stat.writeback;
  }
  return pages;
}

// Each turn takes both roads, who goes first alternating, each in a fresh folder of its own that
// already holds the package's tree (made untimed, and flushed to disk as the install flushes its
// own): the install replaces it (unpacks, checks and swaps in the new tree, removes the old one),
// the bare road extracts the package beside it and removes the old tree. So both create and
// delete the same files, both flush only the tree their timed part writes, and both meet the same
// state of the file system, whose cost drifts with the churn of the last minutes. A set-up tree
// left in memory only fails the row: the next flush, on the clock, would write it too.
void BM_Unpack_InstallAgainstBareMinizipInTurns(benchmark::State& state) {
  if (!package().ready) return state.SkipWithError("no package");
  const fs::path& archive = package().archive;
  fxbench::Turns turns("install", "bare");
  std::string failure = "a road failed";
  const auto fail = [&](std::string why) {
    failure = std::move(why);
    return -1.0;
  };
  const auto flushed = [](const fs::path& tree) { return unflushedPages(tree).value_or(0) == 0; };
  const auto install = [&] {
    fxtest::TempDir folder;
    const fs::path target = folder / "release" / "trade";
    if (!container::MwPackageInstaller::install(archive, target)) return fail("the first install failed");
    if (!flushed(target)) return fail("the first install left its tree unflushed");
    bool ok = true;
    const double seconds = fxbench::secondsOf([&] { ok = container::MwPackageInstaller::install(archive, target); });
    return ok ? seconds : fail("the install failed");
  };
  const auto bare = [&] {
    fxtest::TempDir folder;
    if (!bench::bareExtract(archive, folder / "old") || !bench::bareFlush(folder / "old"))
      return fail("the first bare extraction failed");
    if (!flushed(folder / "old")) return fail("the first bare extraction left its tree unflushed");
    bool ok = true;
    const double seconds = fxbench::secondsOf([&] {
      ok = bench::bareExtract(archive, folder / "new") && bench::bareFlush(folder / "new");
      fs::remove_all(folder / "old");
    });
    return ok ? seconds : fail("the bare extraction failed");
  };
  if (!turns.run(state, install, bare, failure)) return;
  state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations()) * 500 * 10 * 1024);
}

// Six turns a repetition: three with each road first.
BENCHMARK(BM_Unpack_InstallAgainstBareMinizipInTurns)->Iterations(6)->UseManualTime()->Unit(benchmark::kMillisecond);

FX_BENCH_RATIO("unpack: page package install / bare minizip extraction, flushed alike (in turns)",
               fxbench::counterRate("BM_Unpack_InstallAgainstBareMinizipInTurns", "install_ms"),
               fxbench::counterRate("BM_Unpack_InstallAgainstBareMinizipInTurns", "bare_ms"), fxbench::atLeast(0.6));

}  // namespace

FX_BENCH_MAIN();
