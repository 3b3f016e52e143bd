#pragma once
// Dates are seconds since 1970-01-01 00:00 UTC as a double (the current date is pf::Clock::now()).
// DateFormatter formats and parses them with an ICU pattern ("yyyy/MM/dd HH:mm:ss:SSS"), a locale
// and a time zone ("GMT", "Asia/Shanghai"; empty for the process's default). The default locale,
// "en_US_POSIX", is the one for machine texts (server times, logs, stored dates): Gregorian
// calendar and ASCII digits whatever the user's locale; texts for the user take
// currentLocaleIdentifier(). Parsing is strict and must consume the whole text. Thread-safe.

#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>

namespace pf {

class DateFormatter {
 public:
  explicit DateFormatter(std::string pattern, std::string locale = "en_US_POSIX", std::string timeZone = {});
  ~DateFormatter();
  DateFormatter(const DateFormatter&) = delete;
  DateFormatter& operator=(const DateFormatter&) = delete;

  // False when ICU refused the pattern, locale or zone (then every answer is empty).
  bool isValid() const;
  const std::string& pattern() const { return pattern_; }

  std::string string(double secondsSince1970) const;
  std::optional<double> date(std::string_view text) const;

 private:
  struct Impl;
  std::string pattern_;
  std::unique_ptr<Impl> impl_;
};

// The identifier of the current locale (ICU's default, which it takes from the environment).
std::string currentLocaleIdentifier();
// Makes another locale the current one ("th_TH", "fa_IR"), as a user who chose it would have:
// tests run the user-facing texts under it. Formatters made before keep theirs. Not to be called
// while other threads format. False for an empty or overlong identifier.
bool setCurrentLocaleIdentifier(const std::string& identifier);
// Sets the process-wide default time zone that formatters without a zone of their own use (ICU
// reads the system's once and keeps it): tests fix one so that local dates are the same on every
// machine. Formatters made before the change keep the zone they were made with.
// False for a zone name ICU does not know.
bool setDefaultTimeZone(const std::string& zoneId);
// Changes whenever setDefaultTimeZone succeeds, so that callers keeping formatters know to
// make new ones.
unsigned defaultTimeZoneGeneration();

}  // namespace pf
