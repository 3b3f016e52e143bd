#pragma once
// Date texts of the charts, in the local time zone. The text operations use the current
// locale's identifier; server times ("yyyyMMddHHmmss") are read as machine texts (Gregorian,
// ASCII digits) whatever the user's calendar. Formatters are kept per thread and pattern; they
// are made again when the default time zone or the locale changes.

#include <optional>
#include <string>
#include <string_view>

namespace kline::KLineFormatDate {

// Server time "yyyyMMddHHmmss" -> "yyyy-MM-dd HH:mm:ss" in the current locale; nil when the
// text does not parse.
std::optional<std::string> changeDate(std::string_view text);
// Server time "yyyyMMddHHmmss" -> seconds since 1970; nil when the text does not parse.
std::optional<double> getDate(std::string_view text);

std::string getDateString(double date);      // "yyyyMMddHHmmss"
std::string getDateMinString(double date);   // "yyyy-MM-dd HH:mm"
std::string getDateHourString(double date);  // "yyyy-MM-dd HH"
std::string getDateDayString(double date);   // "yyyy-MM-dd"
std::string getDateMonString(double date);   // "yyyy-MM"

// Any pattern, current locale, local zone.
std::string formatLocal(double date, const std::string& pattern);

}  // namespace kline::KLineFormatDate
