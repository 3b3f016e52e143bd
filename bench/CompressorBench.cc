// gzip of a 1 MiB response body: HnDataCompressor against bare zlib deflate in the same run.
#include <zlib.h>

#include <random>

#include "Ratios.h"
#include "container/HnDataCompressor.h"

namespace {

// A JSON-like body: repetitive keys with varying numbers, as rate answers are.
const pf::Bytes& body() {
  static const pf::Bytes data = [] {
    std::mt19937 random(42);
    std::string text;
    while (text.size() < (1u << 20)) {
      text += R"({"ccy":"USDCNY","bid":")" + std::to_string(6 + random() % 100000 / 1e5) + R"(","ask":")" +
              std::to_string(6 + random() % 100000 / 1e5) + R"(","time":)" + std::to_string(random()) + "},";
    }
    text.resize(1u << 20);
    return pf::toBytes(text);
  }();
  return data;
}

void BM_Gzip_HnDataCompressor(benchmark::State& state) {
  const auto& data = body();
  for (auto _ : state) {
    pf::Error error;
    auto gz = container::HnDataCompressor::compressData(data, &error);
    if (!gz) state.SkipWithError("compression failed");
    benchmark::DoNotOptimize(gz);
  }
  state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * data.size()));
}

void BM_Gzip_BareZlib(benchmark::State& state) {
  const auto& data = body();
  for (auto _ : state) {
    z_stream s{};
    deflateInit2(&s, Z_DEFAULT_COMPRESSION, Z_DEFLATED, 31, 8, Z_DEFAULT_STRATEGY);
    pf::Bytes out(deflateBound(&s, data.size()));
    s.next_in = const_cast<Bytef*>(data.data());
    s.avail_in = static_cast<uInt>(data.size());
    s.next_out = out.data();
    s.avail_out = static_cast<uInt>(out.size());
    if (deflate(&s, Z_FINISH) != Z_STREAM_END) state.SkipWithError("deflate failed");
    out.resize(s.total_out);
    deflateEnd(&s);
    benchmark::DoNotOptimize(out);
  }
  state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * data.size()));
}

}  // namespace

BENCHMARK(BM_Gzip_BareZlib)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_Gzip_HnDataCompressor)->Unit(benchmark::kMillisecond);
FX_BENCH_RATIO("gzip: HnDataCompressor / bare zlib deflate", fxbench::rate("BM_Gzip_HnDataCompressor"),
               fxbench::rate("BM_Gzip_BareZlib"));
FX_BENCH_MAIN();
