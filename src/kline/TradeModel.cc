#include "kline/TradeModel.h"

#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <limits>

#include "kline/KLineFormatDate.h"
#include "platform/foundation/FixedText.h"

namespace kline {

namespace {
std::string orNull(const std::optional<std::string>& s) { return s ? *s : "(null)"; }
std::string orNull(const std::string& s) { return s; }
}  // namespace

std::string TradeModel::description() const {
  char ts[64];
  std::snprintf(ts, sizeof ts, "%f", timestamp);
  return "trade high = " + orNull(high) + ",open = " + orNull(open) + " , close = " + orNull(close) +
         ",low = " + orNull(low) + ",date = " + orNull(date) + ",timestamp = " + ts + ",MA5 = " + orNull(MA5) +
         ",MA10 = " + orNull(MA10) + ",MA20 = " + orNull(MA20);
}

std::int64_t TradeModel::getTime(std::string_view text) {
  static constexpr struct {
    char unit;
    std::int64_t seconds;
  } kUnits[] = {{'d', 86400}, {'h', 3600}, {'m', 60}, {'s', 1}};
  std::uint64_t sum = 0;  // wraps instead of overflowing on absurd texts
  for (const auto& u : kUnits) {
    std::size_t at = text.find(u.unit);
    if (at == std::string_view::npos) continue;
    sum += static_cast<std::uint64_t>(integerValueOf(text.substr(0, at))) * static_cast<std::uint64_t>(u.seconds);
    text.remove_prefix(at + 1);
  }
  return static_cast<std::int64_t>(sum);
}

std::string TradeModel::getDate(const std::string& format) const {
  return KLineFormatDate::formatLocal(timestamp, format);
}

float floatValueOf(std::string_view text) {
  std::size_t i = 0;
  while (i < text.size() && (text[i] == ' ' || text[i] == '\t' || text[i] == '\n' || text[i] == '\r')) ++i;
  // strtof needs a terminated text; prices are short, longer texts are cut (a number that long
  // is not a price).
  char buffer[64];
  std::size_t n = std::min<std::size_t>(text.size() - i, sizeof buffer - 1);
  text.copy(buffer, n, i);
  buffer[n] = 0;
  char* end = nullptr;
  float v = std::strtof(buffer, &end);
  if (end == buffer || !std::isfinite(v)) return end == buffer ? 0.0f : v;
  return v;
}

std::int64_t integerValueOf(std::string_view text) {
  std::size_t i = 0;
  while (i < text.size() && (text[i] == ' ' || text[i] == '\t' || text[i] == '\n' || text[i] == '\r')) ++i;
  bool negative = false;
  if (i < text.size() && (text[i] == '-' || text[i] == '+')) negative = text[i++] == '-';
  std::uint64_t v = 0;
  constexpr std::uint64_t kMax = static_cast<std::uint64_t>(std::numeric_limits<std::int64_t>::max());
  for (; i < text.size() && text[i] >= '0' && text[i] <= '9'; ++i) {
    const auto digit = static_cast<std::uint64_t>(text[i] - '0');
    if (v > (kMax - digit) / 10)  // checked before the step, which could wrap past 2^64
      return negative ? std::numeric_limits<std::int64_t>::min() : std::numeric_limits<std::int64_t>::max();
    v = v * 10 + digit;
  }
  return negative ? -static_cast<std::int64_t>(v) : static_cast<std::int64_t>(v);
}

std::string priceText(double value) { return pf::fixedText(value); }

std::string priceText(std::int64_t units, std::int64_t places) {
  // Exact powers of ten for the places the charts allow.
  static constexpr double kPow10[] = {1e0, 1e1, 1e2, 1e3, 1e4, 1e5, 1e6, 1e7, 1e8, 1e9, 1e10};
  const double scale = places >= 0 && places <= 10 ? kPow10[places] : std::pow(10.0, static_cast<double>(places));
  return priceText(static_cast<double>(units) / scale);
}

std::string pointText(pf::Point p) {
  char buffer[128];
  std::snprintf(buffer, sizeof buffer, "{%g, %g}", p.x, p.y);
  return buffer;
}

std::string PointsModel::description() const {
  return "point high = " + pointText(high) + ",open = " + pointText(open) + " , close = " + pointText(close) +
         ",low = " + pointText(low) + ",tradeData = " + (data ? data->description() : "(null)");
}

}  // namespace kline
