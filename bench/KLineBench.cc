// (1) A 50,000-record rate series decoded to rows with prices, dates and moving averages:
//     - against a plain C++ decoder making the same rows and texts (zlib inflate, a table-driven
//       pass over the prefix code, the fields read with from_chars, the prices and averages
//       written with snprintf, the dates with localtime_r and strftime): the like-for-like
//       baseline, checked to make the very rows the decoder makes;
//     - against a floor no decoder can go below (inflate, the prefix code and the split of every
//       record at "#"; no numbers read, no prices, dates, averages or rows made), checked to read
//       the very fields the decoder reads;
//     bare inflate alone and our prefix-code stage alone are shown beside them.
// (2) A 375 by 300 chart frame at scale 2 after a one-candle scroll step, through the view
//     tree, against bare cairo and pango-cairo drawing the same candles, average segments,
//     dashes and texts.
//
// Ratios of the rows' medians (Ratios.h). Run with repetitions, in turns:
//   bench_kline --benchmark_repetitions=9 --benchmark_enable_random_interleaving=true
#include <benchmark/benchmark.h>
#include <cairo.h>
#include <pango/pangocairo.h>
#include <zlib.h>

#include <algorithm>
#include <array>
#include <charconv>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <map>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "ChartScenes.h"
#include "Ratios.h"
#include "kline/KLineCodec.h"
#include "kline/KLineDataManager.h"
#include "kline/SeriesEncoder.h"
#include "platform/foundation/Clock.h"
#include "platform/foundation/DateFormatter.h"
#include "platform/ui/Renderer.h"

