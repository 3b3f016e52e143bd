// The key-value store's string put and get against raw SQLite on the same schema in the same run:
// raw with a statement prepared per call (the goal's baseline) and with one reused statement;
// on tmpfs (/dev/shm) and on disk (the build's temporary folder); 10^4 and 10^5 rows; values of
// 16 B, 1 KiB and 16 KiB. Prints ops/s per benchmark, then the ratios of store ops/s over raw
// ops/s, of the rows apart and of the runs that take turns call by call ("side-by-side").
//
//   bench_kvstore                                  everything (the 10^5 x 16 KiB files take 1.6 GB)
//   bench_kvstore --benchmark_filter='rows:10000/' a subset
//
// Rows of one configuration share one database, made when the first of them runs, so run them in
// order (not with --benchmark_enable_random_interleaving).
#include <sqlite3.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include "Ratios.h"
#include "kvstore/TnqKeyValueStore.h"
#include "kvstore/TnqSqliteStore.h"
#include "platform/foundation/Log.h"

namespace {

namespace fs = std::filesystem;
using kvstore::TnqKeyValueStore;
using kvstore::TnqSqliteStore;

const char* const kGetSql = "SELECT json,createdTime from \"tbl_KeyValue\" where id = ? limit 1";
const char* const kPutSql = "REPLACE INTO \"tbl_KeyValue\"(id,json,createdTime) values (?,?,?)";

double nowSeconds() {
  return std::chrono::duration<double>(std::chrono::system_clock::now().time_since_epoch()).count();
}

struct Medium {
  const char* name;
  fs::path directory;
};

std::vector<Medium> media() {
  fs::path disk = fs::temp_directory_path();
  if (const char* dir = std::getenv("KV_BENCH_DISK_DIR")) disk = dir;
  std::vector<Medium> out;
  if (fs::is_directory("/dev/shm")) out.push_back({"tmpfs", "/dev/shm"});
  out.push_back({"disk", disk});
  return out;
}

// One populated database: a store and a raw connection on the same file. Only one lives at a time
// (the benchmarks of one configuration are registered together).
class Dataset {
 public:
  static Dataset& get(const Medium& medium, int rows, int bytes) {
    static std::unique_ptr<Dataset> current;
    const std::string key = std::string(medium.name) + "/" + std::to_string(rows) + "/" + std::to_string(bytes);
    if (!current || current->key_ != key) {
      current.reset();
      current.reset(new Dataset(key, medium.directory, rows, bytes));
    }
    return *current;
  }

  ~Dataset() {
    sqlite3_finalize(getReused);
    sqlite3_finalize(putReused);
    sqlite3_close(rawReusing);
    sqlite3_close(raw);
    store.reset();
    std::error_code ec;
    fs::remove_all(directory_, ec);
  }

  const std::string& nextId() {
    cursor_ = (cursor_ * 1103515245u + 12345u) & 0x7fffffffu;
    return ids[cursor_ % ids.size()];
  }

  std::vector<std::string> ids;
  pf::Value value;   // the stored string
  std::string json;  // its JSON text, as stored
  std::unique_ptr<TnqSqliteStore> store;
  sqlite3* raw = nullptr;         // the connection that prepares per call
  sqlite3* rawReusing = nullptr;  // the connection of the reused statements
  sqlite3_stmt* getReused = nullptr;
  sqlite3_stmt* putReused = nullptr;

 private:
  Dataset(std::string key, const fs::path& base, int rows, int bytes) : key_(std::move(key)) {
    directory_ = base / ("bench_kvstore-" + std::to_string(getpid()));
    fs::create_directories(directory_);
    const std::string path = (directory_ / "db_KeyValue").string();
    value = std::string(static_cast<std::size_t>(bytes), 'v');
    json = "[\"" + value.get<std::string>() + "\"]";
    for (int i = 0; i < rows; ++i) {
      char id[32];
      std::snprintf(id, sizeof id, "id-%07d", i);
      ids.emplace_back(id);
    }
    {
      pf::LogCapture quiet;
      store = std::make_unique<TnqSqliteStore>(TnqKeyValueStore::initWithDBWithPath(path));
    }
    sqlite3_open(path.c_str(), &raw);
    sqlite3_busy_timeout(raw, 2000);
    sqlite3_exec(raw, "begin", nullptr, nullptr, nullptr);
    sqlite3_stmt* insert = nullptr;
    sqlite3_prepare_v2(raw, kPutSql, -1, &insert, nullptr);
    const double now = nowSeconds();
    for (const auto& id : ids) {
      sqlite3_bind_text(insert, 1, id.data(), static_cast<int>(id.size()), SQLITE_STATIC);
      sqlite3_bind_text(insert, 2, json.data(), static_cast<int>(json.size()), SQLITE_STATIC);
      sqlite3_bind_double(insert, 3, now);
      sqlite3_step(insert);
      sqlite3_reset(insert);
    }
    sqlite3_finalize(insert);
    sqlite3_exec(raw, "commit", nullptr, nullptr, nullptr);
    // Let the population reach the disk now, not during the first measured fsyncs.
    ::sync();
    // The reused statements get a connection of their own, as the store has: sharing one with the
    // prepared-per-call road would hand them a page cache that the call before just warmed.
    sqlite3_open(path.c_str(), &rawReusing);
    sqlite3_busy_timeout(rawReusing, 2000);
    sqlite3_prepare_v2(rawReusing, kGetSql, -1, &getReused, nullptr);
    sqlite3_prepare_v2(rawReusing, kPutSql, -1, &putReused, nullptr);
  }

