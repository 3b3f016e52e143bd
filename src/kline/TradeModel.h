#pragma once
// One candle of a rate series (prices as "%f" texts, the time as text and as seconds since 1970,
// moving averages of the close) and the screen points it is drawn at.

#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "platform/ui/Geometry.h"

namespace kline {

class TradeModel {
 public:
  // Prices; an unset one is empty and reads as 0.
  std::string high;
  std::string open;
  std::string close;
  std::string low;
  // "yyyy-MM-dd HH:mm:ss" in the local zone; nil when the record's time did not parse.
  std::optional<std::string> date;
  // Moving averages of close over 5, 10 and 20 rows; nil while fewer rows exist.
  std::optional<std::string> MA5;
  std::optional<std::string> MA10;
  std::optional<std::string> MA20;
  double timestamp = 0;

  std::string description() const;

  // Seconds of a time-offset text "1d2h3m4s" (any part may be missing).
  static std::int64_t getTime(std::string_view offset);
  // timestamp formatted with the pattern (current locale, local zone).
  std::string getDate(const std::string& format) const;
  std::string getTradeDate() const { return getDate("yyyyMMdd"); }
  std::string getDateString() const { return getDate("yyyyMMddHHmmss"); }
  static double getTimeStamp(double date) { return date; }
};

using TradeRow = std::shared_ptr<TradeModel>;
using TradeRows = std::vector<TradeRow>;

// A price text read as a single-precision number (the platform's floatValue: leading blanks, a
// decimal number, anything after it ignored; no number reads 0).
float floatValueOf(std::string_view text);
inline float floatValueOf(const std::string& text) { return floatValueOf(std::string_view(text)); }
inline float floatValueOf(const std::optional<std::string>& text) { return text ? floatValueOf(std::string_view(*text)) : 0.0f; }
// Leading integer of a text (optional sign; no digits reads 0), saturated to 64 bits.
std::int64_t integerValueOf(std::string_view text);
// "%f" of a double (pf::fixedText: the same text, made without printf).
std::string priceText(double value);
// "%f" of units / 10^places computed in double precision.
std::string priceText(std::int64_t units, std::int64_t places);
// "{x, y}".
std::string pointText(pf::Point p);

// Screen geometry of one candle.
struct PointsModel {
  pf::Point open, high, low, close, volume, adjClose, MA5, MA10, MA20;
  TradeRow data;

  std::string description() const;
};

}  // namespace kline