namespace {

struct Series {
  pf::Bytes compressed;
  pf::Bytes inflated;
};

const Series& series() {
  static const Series s = [] {
    std::vector<std::string> texts = {"65432#0#12#-7#30#-15#20260102093000"};
    for (int i = 1; i < 50000; ++i)
      texts.push_back(std::to_string(i % 97 - 48) + "#" + std::to_string(i % 89 - 44) + "#-" + std::to_string(i % 71) +
                      "#" + std::to_string(i % 83) + "#" + std::to_string(i / 24 / 60) + "d" +
                      std::to_string(i / 60 % 24) + "h" + std::to_string(i % 60) + "m");
    Series out;
    out.inflated = klinetest::packetOf(texts);
    out.compressed = klinetest::deflateBytes(out.inflated);
    return out;
  }();
  return s;
}

// Bare zlib inflate of the series into `out` (room for all of it); the bytes produced.
std::size_t bareInflate(const Series& s, pf::Bytes& out) {
  z_stream zs{};
  inflateInit2(&zs, 47);
  zs.next_in = const_cast<Bytef*>(s.compressed.data());
  zs.avail_in = static_cast<uInt>(s.compressed.size());
  zs.next_out = out.data();
  zs.avail_out = static_cast<uInt>(out.size());
  inflate(&zs, Z_FINISH);
  const std::size_t size = zs.total_out;
  inflateEnd(&zs);
  return size;
}

void BM_BareZlibInflate(benchmark::State& state) {
  const Series& s = series();
  pf::Bytes out(s.inflated.size());
  for (auto _ : state) {
    bareInflate(s, out);
    benchmark::DoNotOptimize(out.data());
  }
}
BENCHMARK(BM_BareZlibInflate)->Unit(benchmark::kMillisecond);

// The baselines' own decoding table, from the test-side code table (SeriesEncoder.h): for every
// 7-bit window, the symbol and length of the one code that is its prefix.
struct BareTable {
  std::array<char, 128> symbol{};
  std::array<std::uint8_t, 128> length{};
  BareTable() {
    for (char c : std::string_view("ligayzjeoqx8p5w1k2c4r3v#un$thfbsmd-0679")) {
      const std::string code = klinetest::codeOf(c);
      const auto value = static_cast<unsigned>(std::stoul(code, nullptr, 2));
      const auto bits = static_cast<unsigned>(code.size());
      for (unsigned w = value << (7 - bits); w < (value + 1) << (7 - bits); ++w) {
        symbol[w] = c;
        length[w] = static_cast<std::uint8_t>(bits);
      }
    }
  }
};

const BareTable& bareTable() {
  static const BareTable table;
  return table;
}

// A record's fields: its text split at "#", into the reused `fields`.
void splitFields(std::string_view record, std::vector<std::string_view>& fields) {
  fields.clear();
  for (std::size_t hash; (hash = record.find('#')) != std::string_view::npos; record.remove_prefix(hash + 1))
    fields.push_back(record.substr(0, hash));
  fields.push_back(record);
}

// Every record of an inflated packet (`size` bytes of `data`) decoded through the window table
// (the last few bits by the same table on a zero-padded window, kept only while the code fits)
// into the reused `text`, then split at "#" into the reused `fields`, handed to `record`.
template <class Record>
void splitRecords(const std::uint8_t* data, std::size_t size, std::string& text, std::vector<std::string_view>& fields,
                  Record&& record) {
  const BareTable& table = bareTable();
  auto be32 = [&](std::size_t at) {
    return (std::uint32_t{data[at]} << 24) | (std::uint32_t{data[at + 1]} << 16) | (std::uint32_t{data[at + 2]} << 8) |
           data[at + 3];
  };
  if (size < 4) return;
  const std::uint32_t records = be32(0);
  std::size_t at = 4;
  for (std::uint32_t r = 0; r < records && at + 8 <= size; ++r) {
    const std::uint64_t bits = be32(at + 4);
    const std::size_t bytes = static_cast<std::size_t>((bits + 7) / 8);
    if (bytes > size - at - 8) return;
    const std::uint8_t* code = data + at + 8;
    if (text.size() < bits / 4 + 1) text.resize(static_cast<std::size_t>(bits / 4 + 1));
    char* end = text.data();
    for (std::uint64_t pos = 0; pos < bits;) {
      const std::size_t b = static_cast<std::size_t>(pos >> 3);
      unsigned pair = static_cast<unsigned>(code[b]) << 8;
      if (b + 1 < bytes) pair |= code[b + 1];
      const unsigned window = (pair >> (9 - (pos & 7))) & 0x7fu;
      if (table.length[window] > bits - pos) break;
      *end++ = table.symbol[window];
      pos += table.length[window];
    }
    if (end == text.data()) return;  // a record of nothing ends the packet
    splitFields(std::string_view(text.data(), static_cast<std::size_t>(end - text.data())), fields);
    record(fields);
    at += 8 + bytes;
  }
}

// The floor: inflate, the prefix code and the split, nothing read from the fields.
void BM_DecodeFloor(benchmark::State& state) {
  const Series& s = series();
  pf::Bytes out(s.inflated.size());
  std::string text;
  std::vector<std::string_view> fields;
  std::size_t fieldCount = 0;
  for (auto _ : state) {
    const std::size_t size = bareInflate(s, out);
    splitRecords(out.data(), size, text, fields, [&](const std::vector<std::string_view>& f) { fieldCount += f.size(); });
    benchmark::DoNotOptimize(fieldCount);
  }
  // It must read the fields the decoder reads.
  std::vector<std::vector<std::string>> floor;
  splitRecords(out.data(), bareInflate(s, out), text, fields, [&](const std::vector<std::string_view>& f) {
    floor.emplace_back(f.begin(), f.end());
  });
  std::vector<std::vector<std::string>> decoded;
  kline::Huffman decoder;
  for (const std::string& record : decoder.uncompress(s.inflated)) {
    splitFields(record, fields);
    decoded.emplace_back(fields.begin(), fields.end());
  }
  if (floor != decoded) state.SkipWithError("the floor read other fields than the decoder");
}
BENCHMARK(BM_DecodeFloor)->Unit(benchmark::kMillisecond);

// Both decoders read the series' times in the same zone.
void useShanghaiTime() {
  pf::setDefaultTimeZone("Asia/Shanghai");
  ::setenv("TZ", "Asia/Shanghai", 1);
  ::tzset();
}

// One row as the plain decoder makes it: the texts a chart shows.
struct PlainRow {
  std::string open, close, low, high;
  std::optional<std::string> date, ma5, ma10, ma20;
  double timestamp = 0;
};

// The like-for-like baseline: what a competent programmer writes with the C and C++ libraries
// alone to turn a series into the rows the decoder makes.
class PlainDecoder {
 public:
  const std::vector<PlainRow>& decode(const pf::Bytes& packet) {
    rows_.clear();
    closes_.clear();
    if (!inflate(packet)) return rows_;
    std::int64_t base = 0;
    std::time_t baseTime = 0;
    splitRecords(inflated_.data(), inflatedSize_, text_, fields_, [&](const std::vector<std::string_view>& f) {
      PlainRow& row = rows_.emplace_back();
      const bool first = rows_.size() == 1;
      // The first record: base, (unused), open, close, low, high, time; the others: open,
      // close, low, high and the time since the first as "1d2h3m".
      const std::size_t prices = first ? 2 : 0;
      if (first) base = number(f, 0);
      row.open = price(base + number(f, prices));
      row.close = price(base + number(f, prices + 1));
      row.low = price(base + number(f, prices + 2));
      row.high = price(base + number(f, prices + 3));
      closes_.push_back(static_cast<float>(static_cast<double>(base + number(f, prices + 1)) / 1e4));
      const std::size_t timeField = prices + 4;
      if (first) {
        if (f.size() > timeField && serverTime(f.back(), &baseTime)) {
          row.timestamp = static_cast<double>(baseTime);
          row.date = localText(baseTime);
        }
      } else {
        const std::time_t at = baseTime + (f.size() > timeField ? offset(f.back()) : 0);
        row.timestamp = static_cast<double>(at);
        row.date = localText(at);
      }
    });
    // Moving averages of the close, a running sum each.
    for (std::size_t n : {5, 10, 20}) {
      double sum = 0;
      for (std::size_t i = 0; i < rows_.size(); ++i) {
        sum += static_cast<double>(closes_[i]);
        if (i >= n) sum -= static_cast<double>(closes_[i - n]);
        if (i + 1 >= n) (n == 5 ? rows_[i].ma5 : n == 10 ? rows_[i].ma10 : rows_[i].ma20) = fixed(sum / static_cast<double>(n));
      }
    }
    return rows_;
  }

