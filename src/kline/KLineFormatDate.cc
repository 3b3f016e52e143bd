#include "kline/KLineFormatDate.h"

#include <unicode/ucal.h>
#include <unicode/unumsys.h>

#include <cmath>
#include <cstdint>
#include <cstring>
#include <map>
#include <memory>

#include "platform/foundation/DateFormatter.h"

namespace kline::KLineFormatDate {

namespace {

// Formatters of this thread by pattern, for the zone generation and locale they were made in.
// Machine formatters (server times) take the POSIX locale, the others the current one.
const pf::DateFormatter& formatter(const std::string& pattern, bool machine = false) {
  thread_local std::map<std::pair<std::string, bool>, std::unique_ptr<pf::DateFormatter>> cache;
  thread_local unsigned generation = ~0u;
  thread_local std::string locale;
  unsigned now = pf::defaultTimeZoneGeneration();
  std::string current = pf::currentLocaleIdentifier();
  if (now != generation || current != locale) {
    cache.clear();
    generation = now;
    locale = current;
  }
  auto& slot = cache[{pattern, machine}];
  if (!slot) slot = machine ? std::make_unique<pf::DateFormatter>(pattern) : std::make_unique<pf::DateFormatter>(pattern, locale);
  return *slot;
}

constexpr const char* kCompact = "yyyyMMddHHmmss";
constexpr const char* kLong = "yyyy-MM-dd HH:mm:ss";

// "yyyy-MM-dd HH:mm:ss" without a formatter, for locales that write such dates with Latin
// digits in the Gregorian calendar. The zone's offset is asked for the span between the zone's
// transitions around an instant and kept for every instant in it; the "yyyy-MM-dd " of a local
// day is written once for all its instants; the time of day comes from arithmetic.
class FastLongDates {
 public:
  std::optional<std::string> format(double date) {
    refresh();
    if (!usable_ || !std::isfinite(date) || date < kFirst || date > kLast) return std::nullopt;
    if (!(date >= spanFrom_ && date < spanUntil_) && !findSpan(date)) return std::nullopt;
    const auto local = static_cast<std::int64_t>(std::floor(date + offset_));
    const std::int64_t days = local >= 0 ? local / 86400 : (local - 86399) / 86400;
    const std::int64_t seconds = local - days * 86400;
    if (days != day_) writeDay(days);
    char text[19];
    std::memcpy(text, dayText_, 11);
    put(text + 11, seconds / 3600, 2);
    text[13] = ':';
    put(text + 14, seconds / 60 % 60, 2);
    text[16] = ':';
    put(text + 17, seconds % 60, 2);
    return std::string(text, 19);
  }

  ~FastLongDates() {
    if (calendar_) ucal_close(calendar_);
  }

 private:
  // 1600-01-01 to 9999-12-31: four-digit years, past the Julian calendar.
  static constexpr double kFirst = -11676096000.0;
  static constexpr double kLast = 253402214400.0;

  static void put(char* at, std::int64_t value, int width) {
    for (int i = width - 1; i >= 0; --i, value /= 10) at[i] = static_cast<char>('0' + value % 10);
  }

  // "yyyy-MM-dd " of a day count (days since 1970-01-01).
  void writeDay(std::int64_t days) {
    std::int64_t z = days + 719468;
    std::int64_t era = (z >= 0 ? z : z - 146096) / 146097;
    std::int64_t doe = z - era * 146097;
    std::int64_t yoe = (doe - doe / 1460 + doe / 36524 - doe / 146096) / 365;
    std::int64_t doy = doe - (365 * yoe + yoe / 4 - yoe / 100);
    std::int64_t mp = (5 * doy + 2) / 153;
    std::int64_t day = doy - (153 * mp + 2) / 5 + 1;
    std::int64_t month = mp < 10 ? mp + 3 : mp - 9;
    std::int64_t year = yoe + era * 400 + (month <= 2);
    put(dayText_, year, 4);
    dayText_[4] = '-';
    put(dayText_ + 5, month, 2);
    dayText_[7] = '-';
    put(dayText_ + 8, day, 2);
    dayText_[10] = ' ';
    day_ = days;
  }

