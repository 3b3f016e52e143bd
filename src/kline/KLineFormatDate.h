#pragma once
// Date texts of the charts, in the local time zone. The text operations use the current
// locale's identifier; parsing uses a formatter with default settings (which also means the
// current locale). Formatters are kept per thread and pattern; they are made again when the
// default time zone changes.

#include <optional>
#include <string>
#include <string_view>

namespace kline::KLineFormatDate {

// "yyyyMMddHHmmss" -> "yyyy-MM-dd HH:mm:ss"; nil when the text does not parse.
std::optional<std::string> changeDate(std::string_view text);
// "yyyyMMddHHmmss" -> seconds since 1970; nil when the text does not parse.
std::optional<double> getDate(std::string_view text);

std::string getDateString(double date);      // "yyyyMMddHHmmss"
std::string getDateMinString(double date);   // "yyyy-MM-dd HH:mm"
std::string getDateHourString(double date);  // "yyyy-MM-dd HH"
std::string getDateDayString(double date);   // "yyyy-MM-dd"
std::string getDateMonString(double date);   // "yyyy-MM"

// Any pattern, current locale, local zone.
std::string formatLocal(double date, const std::string& pattern);

}  // namespace kline::KLineFormatDate