 private:
  bool inflate(const pf::Bytes& packet) {
    if (inflated_.size() < packet.size() * 4) inflated_.resize(packet.size() * 4);
    z_stream zs{};
    if (inflateInit2(&zs, 47) != Z_OK) return false;
    zs.next_in = const_cast<Bytef*>(packet.data());
    zs.avail_in = static_cast<uInt>(packet.size());
    int status = Z_OK;
    while (status == Z_OK) {
      if (zs.total_out == inflated_.size()) inflated_.resize(inflated_.size() * 2);
      zs.next_out = inflated_.data() + zs.total_out;
      zs.avail_out = static_cast<uInt>(inflated_.size() - zs.total_out);
      status = ::inflate(&zs, Z_NO_FLUSH);
    }
    inflatedSize_ = zs.total_out;
    inflateEnd(&zs);
    return status == Z_STREAM_END;
  }

  static std::int64_t number(const std::vector<std::string_view>& f, std::size_t i) {
    std::int64_t value = 0;
    if (i < f.size()) std::from_chars(f[i].data(), f[i].data() + f[i].size(), value);
    return value;
  }

  static std::string fixed(double value) {
    char text[64];
    const int n = std::snprintf(text, sizeof text, "%f", value);
    return std::string(text, static_cast<std::size_t>(n));
  }
  static std::string price(std::int64_t units) { return fixed(static_cast<double>(units) / 1e4); }

  // "yyyyMMddHHmmss" in the local zone.
  static bool serverTime(std::string_view text, std::time_t* out) {
    if (text.size() != 14) return false;
    int v[6];
    const int widths[6] = {4, 2, 2, 2, 2, 2};
    std::size_t at = 0;
    for (int i = 0; i < 6; at += static_cast<std::size_t>(widths[i]), ++i)
      if (std::from_chars(text.data() + at, text.data() + at + widths[i], v[i]).ptr != text.data() + at + widths[i])
        return false;
    std::tm tm{};
    tm.tm_year = v[0] - 1900;
    tm.tm_mon = v[1] - 1;
    tm.tm_mday = v[2];
    tm.tm_hour = v[3];
    tm.tm_min = v[4];
    tm.tm_sec = v[5];
    tm.tm_isdst = -1;
    *out = std::mktime(&tm);
    return *out != -1;
  }

  // Seconds of "1d2h3m4s" (any part may be missing).
  static std::time_t offset(std::string_view text) {
    std::time_t seconds = 0;
    std::int64_t value = 0;
    for (char c : text) {
      if (c >= '0' && c <= '9') {
        value = value * 10 + (c - '0');
        continue;
      }
      seconds += static_cast<std::time_t>(value * (c == 'd' ? 86400 : c == 'h' ? 3600 : c == 'm' ? 60 : 1));
      value = 0;
    }
    return seconds;
  }

  static std::string localText(std::time_t at) {
    std::tm tm{};
    localtime_r(&at, &tm);
    char text[32];
    return std::string(text, std::strftime(text, sizeof text, "%Y-%m-%d %H:%M:%S", &tm));
  }

