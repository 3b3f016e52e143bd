#include "container/Rfc1123Date.h"

#include <locale.h>
#include <time.h>

#include <cctype>
#include <cerrno>
#include <cmath>
#include <cstring>

namespace container::RFC1123 {
namespace {

locale_t cLocale() {
  static const locale_t locale = newlocale(LC_ALL_MASK, "C", static_cast<locale_t>(nullptr));
  return locale;
}

// After a zone-bearing form: the zone must be GMT or UTC.
bool gmtZone(const char* rest) {
  while (*rest == ' ' || *rest == '\t') ++rest;
  if (std::strncmp(rest, "GMT", 3) != 0 && std::strncmp(rest, "UTC", 3) != 0) return false;
  return !std::isalpha(static_cast<unsigned char>(rest[3]));
}

std::optional<double> parse(const char* text, const char* format, bool zoned) {
  struct tm fields {};
  const char* rest = strptime_l(text, format, &fields, cLocale());
  if (!rest || (zoned && !gmtZone(rest))) return std::nullopt;
  fields.tm_isdst = 0;
  errno = 0;
  time_t seconds = timegm(&fields);
  if (seconds == static_cast<time_t>(-1) && errno == EOVERFLOW) return std::nullopt;
  return static_cast<double>(seconds);
}

}  // namespace

std::optional<double> dateFromRFC1123(const std::optional<std::string_view>& text) {
  if (!text) return std::nullopt;
  // The parser reads a C string: the text ends at its first NUL.
  std::string copy(*text);
  if (auto date = parse(copy.c_str(), "%a, %d %b %Y %H:%M:%S", true)) return date;
  if (auto date = parse(copy.c_str(), "%A, %d-%b-%y %H:%M:%S", true)) return date;
  return parse(copy.c_str(), "%a %b %e %H:%M:%S %Y", false);
}

std::optional<std::string> rfc1123String(double secondsSince1970) {
  if (!std::isfinite(secondsSince1970)) return std::nullopt;
  const double whole = std::floor(secondsSince1970);
  if (std::fabs(whole) > 1e15) return std::nullopt;  // far outside any year strftime writes in 32 bytes
  const time_t seconds = static_cast<time_t>(whole);
  struct tm fields {};
  if (!gmtime_r(&seconds, &fields)) return std::nullopt;
  char buffer[32];
  std::size_t length = strftime_l(buffer, sizeof buffer, "%a, %d %b %Y %H:%M:%S GMT", &fields, cLocale());
  if (length == 0) return std::nullopt;
  return std::string(buffer, length);
}

}  // namespace container::RFC1123