  std::string key_;
  fs::path directory_;
  std::uint32_t cursor_ = 1;
};

struct Config {
  Medium medium;
  int rows;
  int bytes;
};

// ---- gets

void getStore(benchmark::State& state, Config c) {
  Dataset& d = Dataset::get(c.medium, c.rows, c.bytes);
  for (auto _ : state) {
    auto value = d.store->getStringById(d.nextId());
    if (!value) state.SkipWithError("no value");
    benchmark::DoNotOptimize(value);
  }
  state.SetItemsProcessed(state.iterations());
}

std::string rawRead(sqlite3_stmt* statement, const std::string& id, double* date) {
  sqlite3_bind_text(statement, 1, id.data(), static_cast<int>(id.size()), SQLITE_STATIC);
  std::string text;
  if (sqlite3_step(statement) == SQLITE_ROW) {
    text.assign(reinterpret_cast<const char*>(sqlite3_column_text(statement, 0)),
                static_cast<std::size_t>(sqlite3_column_bytes(statement, 0)));
    *date = sqlite3_column_double(statement, 1);
  }
  return text;
}

void getRawPrepared(benchmark::State& state, Config c) {
  Dataset& d = Dataset::get(c.medium, c.rows, c.bytes);
  for (auto _ : state) {
    sqlite3_stmt* statement = nullptr;
    sqlite3_prepare_v2(d.raw, kGetSql, -1, &statement, nullptr);
    double date = 0;
    std::string text = rawRead(statement, d.nextId(), &date);
    sqlite3_finalize(statement);
    if (text.empty()) state.SkipWithError("no value");
    benchmark::DoNotOptimize(text);
    benchmark::DoNotOptimize(date);
  }
  state.SetItemsProcessed(state.iterations());
}

void getRawReused(benchmark::State& state, Config c) {
  Dataset& d = Dataset::get(c.medium, c.rows, c.bytes);
  for (auto _ : state) {
    double date = 0;
    std::string text = rawRead(d.getReused, d.nextId(), &date);
    sqlite3_reset(d.getReused);
    if (text.empty()) state.SkipWithError("no value");
    benchmark::DoNotOptimize(text);
    benchmark::DoNotOptimize(date);
  }
  state.SetItemsProcessed(state.iterations());
}

// ---- puts (each replaces an existing row with a value of the same size)

void putStore(benchmark::State& state, Config c) {
  Dataset& d = Dataset::get(c.medium, c.rows, c.bytes);
  for (auto _ : state) {
    if (!d.store->putString(d.value, d.nextId())) state.SkipWithError("put failed");
  }
  state.SetItemsProcessed(state.iterations());
}

bool rawWrite(Dataset& d, sqlite3_stmt* statement, const std::string& id) {
  sqlite3_bind_text(statement, 1, id.data(), static_cast<int>(id.size()), SQLITE_STATIC);
  sqlite3_bind_text(statement, 2, d.json.data(), static_cast<int>(d.json.size()), SQLITE_STATIC);
  sqlite3_bind_double(statement, 3, nowSeconds());
  return sqlite3_step(statement) == SQLITE_DONE;
}

void putRawPrepared(benchmark::State& state, Config c) {
  Dataset& d = Dataset::get(c.medium, c.rows, c.bytes);
  for (auto _ : state) {
    sqlite3_stmt* statement = nullptr;
    sqlite3_prepare_v2(d.raw, kPutSql, -1, &statement, nullptr);
    if (!rawWrite(d, statement, d.nextId())) state.SkipWithError("put failed");
    sqlite3_finalize(statement);
  }
  state.SetItemsProcessed(state.iterations());
}

void putRawReused(benchmark::State& state, Config c) {
  Dataset& d = Dataset::get(c.medium, c.rows, c.bytes);
  for (auto _ : state) {
    if (!rawWrite(d, d.putReused, d.nextId())) state.SkipWithError("put failed");
    sqlite3_reset(d.putReused);
  }
  state.SetItemsProcessed(state.iterations());
}

// ---- the three side by side: each iteration runs one store call, one raw call with a prepared
// statement and one with the reused statement, so that all three meet the same disk (whose fsync
// times drift far more than the differences measured).

template <bool kPut>
void alternating(benchmark::State& state, Config c) {
  Dataset& d = Dataset::get(c.medium, c.rows, c.bytes);
  using Clock = std::chrono::steady_clock;
  double seconds[3] = {0, 0, 0};
  for (auto _ : state) {
    const auto t0 = Clock::now();
    if constexpr (kPut) {
      if (!d.store->putString(d.value, d.nextId())) state.SkipWithError("put failed");
    } else {
      benchmark::DoNotOptimize(d.store->getStringById(d.nextId()));
    }
    const auto t1 = Clock::now();
    sqlite3_stmt* statement = nullptr;
    sqlite3_prepare_v2(d.raw, kPut ? kPutSql : kGetSql, -1, &statement, nullptr);
    double date = 0;
    if constexpr (kPut)
      rawWrite(d, statement, d.nextId());
    else
      benchmark::DoNotOptimize(rawRead(statement, d.nextId(), &date));
    sqlite3_finalize(statement);
    const auto t2 = Clock::now();
    if constexpr (kPut) {
      rawWrite(d, d.putReused, d.nextId());
      sqlite3_reset(d.putReused);
    } else {
      benchmark::DoNotOptimize(rawRead(d.getReused, d.nextId(), &date));
      sqlite3_reset(d.getReused);
    }
    const auto t3 = Clock::now();
    seconds[0] += std::chrono::duration<double>(t1 - t0).count();
    seconds[1] += std::chrono::duration<double>(t2 - t1).count();
    seconds[2] += std::chrono::duration<double>(t3 - t2).count();
  }
  const double n = static_cast<double>(state.iterations());
  state.counters["store_ops"] = n / seconds[0];
  state.counters["rawprep_ops"] = n / seconds[1];
  state.counters["rawreuse_ops"] = n / seconds[2];
}

// The ratios of one configuration, store ops/s over raw ops/s: the rows apart and the side-by-side
// turns. Gets should reach 0.67 of the statement prepared per call and 0.85 of the reused one;
// puts on disk 0.83 of the prepared one.
void addRatios(const std::string& tail, bool disk) {
  for (const std::string op : {"get", "put"}) {
    const bool get = op == "get";
    const fxbench::Aim prepared = get ? fxbench::atLeast(0.67) : disk ? fxbench::atLeast(0.83) : fxbench::noAim();
    const fxbench::Aim reused = get ? fxbench::atLeast(0.85) : fxbench::noAim();
    const std::string side = op + "/side-by-side/" + tail;
    fxbench::addRatio("kvstore " + op + " / raw prepared per call, " + tail, fxbench::rate(op + "/store/" + tail),
                      fxbench::rate(op + "/raw-prepare/" + tail), prepared);
    fxbench::addRatio("kvstore " + op + " / raw reused statement, " + tail, fxbench::rate(op + "/store/" + tail),
                      fxbench::rate(op + "/raw-reuse/" + tail), reused);
    fxbench::addRatio("kvstore " + op + " / raw prepared per call, side by side, " + tail,
                      fxbench::counter(side, "store_ops"), fxbench::counter(side, "rawprep_ops"), prepared);
    fxbench::addRatio("kvstore " + op + " / raw reused statement, side by side, " + tail,
                      fxbench::counter(side, "store_ops"), fxbench::counter(side, "rawreuse_ops"), reused);
  }
}

}  // namespace

int main(int argc, char** argv) {
  for (const Medium& medium : media())
    for (int rows : {10000, 100000})
      for (int bytes : {16, 1024, 16384}) {
        const Config c{medium, rows, bytes};
        const std::string tail =
            std::string(medium.name) + "/rows:" + std::to_string(rows) + "/bytes:" + std::to_string(bytes);
        auto add = [&](const std::string& name, void (*fn)(benchmark::State&, Config)) {
          benchmark::RegisterBenchmark(name.c_str(), fn, c)->UseRealTime()->Unit(benchmark::kMicrosecond);
        };
        add("get/store/" + tail, getStore);
        add("get/raw-prepare/" + tail, getRawPrepared);
        add("get/raw-reuse/" + tail, getRawReused);
        add("put/store/" + tail, putStore);
        add("put/raw-prepare/" + tail, putRawPrepared);
        add("put/raw-reuse/" + tail, putRawReused);
        add("get/side-by-side/" + tail, alternating<false>);
        add("put/side-by-side/" + tail, alternating<true>);
        addRatios(tail, std::string(medium.name) == "disk");
      }
  return fxbench::runBenchmarks(argc, argv);
}
