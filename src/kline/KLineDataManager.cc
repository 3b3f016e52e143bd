#include "kline/KLineDataManager.h"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <cstdio>

#include "kline/KLineFormatDate.h"
#include "platform/foundation/Bundle.h"
#include "platform/foundation/Dispatch.h"
#include "platform/foundation/FileManager.h"
#include "platform/foundation/Format.h"
#include "platform/foundation/Log.h"
#include "platform/foundation/Thread.h"

namespace kline {

namespace {

std::vector<std::string_view> split(std::string_view text, char separator) {
  std::vector<std::string_view> parts;
  std::size_t start = 0;
  while (true) {
    std::size_t at = text.find(separator, start);
    if (at == std::string_view::npos) {
      parts.push_back(text.substr(start));
      return parts;
    }
    parts.push_back(text.substr(start, at - start));
    start = at + 1;
  }
}

// How many "#"-separated components a record has, and its last one.
struct Components {
  std::size_t count;
  std::string_view last;
};
Components componentsOf(std::string_view text) {
  std::size_t hash = text.rfind('#');
  if (hash == std::string_view::npos) return {1, text};
  return {static_cast<std::size_t>(std::count(text.begin(), text.begin() + static_cast<std::ptrdiff_t>(hash), '#')) + 2,
          text.substr(hash + 1)};
}

// A close price text as a single-precision number (the text is ours: "%f" digits).
float closeValueOf(const std::string& text) {
  float value = 0;
  auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
  if (error != std::errc() || end != text.data() + text.size()) return floatValueOf(text);
  return value;
}

// Reads "%d#" `count` times as scanf would: fields that do not match keep 0.
void scanFields(std::string_view text, std::int32_t* fields, int count) {
  std::size_t i = 0;
  for (int f = 0; f < count; ++f) {
    while (i < text.size() && (text[i] == ' ' || text[i] == '\t' || text[i] == '\n')) ++i;
    const std::size_t start = i;
    if (i < text.size() && (text[i] == '-' || text[i] == '+')) ++i;
    const std::size_t digits = i;
    while (i < text.size() && text[i] >= '0' && text[i] <= '9') ++i;
    if (i == digits) return;
    fields[f] = static_cast<std::int32_t>(static_cast<std::uint32_t>(integerValueOf(text.substr(start, i - start))));
    if (i >= text.size() || text[i] != '#') return;
    ++i;
  }
}

// The query pairs of the last path component of a URL text.
template <class Fn>
void forEachQueryPair(const std::string& url, Fn&& fn) {
  std::string_view text = url;
  while (text.size() > 1 && text.back() == '/') text.remove_suffix(1);
  std::size_t slash = text.rfind('/');
  std::string_view last = slash == std::string_view::npos ? text : text.substr(slash + 1);
  std::size_t question = last.find('?');
  if (question == std::string_view::npos) return;
  for (std::string_view pair : split(last.substr(question + 1), '&')) {
    std::size_t eq = pair.find('=');
    if (eq == std::string_view::npos) continue;
    std::vector<std::string_view> kv = split(pair, '=');
    fn(kv[0], kv[1]);
  }
}

bool isMain() { return pf::Thread::isMainThread(); }

constexpr const char* kLongDate = "yyyy-MM-dd HH:mm:ss";

}  // namespace

KLineDataManager::~KLineDataManager() {
  if (engine_) engine_->cancel();
}

TradeRows KLineDataManager::tradeArray() const {
  pf::MutexLock lock(mutex_);
  return *tradeArray_;
}

std::shared_ptr<KLineHttpsEngine> KLineDataManager::engine() {
  if (!engine_) engine_ = KLineHttpEngine::make<KLineHttpsEngine>();
  return engine_;
}

void KLineDataManager::parseURL() {
  forEachQueryPair(kLineURL, [&](std::string_view key, std::string_view value) {
    if (key == "code")
      currencyCode = std::string(value);
    else if (key == "type")
      klineType = std::string(value);
    else if (key == "available")
      setAvailable(integerValueOf(value));
  });
}

void KLineDataManager::getKLineData(const std::string& url, Completion complete, Failure failure) {
  pf::logFormat("url -----------------%@", url);
  std::uint64_t tag = ++requestTag_;
  callback_ = std::move(complete);
  failureCallback_ = std::move(failure);
  kLineURL = url;
  parseURL();
  std::weak_ptr<KLineDataManager> weak = weak_from_this();

  if (url.rfind("http", 0) == 0) {
    auto engine = this->engine();
    engine->cancel();
    if (!pf::Url::parse(url)) {
      pf::logLine("请求失败");
      fail(tag);
      return;
    }
    engine->getUrl(
        url,
        [weak, tag](const pf::Bytes& data) {
          auto self = weak.lock();
          if (!self) return;
          pf::logFormat("success --------%@", pf::format("<%zu bytes>", data.size()));
          pf::DispatchQueue::global()->async([self, tag, data] { self->decodeAndDeliver(tag, data); });
        },
        [weak, tag](const pf::Error&) {
          pf::logLine("请求失败");
          if (auto self = weak.lock()) self->fail(tag);
        });
    return;
  }

  // A series of the application package.
  std::size_t at = url.find("type=");
  std::optional<std::string> suffix;
  if (at != std::string::npos) suffix = url.substr(at + 5);
  if (!suffix || suffix->find('/') != std::string::npos || suffix->find('\0') != std::string::npos) {
    pf::logFormat("no series file for %@", url);
    fail(tag);
    return;
  }
  std::optional<std::filesystem::path> path = pf::Bundle::main()->pathForResource("getGZipRateRange" + *suffix, "shtml");
  std::optional<pf::Bytes> packet = path ? pf::FileManager::readFile(*path) : std::nullopt;
  if (!packet) {
    pf::logFormat("no series file for %@", url);
    fail(tag);
    return;
  }
  decodeAndDeliver(tag, *packet);
}

void KLineDataManager::parseData(const pf::Bytes& packet) { decodeAndDeliver(requestTag_, packet); }

void KLineDataManager::decodeAndDeliver(std::uint64_t tag, const pf::Bytes& packet) {
  std::optional<Decoded> decoded;
  {
    pf::MutexLock lock(mutex_);
    decoded = decodeLocked(packet);
  }
  if (decoded)
    deliver(tag, std::move(*decoded));
  else
    fail(tag);
}

std::shared_ptr<const TradeRows> KLineDataManager::decode(const pf::Bytes& packet) {
  std::optional<Decoded> decoded;
  {
    pf::MutexLock lock(mutex_);
    decoded = decodeLocked(packet);
  }
  if (!decoded) return nullptr;
  commit(*decoded);
  return std::move(decoded->rows);
}

std::optional<KLineDataManager::Decoded> KLineDataManager::decodeLocked(const pf::Bytes& packet) {
  std::optional<pf::Bytes> inflated = unCompressGzip(packet);
  if (!inflated || inflated->empty()) return std::nullopt;
  return rowsOf(*inflated);
}

void KLineDataManager::commit(const Decoded& decoded) {
  pf::MutexLock lock(mutex_);
  tradeArray_ = decoded.rows;
  basePrice = decoded.basePrice;
  baseTimestamp = decoded.baseTimestamp;
}

TradeRows KLineDataManager::rowsOfPacket(const pf::Bytes& inflated) { return *rowsOf(inflated).rows; }

KLineDataManager::Decoded KLineDataManager::rowsOf(const pf::Bytes& inflated) {
  Decoded out;
  auto rows = std::make_shared<TradeRows>();
  std::vector<float> closes;
  huffman_.forEachRecord(inflated, [&](std::string_view text, std::size_t i) {
    rows->push_back(makeRow(text, static_cast<std::int64_t>(i), out.basePrice, out.baseTimestamp));
    closes.push_back(closeValueOf(rows->back()->close));
  });
  // The same sums as sumAndAverage, each close read once.
  auto average = [&](std::size_t i, std::size_t n) -> std::optional<std::string> {
    if (i + 1 < n) return std::nullopt;
    double sum = 0;
    for (std::size_t j = i + 1 - n; j <= i; ++j) sum += static_cast<double>(closes[j]);
    return priceText(sum / static_cast<double>(n));
  };
  for (std::size_t i = 0; i < rows->size(); ++i) {
    TradeModel& row = *(*rows)[i];
    row.MA5 = average(i, 5);
    row.MA10 = average(i, 10);
    row.MA20 = average(i, 20);
  }
  out.rows = std::move(rows);
  return out;
}

void KLineDataManager::deliver(std::uint64_t tag, Decoded decoded) {
  if (!isMain()) {
    std::weak_ptr<KLineDataManager> weak = weak_from_this();
    pf::DispatchQueue::main()->async([weak, tag, decoded = std::move(decoded)]() mutable {
      if (auto self = weak.lock()) self->deliver(tag, std::move(decoded));
    });
    return;
  }
  if (tag != requestTag_) return;  // an answer to an older request changes nothing
  commit(decoded);
  if (!callback_) return;
  Completion complete = std::move(callback_);
  callback_ = nullptr;
  failureCallback_ = nullptr;
  complete(*decoded.rows);
}

void KLineDataManager::fail(std::uint64_t tag) {
  if (!isMain()) {
    std::weak_ptr<KLineDataManager> weak = weak_from_this();
    pf::DispatchQueue::main()->async([weak, tag] {
      if (auto self = weak.lock()) self->fail(tag);
    });
    return;
  }
  if (tag != requestTag_ || !failureCallback_) return;
  Failure failure = std::move(failureCallback_);
  callback_ = nullptr;
  failureCallback_ = nullptr;
  failure();
}

TradeRow KLineDataManager::transformString(const std::string& text, std::int64_t index) {
  return makeRow(text, index, basePrice, baseTimestamp);
}

TradeRow KLineDataManager::makeRow(std::string_view text, std::int64_t index, std::int32_t& base, double& baseTime) {
  auto row = std::make_shared<TradeModel>();
  const Components parts = componentsOf(text);
  auto price = [&](std::int32_t delta) PF_REQUIRES(mutex_) {
    return priceText(std::int64_t{delta} + base, available_);
  };
  if (index == 0) {
    std::int32_t f[6] = {};
    scanFields(text, f, 6);
    base = f[0];
    row->open = price(f[2]);
    row->close = price(f[3]);
    row->low = price(f[4]);
    row->high = price(f[5]);
    std::optional<double> date = KLineFormatDate::getDate(parts.count > 6 ? parts.last : std::string_view());
    row->timestamp = date.value_or(0);
    if (date) row->date = KLineFormatDate::formatLocal(*date, kLongDate);
    baseTime = row->timestamp;
  } else {
    std::int32_t f[4] = {};
    scanFields(text, f, 4);
    row->open = price(f[0]);
    row->close = price(f[1]);
    row->low = price(f[2]);
    row->high = price(f[3]);
    row->timestamp = baseTime + static_cast<double>(TradeModel::getTime(parts.count > 4 ? parts.last : std::string_view()));
    // Formatting the instant straight into the long layout gives the same text as the compact
    // layout parsed back and rewritten, at a third of the cost.
    row->date = KLineFormatDate::formatLocal(row->timestamp, kLongDate);
  }
  return row;
}

std::optional<std::string> KLineDataManager::sumAndAverage(const TradeRows& rows, std::size_t i, std::size_t n) {
  if (n == 0 || i >= rows.size() || i + 1 < n) return std::nullopt;
  double sum = 0;
  for (std::size_t j = i + 1 - n; j <= i; ++j) sum += static_cast<double>(floatValueOf(rows[j]->close));
  return priceText(sum / static_cast<double>(n));
}

std::optional<TradeRows> KLineDataManager::reformData(std::int64_t page) const {
  pf::MutexLock lock(mutex_);
  const TradeRows& rows = *tradeArray_;
  if (rows.size() < 100) return rows;
  if (page < 0) return std::nullopt;
  std::uint64_t first = static_cast<std::uint64_t>(page) * 100;
  if (page > (1ll << 40) || rows.size() < first + 100) return std::nullopt;
  return TradeRows(rows.begin() + static_cast<std::ptrdiff_t>(first), rows.begin() + static_cast<std::ptrdiff_t>(first + 100));
}

}  // namespace kline
