#include "kline/KLineFormatDate.h"

#include <map>
#include <memory>

#include "platform/foundation/DateFormatter.h"

namespace kline::KLineFormatDate {

namespace {

// Formatters of this thread by pattern, for the zone generation they were made in.
const pf::DateFormatter& formatter(const std::string& pattern) {
  thread_local std::map<std::string, std::unique_ptr<pf::DateFormatter>> cache;
  thread_local unsigned generation = ~0u;
  thread_local std::string locale;
  unsigned now = pf::defaultTimeZoneGeneration();
  std::string current = pf::currentLocaleIdentifier();
  if (now != generation || current != locale) {
    cache.clear();
    generation = now;
    locale = current;
  }
  auto& slot = cache[pattern];
  if (!slot) slot = std::make_unique<pf::DateFormatter>(pattern, locale);
  return *slot;
}

constexpr const char* kCompact = "yyyyMMddHHmmss";
constexpr const char* kLong = "yyyy-MM-dd HH:mm:ss";

}  // namespace

std::optional<double> getDate(std::string_view text) { return formatter(kCompact).date(text); }

std::optional<std::string> changeDate(std::string_view text) {
  std::optional<double> date = getDate(text);
  if (!date) return std::nullopt;
  return formatter(kLong).string(*date);
}

std::string formatLocal(double date, const std::string& pattern) { return formatter(pattern).string(date); }

std::string getDateString(double date) { return formatLocal(date, kCompact); }
std::string getDateMinString(double date) { return formatLocal(date, "yyyy-MM-dd HH:mm"); }
std::string getDateHourString(double date) { return formatLocal(date, "yyyy-MM-dd HH"); }
std::string getDateDayString(double date) { return formatLocal(date, "yyyy-MM-dd"); }
std::string getDateMonString(double date) { return formatLocal(date, "yyyy-MM"); }

}  // namespace kline::KLineFormatDate