  pf::Bytes inflated_;
  std::size_t inflatedSize_ = 0;
  std::string text_;
  std::vector<std::string_view> fields_;
  std::vector<PlainRow> rows_;
  std::vector<float> closes_;
};

// The first row where the plain decoder's rows differ from the decoder's, or -1.
long firstDifference(const std::vector<PlainRow>& plain, const kline::TradeRows& rows) {
  if (plain.size() != rows.size()) return static_cast<long>(std::min(plain.size(), rows.size()));
  for (std::size_t i = 0; i < rows.size(); ++i) {
    const kline::TradeModel& r = *rows[i];
    const PlainRow& p = plain[i];
    if (p.open != r.open || p.close != r.close || p.low != r.low || p.high != r.high || p.date != r.date ||
        p.ma5 != r.MA5 || p.ma10 != r.MA10 || p.ma20 != r.MA20 || p.timestamp != r.timestamp)
      return static_cast<long>(i);
  }
  return -1;
}

void BM_PlainDecoder(benchmark::State& state) {
  useShanghaiTime();
  const Series& s = series();
  PlainDecoder decoder;
  for (auto _ : state) benchmark::DoNotOptimize(decoder.decode(s.compressed).data());
  // It must make the rows the decoder makes.
  const std::vector<PlainRow>& plain = decoder.decode(s.compressed);
  auto rows = kline::KLineDataManager::make()->decode(s.compressed);
  if (!rows || firstDifference(plain, *rows) >= 0)
    state.SkipWithError("the plain decoder made other rows than the decoder");
  state.counters["rows"] = static_cast<double>(plain.size());
}
BENCHMARK(BM_PlainDecoder)->Unit(benchmark::kMillisecond);

void BM_PrefixCodeStage(benchmark::State& state) {
  const Series& s = series();
  kline::Huffman h;
  for (auto _ : state) benchmark::DoNotOptimize(h.uncompress(s.inflated));
}
BENCHMARK(BM_PrefixCodeStage)->Unit(benchmark::kMillisecond);

void BM_PacketToRows(benchmark::State& state) {
  useShanghaiTime();
  const Series& s = series();
  auto manager = kline::KLineDataManager::make();
  for (auto _ : state) benchmark::DoNotOptimize(manager->decode(s.compressed));
  state.counters["rows"] = static_cast<double>(manager->tradeArray().size());
}
BENCHMARK(BM_PacketToRows)->Unit(benchmark::kMillisecond);

void BM_ChartFrameAfterScroll(benchmark::State& state) {
  pf::VirtualTimeScope time;
  chartscenes::Stage stage = chartscenes::buildChart(100);
  double step = -1;
  for (auto _ : state) {
    auto& scroll = *stage.chart->mainView;
    scroll.setContentOffset({scroll.contentOffset().x + step, 0});
    step = -step;
    auto image = pf::render::screen(2);
    benchmark::DoNotOptimize(image);
  }
  state.counters["fps"] = benchmark::Counter(static_cast<double>(state.iterations()), benchmark::Counter::kIsRate);
  stage.window->setHidden(true);
}
BENCHMARK(BM_ChartFrameAfterScroll)->Unit(benchmark::kMillisecond);

void text(cairo_t* cr, PangoFontDescription* font, const char* s, double x, double y) {
  PangoLayout* layout = pango_cairo_create_layout(cr);
  pango_layout_set_font_description(layout, font);
  pango_layout_set_text(layout, s, -1);
  cairo_move_to(cr, x, y);
  pango_cairo_show_layout(cr, layout);
  g_object_unref(layout);
}

// The same frame drawn with cairo and pango alone: page, frame border, 29 candles (wicks and
// bodies without antialiasing), three average lines stroked segment by segment, five dashed
// guides and fifteen texts.
void BM_BareCairoSameChart(benchmark::State& state) {
  PangoFontDescription* f9 = pango_font_description_from_string("WenQuanYi Micro Hei 9");
  PangoFontDescription* f10 = pango_font_description_from_string("WenQuanYi Micro Hei 10");
  for (auto _ : state) {
    cairo_surface_t* s = cairo_image_surface_create(CAIRO_FORMAT_ARGB32, 750, 600);
    cairo_t* cr = cairo_create(s);
    cairo_scale(cr, 2, 2);
    cairo_set_source_rgb(cr, 1, 1, 1);
    cairo_paint(cr);
    cairo_set_line_width(cr, 0.5);
    cairo_set_source_rgb(cr, 0.67, 0.67, 0.67);
    cairo_rectangle(cr, 0.25, 40.25, 374.5, 239.5);
    cairo_stroke(cr);
    double dash[] = {3, 1};
    cairo_set_dash(cr, dash, 2, 0);
    cairo_set_line_width(cr, 1);
    cairo_set_source_rgb(cr, 223 / 255.0, 223 / 255.0, 223 / 255.0);
    for (double y : {100.0, 161.0, 222.0}) {
      cairo_move_to(cr, 0, y);
      cairo_line_to(cr, 375, y);
      cairo_stroke(cr);
    }
    for (double x : {125.0, 250.0}) {
      cairo_move_to(cr, x, 40);
      cairo_line_to(cr, x, 280);
      cairo_stroke(cr);
    }
    cairo_set_dash(cr, nullptr, 0, 0);
    cairo_set_antialias(cr, CAIRO_ANTIALIAS_NONE);
    for (int i = 0; i < 29; ++i) {
      double x = i * 10.5 + 5.25, mid = 160 + 40 * std::sin(i * 0.7);
      if (i % 2)
        cairo_set_source_rgb(cr, 0xd0 / 255.0, 0x40 / 255.0, 0x2d / 255.0);
      else
        cairo_set_source_rgb(cr, 0x17 / 255.0, 0xb0 / 255.0, 0x3e / 255.0);
      cairo_set_line_width(cr, 1);
      cairo_move_to(cr, x, mid - 30);
      cairo_line_to(cr, x, mid - 15);
      cairo_stroke(cr);
      cairo_move_to(cr, x, mid + 15);
      cairo_line_to(cr, x, mid + 30);
      cairo_stroke(cr);
      cairo_set_line_width(cr, 9.5);
      cairo_move_to(cr, x, mid - 15);
      cairo_line_to(cr, x, mid + 15);
      cairo_stroke(cr);
    }
    cairo_set_antialias(cr, CAIRO_ANTIALIAS_DEFAULT);
    cairo_set_line_width(cr, 1);
    for (int line = 0; line < 3; ++line) {
      cairo_set_source_rgb(cr, 0.2 * line, 0.5, 0.9 - 0.3 * line);
      for (int i = 1; i < 29; ++i) {
        cairo_move_to(cr, (i - 1) * 10.5 + 5.25, 160 + 20 * std::sin((i - 1) * 0.3 + line));
        cairo_line_to(cr, i * 10.5 + 5.25, 160 + 20 * std::sin(i * 0.3 + line));
        cairo_stroke(cr);
      }
    }
    cairo_set_source_rgb(cr, 0.5, 0.5, 0.5);
    const char* texts10[] = {"2026-01-05 11", "高:6.4192", "开:6.4002", "收:6.4082", "低:6.3859", "MA10:6.4505",
                             "MA20:6.4531", "2026-01-04 00", "2026-01-05 11", "6.5527", "6.3737"};
    for (int i = 0; i < 11; ++i) text(cr, f10, texts10[i], 10 + (i % 4) * 90, 2 + (i / 4) * 100);
    const char* texts9[] = {"6.5825", "6.5229", "6.4632", "6.4035", "MA5:6.4346"};
    for (int i = 0; i < 5; ++i) text(cr, f9, texts9[i], 10, 45 + i * 50);
    cairo_destroy(cr);
    cairo_surface_flush(s);
    benchmark::DoNotOptimize(cairo_image_surface_get_data(s));
    cairo_surface_destroy(s);
  }
  pango_font_description_free(f9);
  pango_font_description_free(f10);
  state.counters["fps"] = benchmark::Counter(static_cast<double>(state.iterations()), benchmark::Counter::kIsRate);
}
BENCHMARK(BM_BareCairoSameChart)->Unit(benchmark::kMillisecond);

// ---- ratios of medians

FX_BENCH_RATIO("chart decode, time: whole decode / plain C++ decoder's (snprintf, strftime)",
               fxbench::seconds("BM_PacketToRows"), fxbench::seconds("BM_PlainDecoder"), fxbench::atMost(1));
FX_BENCH_RATIO("chart decode, time: whole decode / floor's (inflate, prefix code, split)",
               fxbench::seconds("BM_PacketToRows"), fxbench::seconds("BM_DecodeFloor"), fxbench::atMost(5));
FX_BENCH_RATIO("chart decode, time: floor / bare inflate's", fxbench::seconds("BM_DecodeFloor"),
               fxbench::seconds("BM_BareZlibInflate"), fxbench::noAim());
FX_BENCH_RATIO("chart decode, time: whole decode / bare inflate's", fxbench::seconds("BM_PacketToRows"),
               fxbench::seconds("BM_BareZlibInflate"), fxbench::noAim());
FX_BENCH_RATIO("chart frame after a scroll / bare cairo and pango", fxbench::rate("BM_ChartFrameAfterScroll"),
               fxbench::rate("BM_BareCairoSameChart"), fxbench::atLeast(0.5));

}  // namespace

FX_BENCH_MAIN();
