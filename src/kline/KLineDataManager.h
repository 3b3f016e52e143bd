#pragma once
// Loads one rate series for one chart: reads the series parameters from the data URL, fetches
// the packet over HTTP(S) or from a file of the application package, decodes it into rows with
// moving averages, and hands the rows to the completion on the main thread.
//
// Each request replaces the callbacks of the one before and carries a number of its own: an
// answer that arrives after a newer request was made is dropped, so a callback only ever hears
// the rows of its own request. Callbacks are called at most once, always on the main thread.

#include <algorithm>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>

#include "kline/KLineCodec.h"
#include "kline/KLineHttpEngine.h"
#include "kline/TradeModel.h"
#include "platform/foundation/Bytes.h"
#include "platform/foundation/ThreadAnnotations.h"

namespace kline {

class KLineDataManager : public std::enable_shared_from_this<KLineDataManager> {
 public:
  using Completion = std::function<void(const TradeRows& rows)>;
  using Failure = std::function<void()>;

  // Decimal places are kept within this range wherever they are set.
  static constexpr std::int64_t kMaxAvailable = 10;
  static std::int64_t clampAvailable(std::int64_t places) { return std::clamp<std::int64_t>(places, 0, kMaxAvailable); }

  static std::shared_ptr<KLineDataManager> make() { return std::shared_ptr<KLineDataManager>(new KLineDataManager()); }
  ~KLineDataManager();

  std::string kLineURL;
  std::string currencyCode;
  std::string klineType;
  std::int64_t available() const {
    pf::MutexLock lock(mutex_);
    return available_;
  }
  void setAvailable(std::int64_t places) {
    pf::MutexLock lock(mutex_);
    available_ = clampAvailable(places);
  }
  // Base price and time of the rows delivered last (or of transformString's last first record).
  std::int32_t basePrice = 0;
  double baseTimestamp = 0;

  // Rows of the last decode delivered (an answer dropped for a newer request leaves them).
  TradeRows tradeArray() const;

  Huffman& huffmanManager() { return huffman_; }
  std::shared_ptr<KLineHttpsEngine> engine();

  // "code", "type" and "available" from the query of kLineURL's last path component.
  void parseURL();

  // An "http..." URL is fetched (cancelling the engine's running request); any other names
  // the package file "getGZipRateRange<text after type=>.shtml".
  void getKLineData(const std::string& url, Completion complete, Failure failure);

  // Decodes a packet and delivers the rows (or the failure) for the current request.
  void parseData(const pf::Bytes& packet);

  // Inflate, decode and turn into rows with moving averages; null when the packet inflates to
  // nothing or fails. The rows (shared, not copied), their base price and time become the
  // manager's (the caller has them at once). Takes the mutex.
  std::shared_ptr<const TradeRows> decode(const pf::Bytes& packet);
  // The rows of a packet already inflated; changes nothing of the manager's but its decoder's
  // scratch (no lock taken: the caller serialises, and the analysis is off because outside
  // callers cannot name the lock).
  TradeRows rowsOfPacket(const pf::Bytes& inflated) PF_NO_THREAD_SAFETY_ANALYSIS;

  // One record text as a row: index 0 is the first record of the series and sets basePrice and
  // baseTimestamp, any other a later one read against them.
  // No lock taken, as rowsOfPacket.
  TradeRow transformString(const std::string& text, std::int64_t index) PF_NO_THREAD_SAFETY_ANALYSIS;
  // The MA text of row i over n rows, or nil while fewer than n rows exist.
  static std::optional<std::string> sumAndAverage(const TradeRows& rows, std::size_t i, std::size_t n);
  // Rows of 100-row page p: all rows when fewer than 100; rows 100p..100p+99 when they exist;
  // otherwise (a negative page too) nil.
  std::optional<TradeRows> reformData(std::int64_t page) const;

 private:
  // What one decode made: kept aside until it is delivered.
  struct Decoded {
    std::shared_ptr<const TradeRows> rows;
    std::int32_t basePrice = 0;
    double baseTimestamp = 0;
  };

  KLineDataManager() = default;
  void deliver(std::uint64_t tag, Decoded decoded);
  void fail(std::uint64_t tag);
  void decodeAndDeliver(std::uint64_t tag, const pf::Bytes& packet);
  std::optional<Decoded> decodeLocked(const pf::Bytes& packet) PF_REQUIRES(mutex_);
  Decoded rowsOf(const pf::Bytes& inflated) PF_REQUIRES(mutex_);
  void commit(const Decoded& decoded);
  // One record as a row against a series base (set by index 0, read by the others).
  TradeRow makeRow(std::string_view text, std::int64_t index, std::int32_t& basePrice, double& baseTimestamp)
      PF_NO_THREAD_SAFETY_ANALYSIS;

  mutable pf::Mutex mutex_;  // decoding and the fields it writes
  std::int64_t available_ PF_GUARDED_BY(mutex_) = 4;
  std::shared_ptr<const TradeRows> tradeArray_ PF_GUARDED_BY(mutex_) = std::make_shared<const TradeRows>();
  Huffman huffman_ PF_GUARDED_BY(mutex_);
  std::shared_ptr<KLineHttpsEngine> engine_;
  // Main thread only.
  Completion callback_;
  Failure failureCallback_;
  std::uint64_t requestTag_ = 0;
};

}  // namespace kline