  void refresh() {
    unsigned generation = pf::defaultTimeZoneGeneration();
    std::string locale = pf::currentLocaleIdentifier();
    if (generation == generation_ && locale == locale_ && calendar_) return;
    generation_ = generation;
    locale_ = locale;
    forget();
    if (calendar_) ucal_close(calendar_);
    UErrorCode status = U_ZERO_ERROR;
    calendar_ = ucal_open(nullptr, 0, locale.c_str(), UCAL_DEFAULT, &status);
    usable_ = false;
    if (U_FAILURE(status) || !calendar_) return;
    const char* type = ucal_getType(calendar_, &status);
    UNumberingSystem* numbers = unumsys_open(locale.c_str(), &status);
    usable_ = U_SUCCESS(status) && type && std::strcmp(type, "gregorian") == 0 && numbers &&
              std::strcmp(unumsys_getName(numbers), "latn") == 0;
    if (numbers) unumsys_close(numbers);
  }

  void forget() {
    spanFrom_ = spanUntil_ = NAN;
    day_ = INT64_MIN;
  }

  // The offset at `date` and the span of instants around it that share it (from the zone's
  // transition at or before it to the next one).
  bool findSpan(double date) {
    forget();
    UErrorCode status = U_ZERO_ERROR;
    ucal_setMillis(calendar_, date * 1000.0, &status);
    const int32_t zone = ucal_get(calendar_, UCAL_ZONE_OFFSET, &status);
    const int32_t dst = ucal_get(calendar_, UCAL_DST_OFFSET, &status);
    UDate previous = 0, next = 0;
    const bool hasPrevious =
        ucal_getTimeZoneTransitionDate(calendar_, UCAL_TZ_TRANSITION_PREVIOUS_INCLUSIVE, &previous, &status);
    const bool hasNext = ucal_getTimeZoneTransitionDate(calendar_, UCAL_TZ_TRANSITION_NEXT, &next, &status);
    if (U_FAILURE(status)) return false;
    offset_ = (zone + dst) / 1000.0;
    spanFrom_ = hasPrevious ? previous / 1000.0 : -INFINITY;
    spanUntil_ = hasNext ? next / 1000.0 : INFINITY;
    // A span that does not hold the instant (a zone without transition data): this instant only.
    if (!(date >= spanFrom_ && date < spanUntil_)) {
      spanFrom_ = date;
      spanUntil_ = std::nextafter(date, INFINITY);
    }
    return true;
  }

  UCalendar* calendar_ = nullptr;
  unsigned generation_ = ~0u;
  std::string locale_;
  bool usable_ = false;
  double spanFrom_ = NAN, spanUntil_ = NAN;
  double offset_ = 0;
  std::int64_t day_ = INT64_MIN;
  char dayText_[11] = {};
};

}  // namespace

std::optional<double> getDate(std::string_view text) { return formatter(kCompact, true).date(text); }

std::optional<std::string> changeDate(std::string_view text) {
  std::optional<double> date = getDate(text);
  if (!date) return std::nullopt;
  return formatLocal(*date, kLong);
}

std::string formatLocal(double date, const std::string& pattern) {
  if (pattern == kLong) {
    thread_local FastLongDates fast;
    if (std::optional<std::string> text = fast.format(date)) return *text;
  }
  return formatter(pattern).string(date);
}

std::string getDateString(double date) { return formatLocal(date, kCompact); }
std::string getDateMinString(double date) { return formatLocal(date, "yyyy-MM-dd HH:mm"); }
std::string getDateHourString(double date) { return formatLocal(date, "yyyy-MM-dd HH"); }
std::string getDateDayString(double date) { return formatLocal(date, "yyyy-MM-dd"); }
std::string getDateMonString(double date) { return formatLocal(date, "yyyy-MM"); }

}  // namespace kline::KLineFormatDate
