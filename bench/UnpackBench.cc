// Installing a page package (every name and flag checked, unpacked into a staging folder with
// descriptors, CRCs and sizes counted, swapped in, the old tree removed) next to bare minizip
// extraction of the same archive into a fresh folder (then removed) in the same run. The archive:
// 500 files, about 5 MiB unpacked, in 20 folders, deflated.
#include <benchmark/benchmark.h>
#include <unzip.h>
#include <zip.h>

#include <cstdio>
#include <filesystem>
#include <random>
#include <string>
#include <vector>

#include "BareMinizip.h"
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

void BM_Unpack_BareMinizip(benchmark::State& state) {
  if (!package().ready) return state.SkipWithError("no package");
  const fs::path out = package().dir / "bare";
  for (auto _ : state) {
    if (!bench::bareExtract(package().archive, out)) return state.SkipWithError("extraction failed");
    fs::remove_all(out);
  }
  state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations()) * 500 * 10 * 1024);
}

void BM_Unpack_InstallPagePackage(benchmark::State& state) {
  if (!package().ready) return state.SkipWithError("no package");
  const fs::path target = package().dir / "release" / "trade";
  pf::Error error;
  if (!container::MwPackageInstaller::install(package().archive, target, {}, {}, &error))
    return state.SkipWithError("install failed");
  for (auto _ : state) {
    if (!container::MwPackageInstaller::install(package().archive, target, {}, {}, &error))
      return state.SkipWithError("install failed");
  }
  state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations()) * 500 * 10 * 1024);
}

BENCHMARK(BM_Unpack_BareMinizip)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_Unpack_InstallPagePackage)->Unit(benchmark::kMillisecond)->UseRealTime();

}  // namespace

BENCHMARK_MAIN();
